// The compact code form of a script function: its instructions with every variable
// resolved to a slot of the call's frame, run by the slot runner (slot_runner.h).
//
// Handlers and loops in script functions spend most of their time on int32 numbers held
// in parameters and locals. A function whose parameters the call binds itself and which
// cannot see "$1".."$n" (see callPlan in engine.cpp) gets this form the first time it is
// called: one SlotOp per instruction, at the same offset from the function's first
// instruction, so that a step is still one instruction of the listing and an address in
// the function is still its offset. Names become slot numbers (parameters first, in BIND
// order); int32 constants are read once; jumps become offsets.
//
// A variable pushed only for a call by name, with nothing before the call that changes the
// variable or jumps, may lend its own value to a built-in instead of pushing a copy; so
// may a text or real constant, a text constant that is only read as the right operand of
// (in)equality or concatenation, and a variable compared with such a constant.
//
// Common pairs (an assignment's SET and POP, an operand pushed for the operator after it,
// a comparison and its jump) are also one op, which runs both instructions and counts two
// steps; the second instruction keeps its own op, for jumps to it. So are the longer runs
// of a loop's round: a test of a variable against another or a constant, an assignment of
// such an operation, an element store, a test of an element. A run falls back to its first
// instruction alone when fewer steps are left in the slice than it has instructions.
//
// Only what the runner does exactly as the instruction loop does is translated: pushes
// of variables and constants, assignments, POP, INC/DEC, the operators ComputeInt32
// computes, comparisons for (in)equality and CONCAT, jumps, calls of script functions by
// address, calls by name of built-in and host functions, returns,
// local arrays, their int32 elements and foreach loops over them. Every other instruction
// becomes kLeave: the runner hands the call over to the instruction loop there, and so
// does any operand an op does not take.
#ifndef ORVA_VM_SLOT_CODE_H
#define ORVA_VM_SLOT_CODE_H

#include <cstdint>
#include <vector>

#include <orva.h>

struct SlotFunction;

