// Memory for large compilations: the instructions (see the memory notes in
// instruction.cpp) and the other large buffers a compilation fills.
#ifndef ORVA_VM_INSTRUCTION_MEMORY_H
#define ORVA_VM_INSTRUCTION_MEMORY_H

#include <cstddef>
#include <new>
#include <utility>

#include <orva.h>

// While an enabled ORVA_InstructionBulk lives, the instructions its thread makes come from
// blocks of 2 MB: a large script makes tens of megabytes of instructions, which then take
// one mapping per 2 MB instead of an allocation per 16 KB. When it ends, the thread's current
// block is retired, so that instructions made later keep no large block alive. Meanwhile
// the instructions that name the same variable or function share one copy of the name.
class ORVA_SharedNames;

class ORVA_InstructionBulk
{
public:
   explicit ORVA_InstructionBulk(bool enable);
   ~ORVA_InstructionBulk();

   ORVA_InstructionBulk(const ORVA_InstructionBulk &) = delete;
   ORVA_InstructionBulk &operator=(const ORVA_InstructionBulk &) = delete;

private:
   bool m_enabled;
   bool m_previous;
   ORVA_SharedNames *m_names;
   ORVA_SharedNames *m_previousNames;
};

// A constant the compiler makes lives in the piece of its instruction, right behind the
// record: a script holds hundreds of thousands of them, and one carving serves both, with
// nothing of the constant's own to allocate or free. newCompiledConstant makes the
// constant in a new piece; instructionWithCompiledConstant then makes the instruction in
// front of it, which owns both from then on (deleting it ends the constant in place). A
// constant whose instruction is never made goes with discardCompiledConstant.
void *carveCompiledConstantRoom();
void releaseCompiledConstantRoom(void *room);
ORVA_Value *compiledConstantIn(void *room);

template <typename... Arguments>
ORVA_Value *newCompiledConstant(Arguments &&...arguments)
{
   void *room = carveCompiledConstantRoom();
   try
   {
      return ::new (compiledConstantIn(room)) ORVA_Value(std::forward<Arguments>(arguments)...);
   }
   catch (...)
   {
      releaseCompiledConstantRoom(room);
      throw;
   }
}

ORVA_Instruction *instructionWithCompiledConstant(int line, int opcode, ORVA_Value *constant);
void discardCompiledConstant(ORVA_Value *constant);

// An instruction whose name operand reads as the UTF-8 `name` (null: none), which stays the
// caller's: the compiler's names are kept once per compilation, where the public
// constructors take over a malloc'ed name of their own each. The name must stay unchanged
// at its address until the current bulk compilation ends: there its address alone finds
// the instructions' shared copy.
ORVA_Instruction *newNamedInstruction(int line, int opcode, const char *name, int intOperand);

#endif
