// The slot runner: runs calls of script functions in their compact code form
// (slot_code.h), beside the instruction loop.
//
// A call the instruction loop makes to a function of the program's own code, and a run's
// entry function, run here: parameters and locals are slots of a frame on the runner's
// own stack, int32 values are held as bare numbers and other values (texts, reals) as
// values of their own, found without a lookup, and the calls such a function makes to
// others of its kind stay here too, as do its calls of built-in and host functions. The
// runner keeps the loop's count of steps exactly (one per instruction, the parameters a
// call binds itself included) and its checkpoints.
//
// It leaves, handing the call over to the instruction loop, at the first instruction it
// does not translate or whose operands it does not hold (see slot_code.h). Leaving
// rebuilds what the loop would have at that point: for every frame of the runner, from
// the outermost, a local set with the variables in the order the calls made them and
// the caller's place on the control stack, then the frame's values on the data stack.
// The loop goes on from the instruction the runner left at, which has not run yet. A
// checkpoint that stops the run does the same before raising its error, so the error's
// line and call stack are the loop's; so does a host or built-in function that fails,
// throws or asks to stop the run.
//
// What a function's names mean cannot change while the runner runs: they are checked
// against the constant and global sets before a call enters (a constant or global of the
// name would be found first), and only instructions the runner leaves at can make
// globals.
#ifndef ORVA_VM_SLOT_RUNNER_H
#define ORVA_VM_SLOT_RUNNER_H

#include <cstdint>

#include <orva.h>

enum class SlotCall
{
   kNotTaken,  // the instruction loop makes the call itself
   kDone,      // continue at *next: after the call, or where the runner left
   kFailed     // an error was raised
};

// Runs the call the instruction at the current position makes to the function at
// `address` of the program's own code (`ownCodeSize` instructions) with `argc` arguments
// on the data stack, whose first `binds` instructions are parameters the call binds
// itself, when the runner can; *countdown is the instruction loop's, the call itself
// already counted.
SlotCall RunSlotCall(ORVA_Program *program, uint32_t address, uint32_t ownCodeSize, int argc, uint32_t binds,
                     uint32_t *countdown, uint32_t *next);

// RunSlotCall for the entry function a run starts with (its own local set empty), its
// arguments on the data stack: the run's first checkpoint falls on the function's first
// instruction after its parameters. A return of the function is left to the instruction
// loop, at *next, which ends the run; the function's variables are not made unless the
// runner hands over before.
SlotCall RunSlotEntry(ORVA_Program *program, uint32_t address, uint32_t ownCodeSize, int argc, uint32_t binds,
                      uint32_t *countdown, uint32_t *next);

#endif
