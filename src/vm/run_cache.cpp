// ORVA_RunCache: the sets a finished run leaves for the next one (see run_cache.h).
#include "vm/run_cache.h"

#include <cstdint>

#include "env/builtins.h"

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

uint32_t ORVA_RunCache::builtinPosition(uint32_t address, const wchar_t *name)
{
   BuiltinName &slot = m_builtinNames[address % kBuiltinNameSlots];
   if (slot.name != name)
   {
      slot.position = FindBuiltin(name);
      slot.name = name;
   }
   return slot.position;
}

void ORVA_RunCache::codeEdited(uint64_t run)
{
   m_editedInRun = run;
   m_codeStamp++;
   m_entryCodeSize = 0;
   for (BuiltinName &slot : m_builtinNames)
      slot.name = nullptr;
   m_slotRunner.reset();
}
