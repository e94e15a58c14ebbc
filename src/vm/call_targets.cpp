// ORVA_CallTargets: the functions the calls by name of a program's own code reach (see
// call_targets.h).
#include "vm/call_targets.h"

#include <algorithm>
#include <cwchar>
#include <new>

#include "env/builtins.h"

namespace
{

// What a call sees of a record: the name up to its end (not the whole room after it),
// the handler and the number of arguments.
bool sameRecord(const ORVA_ExtFunction &one, const ORVA_ExtFunction &other)
{
   return one.handler == other.handler && one.numArgs == other.numArgs && wcscmp(one.name, other.name) == 0;
}

}

// The environment is compared with the records the slots were resolved against when it
// has not been in this run or was edited since; a slot of another call or stamp is
// filled in anew.
const ORVA_ExtFunction *ORVA_CallTargets::findAgain(const ORVA_Environment &environment, uint32_t address,
                                                    const wchar_t *name)
{
   if (environment.m_builtinCount == 0)
      return environment.findFunction(name);
   Slot &slot = m_slots[address % kSlots];
   if (&environment != m_checked || environment.m_tableEdits != m_checkedEdits)
   {
      check(environment);
      if (m_checked == nullptr)
         return environment.findFunction(name);
      if (slot.name == name && slot.stamp == m_stamp)
         return recordOf(environment, slot);
   }
   const ORVA_ExtFunction *found = environment.findFunction(name);
   const uint32_t builtin = FindBuiltin(name);
   slot.builtin = (builtin < environment.m_builtinCount) ? found : nullptr;
   slot.host = (found == nullptr || slot.builtin != nullptr) ? kNoRecord
                                                             : static_cast<uint32_t>(found - environment.m_functions);
   slot.name = name;
   slot.stamp = m_stamp;
   return found;
}

// Compares the environment's host records with those the slots were resolved against;
// other records start a new stamp. Without memory for a copy nothing is checked
// (m_checked stays null), and the calls are looked up.
void ORVA_CallTargets::check(const ORVA_Environment &environment)
{
   const ORVA_ExtFunction *records = environment.m_functions;
   const uint32_t count = environment.m_functionCount;
   m_checked = nullptr;
   const bool alike = m_records.size() == count && std::equal(records, records + count, m_records.begin(), sameRecord);
   if (!alike)
   {
      m_stamp++;
      try
      {
         m_records.assign(records, records + count);
      }
      catch (const std::bad_alloc &)
      {
         m_records.clear();
         return;
      }
   }
   m_checked = &environment;
   m_checkedEdits = environment.m_tableEdits;
}
