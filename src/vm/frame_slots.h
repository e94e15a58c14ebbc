// Frame slots: where a script function finds its parameters in any call of it.
//
// The engine lays a call's local set out for the function it enters (ORVA_Engine::
// enterFunction): the same names at the same positions in every set laid out for that
// function and argument count, none of them twice. So a name an instruction of the
// function found at position p of such a set is at position p of every set laid out alike,
// and it is still the first variable of that name there. What may change meanwhile is
// outside the set: a constant or global variable of that name would be found first, so
// the slot is trusted only while the constant and global sets have the sizes they had
// when the name was found (they only grow), within the same run.
//
// This is what lets a recursive function, whose frames each have a set of their own, reach
// its parameters without a search: the lookup epoch (engine.cpp, "The lookup cache") names
// one set, while a slot names a position in every set of one layout.
#ifndef ORVA_VM_FRAME_SLOTS_H
#define ORVA_VM_FRAME_SLOTS_H

#include <cstdint>

#include <orva.h>

#include "vm/instruction_cache.h"

class ORVA_FrameSlots
{
public:
   // The variable the instruction's slot gives in the current local set, or null when the
   // instruction has no slot or the set is not laid out as the one it was found in.
   __attribute__((always_inline)) static ORVA_Variable *find(const ORVA_Program *program,
                                                             const ORVA_Instruction *instruction)
   {
      const ORVA_VariableSystem *locals = program->m_locals;
      const ORVA_InstructionCache &cache = ORVA_InstructionCache::of(program, instruction);
      const uint32_t slot = cache.index;
      if (cache.layout != locals->m_layout || slot >= locals->m_layoutCount || slot >= locals->m_count ||
          cache.layoutArgc != locals->m_layoutArgc || cache.run != program->m_runNumber ||
          cache.constants != program->m_constants->m_count ||
          cache.globals != program->m_globals->m_count)
         return nullptr;
      return locals->m_variables[slot];
   }

   // Notes where a local variable was found (at `position` of the current local set, the
   // constant and global sets searched before it): a slot when the position lies within
   // the set's layout.
   static void note(const ORVA_Program *program, const ORVA_Instruction *instruction, uint32_t position)
   {
      const ORVA_VariableSystem *locals = program->m_locals;
      const bool inLayout = locals->m_layout != nullptr && position < locals->m_layoutCount;
      ORVA_InstructionCache &cache = ORVA_InstructionCache::of(program, instruction);
      cache.layout = inLayout ? locals->m_layout : nullptr;
      cache.layoutArgc = locals->m_layoutArgc;
   }

   // Forgets the slot of an instruction whose name was found elsewhere.
   static void forget(const ORVA_Program *program, const ORVA_Instruction *instruction)
   {
      ORVA_InstructionCache::of(program, instruction).layout = nullptr;
   }

   // Records that positions 0..count-1 of the set make up the layout of a call of the
   // function whose parameter instructions start at `parameters`, with `argc` arguments.
   static void layOut(ORVA_VariableSystem *locals, const void *parameters, int32_t argc, uint32_t count)
   {
      locals->m_layout = parameters;
      locals->m_layoutArgc = argc;
      locals->m_layoutCount = count;
   }
};

#endif
