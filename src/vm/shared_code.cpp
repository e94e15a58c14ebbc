// ORVA_SharedCode and the program's side of sharing: clone() and the private arrays a
// program sharing its code links modules into.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "vm/function_index.h"
#include "vm/instruction_cache.h"
#include "vm/shared_code.h"

ORVA_SharedCode *ORVA_SharedCode::takeFrom(ORVA_Program *program)
{
   auto *code = new ORVA_SharedCode();
   code->m_instructions = program->m_instructions;
   code->m_codeSize = program->m_codeSize;
   code->m_functions = program->m_functions;
   code->m_functionCount = program->m_functionCount;
   code->m_functionIndex = program->m_functionIndex;
   code->m_preloadList = program->m_preloadList;
   code->m_preloadCount = program->m_preloadCount;
   // Room the arrays had to spare is no longer the program's to append to.
   program->m_codeAllocated = program->m_codeSize;
   program->m_functionsAllocated = program->m_functionCount;
   program->m_sharedCode = code;
   return code;
}

void ORVA_SharedCode::lend(ORVA_Program *program)
{
   m_holders.fetch_add(1, std::memory_order_relaxed);
   program->m_instructions = m_instructions;
   program->m_codeSize = m_codeSize;
   program->m_codeAllocated = m_codeSize;
   program->m_functions = m_functions;
   program->m_functionCount = m_functionCount;
   program->m_functionsAllocated = m_functionCount;
   program->m_functionIndex = m_functionIndex;
   program->m_preloadList = m_preloadList;
   program->m_preloadCount = m_preloadCount;
   program->m_sharedCode = this;
}

void ORVA_SharedCode::release() noexcept
{
   if (m_holders.fetch_sub(1, std::memory_order_acq_rel) == 1)
      delete this;
}

ORVA_SharedCode::~ORVA_SharedCode()
{
   for (uint32_t i = 0; i < m_codeSize; i++)
      delete m_instructions[i];
   free(m_instructions);
   free(m_functions);
   delete m_functionIndex;
   for (uint32_t i = 0; i < m_preloadCount; i++)
      free(m_preloadList[i]);
   free(m_preloadList);
}

ORVA_Program *ORVA_Program::clone()
{
   if (m_runState != nullptr)
      return nullptr;
   try
   {
      std::unique_ptr<ORVA_Program> copy(new ORVA_Program());
      std::unique_ptr<ORVA_VariableSystem> constants(new ORVA_VariableSystem(m_constants));
      std::unique_ptr<ORVA_VariableSystem> globals(new ORVA_VariableSystem(m_globals));
      delete copy->m_constants;
      copy->m_constants = constants.release();
      delete copy->m_globals;
      copy->m_globals = globals.release();
      copy->m_limits = m_limits;
      copy->m_keepGlobals = m_keepGlobals;
      if (m_sharedCode == nullptr)
         ORVA_SharedCode::takeFrom(this);
      m_sharedCode->lend(copy.get());
      return copy.release();
   }
   catch (const std::bad_alloc &)
   {
      return nullptr;
   }
}

// Before a run links modules into a program that shares its code: arrays of the
// program's own that start with the shared code and functions, so that what is appended
// goes there. Made once; later runs append to them again. False when memory runs out.
bool ORVA_Program::ownCodeArrays()
{
   if (m_sharedCode == nullptr)
      return true;
   if (m_instructions == m_sharedCode->instructions())
   {
      auto *own = static_cast<ORVA_Instruction **>(malloc((static_cast<size_t>(m_codeSize) + 1) * sizeof(ORVA_Instruction *)));
      if (own == nullptr)
         return false;
      memcpy(own, m_instructions, static_cast<size_t>(m_codeSize) * sizeof(ORVA_Instruction *));
      m_instructions = own;
      m_codeAllocated = m_codeSize + 1;
   }
   if (m_functions == m_sharedCode->functions())
   {
      auto *own = static_cast<ORVA_FunctionEntry *>(malloc((static_cast<size_t>(m_functionCount) + 1) * sizeof(ORVA_FunctionEntry)));
      if (own == nullptr)
         return false;
      if (m_functionCount != 0)
         memcpy(own, m_functions, static_cast<size_t>(m_functionCount) * sizeof(ORVA_FunctionEntry));
      m_functions = own;
      m_functionsAllocated = m_functionCount + 1;
   }
   return true;
}

// A program that shares its code lets go of it: its own arrays, then its share.
void ORVA_Program::releaseSharedCode() noexcept
{
   if (m_instructions != m_sharedCode->instructions())
      free(m_instructions);
   if (m_functions != m_sharedCode->functions())
      free(m_functions);
   m_instructions = nullptr;
   m_functions = nullptr;
   m_functionIndex = nullptr;
   m_preloadList = nullptr;
   m_codeSize = 0;
   m_functionCount = 0;
   m_preloadCount = 0;
   m_sharedCode->release();
   m_sharedCode = nullptr;
}
