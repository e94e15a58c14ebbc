// What runs of a program keep about each of its instructions: where the variable of a
// name operand was found (the lookup cache, engine.cpp), the function layout that position
// belongs to (frame_slots.h), a call's plan, the statement decoded at the instruction
// (decoded_statement.h), and in a program that shares its code, the constant of a CASE.
//
// None of it is in the instruction record: the code a compilation produced is only read
// by runs, so several programs can share it, and a program that only compiles (orva
// --check) pays nothing for it. The program keeps one entry per address, made zeroed by the
// first run (zero means "found nothing yet" for every field) and grown whenever the code
// grows, for instance by the modules a run links.
#ifndef ORVA_VM_INSTRUCTION_CACHE_H
#define ORVA_VM_INSTRUCTION_CACHE_H

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include <orva.h>

struct ORVA_InstructionCache
{
   // The run the position below was found in (0: none).
   uint64_t run;
   // The local set's serial when a local was found there (see ORVA_VariableSystem::atSerial).
   uint64_t serial;
   // The variable found last, trusted while the program's lookup epoch is still this one
   // (0: never).
   uint64_t epoch;
   ORVA_Variable *variable;
   // The program's carry stamp when the position below was found in the local set, in
   // the program's own code (0: none); see ORVA_Engine::lookup.
   uint64_t carry;
   // The function layout of the local set the variable was found in, when its position
   // lies within that layout; null otherwise.
   const void *layout;
   // What the current run decoded here; null outside runs and until the instruction runs
   // for the second time in a run.
   const void *decoded;
   // The last run the instruction ran in as the start of a statement (see
   // ORVA_Engine::tryStatement; 0: none).
   uint64_t seenInRun;
   // A CASE compares by converting its constant to the switch value's type, and the
   // constant keeps that type for the runs that follow. Code shared with clones is not
   // written, so each program that shares it converts a copy of its own, made here.
   ORVA_Value *constant;
   // The sizes of the constant and global sets when the position was found (a variable of
   // the name made in one of them later would be found first).
   uint32_t constants;
   uint32_t globals;
   uint32_t index;
   int32_t layoutArgc;
   // Which set the position is in (the engine's kCached... codes; 0: none).
   uint8_t set;

   static ORVA_InstructionCache &of(const ORVA_Program *program, const ORVA_Instruction *instruction)
   {
      return program->m_instructionCaches[instruction->m_address];
   }

   // Gives every instruction of the program an entry; throws std::bad_alloc.
   static void cover(ORVA_Program *program)
   {
      const uint32_t count = program->m_codeSize;
      if (count <= program->m_instructionCacheCount)
         return;
      void *grown = realloc(program->m_instructionCaches, static_cast<size_t>(count) * sizeof(ORVA_InstructionCache));
      if (grown == nullptr)
         throw std::bad_alloc();
      program->m_instructionCaches = static_cast<ORVA_InstructionCache *>(grown);
      memset(static_cast<void *>(program->m_instructionCaches + program->m_instructionCacheCount), 0,
             static_cast<size_t>(count - program->m_instructionCacheCount) * sizeof(ORVA_InstructionCache));
      program->m_instructionCacheCount = count;
   }

   // The constant the CASE at `address` compares with in this program.
   static ORVA_Value *caseConstant(ORVA_Program *program, uint32_t address)
   {
      ORVA_Value *constant = program->m_instructions[address]->m_operand.constant;
      if (program->m_sharedCode == nullptr || constant == nullptr)
         return constant;
      ORVA_InstructionCache &cache = program->m_instructionCaches[address];
      if (cache.constant == nullptr)
         cache.constant = new ORVA_Value(constant);
      return cache.constant;
   }

   // Deletes the CASE copies from `start` on (a run's modules, whose code goes at its end;
   // everything, when the program goes).
   static void releaseConstants(ORVA_Program *program, uint32_t start) noexcept
   {
      for (uint32_t i = start; i < program->m_instructionCacheCount; i++)
      {
         delete program->m_instructionCaches[i].constant;
         program->m_instructionCaches[i].constant = nullptr;
      }
   }

   // Tells each instruction from `start` on where it stands.
   static void placeFrom(ORVA_Program *program, uint32_t start)
   {
      for (uint32_t i = start; i < program->m_codeSize; i++)
         program->m_instructions[i]->m_address = i;
   }
};

#endif
