// ORVA_RunCache: the sets a finished run leaves for the next one (see run_cache.h).
#include "vm/run_cache.h"

#include <cstdint>
#include <cwchar>


ORVA_RunCache::~ORVA_RunCache()
{
   delete m_locals;
   delete m_globals;
}

ORVA_VariableSystem *ORVA_RunCache::takeLocals()
{
   ORVA_VariableSystem *set = m_locals;
   m_locals = nullptr;
   return (set != nullptr) ? set : new ORVA_VariableSystem(false);
}

// Only a set like the one the copy constructor makes of an empty set is handed out.
ORVA_VariableSystem *ORVA_RunCache::takeGlobals(ORVA_VariableSystem *globals)
{
   if (globals->getCount() > 0 || m_globals == nullptr || m_globals->isConstant() != globals->isConstant())
      return new ORVA_VariableSystem(globals);
   ORVA_VariableSystem *set = m_globals;
   m_globals = nullptr;
   return set;
}

// A constant set (a host may pass one as the local set) would make constants of the next
// run's locals: it goes.
void ORVA_RunCache::keepLocals(ORVA_VariableSystem *set) noexcept
{
   if (set != nullptr && set->isConstant())
   {
      delete set;
      return;
   }
   keep(&m_locals, set);
}

void ORVA_RunCache::keepGlobals(ORVA_VariableSystem *set) noexcept
{
   keep(&m_globals, set);
}

void ORVA_RunCache::keep(ORVA_VariableSystem **slot, ORVA_VariableSystem *set) noexcept
{
   if (set == nullptr)
      return;
   set->recycle();
   delete *slot;
   *slot = set;
}

bool ORVA_RunCache::findEntryPlan(uint32_t address, uint32_t codeSize, uint32_t *plan) const
{
   if (m_entryCodeSize == 0 || m_entryCodeSize != codeSize || m_entryAddress != address)
      return false;
   *plan = m_entryPlan;
   return true;
}

void ORVA_RunCache::keepEntryPlan(uint32_t address, uint32_t codeSize, uint32_t plan)
{
   m_entryAddress = address;
   m_entryCodeSize = codeSize;
   m_entryPlan = plan;
}

uint32_t ORVA_RunCache::entryAddress(const wchar_t *name) const
{
   if ((name == nullptr) != m_entryIsDefault || wcscmp(name != nullptr ? name : L"", m_entryName) != 0)
      return ORVA_INVALID_ADDRESS;
   return m_entryFunctionAddress;
}

// A name too long for a function is not kept: no function has it.
void ORVA_RunCache::keepEntryAddress(const wchar_t *name, uint32_t address)
{
   const wchar_t *key = (name != nullptr) ? name : L"";
   if (wcsnlen(key, kEntryNameSize) == kEntryNameSize)
      return;
   wcscpy(m_entryName, key);
   m_entryIsDefault = (name == nullptr);
   m_entryFunctionAddress = address;
}

void ORVA_RunCache::codeEdited(uint64_t run)
{
   m_editedInRun = run;
   m_codeStamp++;
   m_entryCodeSize = 0;
   m_slotRunner.reset();
   m_entryFunctionAddress = ORVA_INVALID_ADDRESS;
   m_callTargets.forget();
}
