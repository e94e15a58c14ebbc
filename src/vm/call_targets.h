// Which built-in or host function each call by name of a program's own code reaches,
// kept from one run to the next.
//
// A host usually makes a new environment for every run, registering the same records
// each time, so an environment's identity says little. What a call reaches depends only
// on the table: the shared built-ins followed by the host's records. So the first call of
// a run compares the environment's host records with the ones the calls were resolved
// against (one memcmp); while they are alike, each call reaches the record at the position
// it found before. An environment edited during the run (a host function registering or
// removing records) is compared again at its next call. An environment with a private
// table (after ownTable) has lent records a host may change at any time: its calls are
// looked up every time.
#ifndef ORVA_VM_CALL_TARGETS_H
#define ORVA_VM_CALL_TARGETS_H

#include <cstdint>
#include <vector>

#include <orva.h>

class ORVA_CallTargets
{
public:
   // A run starts: its environment is compared afresh (another may have its address).
   void startRun() { m_checked = nullptr; }
   // The record a call named `name` at `address` of the program's own code reaches in
   // `environment`, or null when none does (a script function, or no function at all).
   const ORVA_ExtFunction *find(const ORVA_Environment &environment, uint32_t address, const wchar_t *name)
   {
      const Slot &slot = m_slots[address % kSlots];
      if (slot.name != name || slot.stamp != m_stamp || &environment != m_checked ||
          environment.m_tableEdits != m_checkedEdits)
         return findAgain(environment, address, name);
      return recordOf(environment, slot);
   }
   // The code was edited: another call (or none) may stand at an address.
   void forget() { m_stamp++; }

private:
   static constexpr uint32_t kNoRecord = UINT32_MAX;

   struct Slot;
   static const ORVA_ExtFunction *recordOf(const ORVA_Environment &environment, const Slot &slot)
   {
      if (slot.builtin != nullptr)
         return slot.builtin;
      return (slot.host != kNoRecord) ? &environment.m_functions[slot.host] : nullptr;
   }
   const ORVA_ExtFunction *findAgain(const ORVA_Environment &environment, uint32_t address, const wchar_t *name);
   void check(const ORVA_Environment &environment);

   // What the call at an address found: a built-in (shared by every environment whose
   // table is not private) or the position of a host record.
   struct Slot
   {
      const wchar_t *name;
      uint64_t stamp;
      const ORVA_ExtFunction *builtin;
      uint32_t host;   // kNoRecord: none
   };
   // Direct-mapped on the call's address; a handler makes a few calls.
   static constexpr size_t kSlots = 64;
   Slot m_slots[kSlots] = {};
   // The host records the slots of stamp m_stamp were resolved against.
   std::vector<ORVA_ExtFunction> m_records;
   uint64_t m_stamp = 1;
   // The environment compared with m_records in this run, and its edit count then; only
   // an environment that shares the built-ins is.
   const ORVA_Environment *m_checked = nullptr;
   uint32_t m_checkedEdits = 0;
};

#endif
