// Instruction memory for large compilations (see the memory notes in instruction.cpp).
#ifndef ORVA_VM_INSTRUCTION_MEMORY_H
#define ORVA_VM_INSTRUCTION_MEMORY_H

// While an enabled ORVA_InstructionBulk lives, the instructions its thread makes come from
// blocks of 2 MB backed by transparent huge pages where the system offers them: a large
// script makes tens of megabytes of instructions, and one page fault per 2 MB instead of
// per 4 KB takes a good part of its compile time away. When it ends, the thread's current
// block is retired, so that instructions made later keep no large block alive.
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
};

#endif