struct SlotOp
{
   enum Kind : uint8_t
   {
      kLeave,     // anything the runner leaves to the instruction loop
      kNop,
      kPushInt,   // PUSH_CONST of an int32 that keeps no text of its own: number
      kPushNull,  // PUSH_CONST of null
      kPushVar,   // PUSH_VAR: slot
      kPushVarLent, // PUSH_VAR whose value only a call by name takes, the variable unchanged
                    // until then, or the left operand of (in)equality with a text
                    // constant: slot
      kPushValueLent, // PUSH_CONST of a text or real that only a call by name takes, or of a
                      // text that only (in)equality or CONCAT reads as its right operand:
                      // constant
      kSet,       // SET: slot
      kPop,       // POP: number of values
      kOperate,   // an operator ComputeInt32 computes, or CONCAT: opcode
      kStep,      // INC, DEC, INCP, DECP: opcode, slot
      kJump,      // JMP: target offset
      kJumpZero,  // JZ: target offset
      kJumpNonZero, // JNZ: target offset
      kCall,      // CALL_ADDR: address, number (argument count)
      kPushValue, // PUSH_CONST of any other constant (a text, a real): constant
      kCallName,  // CALL_NAME: number (argument count), instruction
      kReturn,    // RET
      kReturnNull, // NRET
      kArray,     // ARRAY: slot
      kElementGet, // EGET
      kElementSet, // ESET
      // Two instructions in one op, where a call may run both within its step budget;
      // `base` is the first one's own kind, which runs alone otherwise.
      kSetPop,         // SET, POP 1: slot
      kStepPop,        // INC/DEC/INCP/DECP, POP 1: opcode, slot
      kOperateVar,     // PUSH_VAR, operator: slot, opcode
      kOperateInt,     // PUSH_CONST of an int32, operator: number, opcode
      kCompareJump,    // comparison, JZ or JNZ: opcode, target; `jumpIfZero`
      kPushVarVar,     // PUSH_VAR, PUSH_VAR: slot, number = the second slot
      kElementSetPop,  // ESET, POP 1
      // Longer runs from a PUSH_VAR (base kPushVar) that loops make on every round: an
      // operand is a variable (`other`: its slot) or an int32 constant (`number`).
      kVarCompareJump,        // PUSH_VAR, PUSH_VAR, comparison, JZ or JNZ: slot, other, opcode, target
      kVarIntCompareJump,     // PUSH_VAR, PUSH_CONST, comparison, JZ or JNZ: slot, number, opcode, target
      kVarOperateSet,         // PUSH_VAR, PUSH_VAR, operator, SET, POP 1: slot, other, opcode, target = SET's slot
      kVarIntOperateSet,      // PUSH_VAR, PUSH_CONST, operator, SET, POP 1: slot, number, opcode, target = SET's slot
      kStoreInt,              // PUSH_VAR array, PUSH_VAR index, PUSH_CONST, ESET, POP 1: slot, other, number
      kStoreVar,              // PUSH_VAR array, PUSH_VAR index, PUSH_VAR, ESET, POP 1: slot, other, target = the value's slot
      kElementCompareJump,    // PUSH_VAR array, PUSH_VAR index, EGET, PUSH_CONST, comparison, JZ or JNZ:
                              // slot, other, number, opcode, target
      kConcatSetPop,          // CONCAT, SET, POP 1 (base kOperate): slot
      // A foreach loop's start, PUSH_CONST of the variable's name, PUSH_VAR of the array
      // and FOREACH (base kLeave): slot of the variable, number = slot of the array.
      kForeach,
      kNext,           // NEXT of that loop: slot of the variable
      kKindCount
   };
   Kind kind;
   Kind base;
   bool jumpIfZero;
   uint8_t opcode;
   uint16_t slot;
   uint16_t other;
   int32_t number;
   uint32_t target;
   union
   {
      // kCall: the callee's compact code, once a call found it.
      SlotFunction *callee;
      // kPushValue, kPushValueLent: the constant.
      const ORVA_Value *constant;
      // kCallName: the instruction, for finding what the name calls.
      const ORVA_Instruction *instruction;
   };
};

struct SlotFunction
{
   // The address of the function's first instruction (its first BIND).
   uint32_t start = 0;
   // The parameters: the BINDs a call binds itself, slots 0..binds-1.
   uint32_t binds = 0;
   // Whether the function may see "$1".."$n" (a call then keeps its arguments for them,
   // should the instruction loop take the call over).
   bool keepsArguments = false;
   uint32_t slotCount = 0;
   // Most values the function's own code may have on the data stack at once.
   uint32_t stackBound = 0;
   // What a frame of the function takes on the runner's stack: slots and values.
   uint32_t frameSize = 0;
   // One per instruction from `start` up to the NRET that ends the function.
   std::vector<SlotOp> ops;
   // Slot names: the instructions' own name operands.
   std::vector<const wchar_t *> names;
   // The run that last found no constant or global of any of the names, and the sizes of
   // the constant and global sets then (a variable made in either would be found first).
   uint64_t freeInRun = 0;
   uint32_t freeConstants = 0;
   uint32_t freeGlobals = 0;
   // Calls that ran here, and calls handed over to the instruction loop within their
   // first few steps; a function whose calls mostly do that is not worth entering
   // (`tired`).
   uint32_t entered = 0;
   uint32_t leftEarly = 0;
   bool tired = false;
};

// Translates the function whose first instruction is at `start` and whose call binds
// `binds` parameters (callPlan; `function->keepsArguments` says whether it may see
// "$1".."$n"): false when the form would not be exact (a jump out of the
// function, no end within `codeSize`, too many names) or would leave at once.
bool CompileSlotFunction(ORVA_Instruction *const *code, uint32_t codeSize, uint32_t start, uint32_t binds,
                         SlotFunction *function);

#endif
