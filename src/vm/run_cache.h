// What a program keeps from one run for the next, so that the run of a small handler,
// which a host makes for every event, allocates next to nothing before its first
// instruction and releases next to nothing after its last.
//
// A finished run's local set and global set are emptied (ORVA_VariableSystem::recycle:
// the values go, the variables stay behind with their names) and handed to the next run,
// whose variables mostly have the same names in the same order and so take them up again.
// The data and control stacks stay with the program itself (m_dataStack, m_controlStack),
// emptied. The plan for entering the entry function, and the built-in or host function
// each call by name reaches (vm/call_targets.h), stay while the code does.
// Nothing here is seen by scripts or hosts: a recycled set behaves as a new one.
// Only sets and stacks that every run makes are kept, so a run that fails for want of
// memory at any point leaves no more behind than the run before it.
#ifndef ORVA_VM_RUN_CACHE_H
#define ORVA_VM_RUN_CACHE_H

#include <cstdint>
#include <memory>

#include <orva.h>

#include "vm/call_targets.h"

struct ORVA_SlotRunnerState;
// Deletes what the slot runner keeps (defined beside it, in slot_runner.cpp).
struct ORVA_SlotRunnerStateDeleter
{
   void operator()(ORVA_SlotRunnerState *state) const noexcept;
};
using ORVA_SlotRunnerStatePtr = std::unique_ptr<ORVA_SlotRunnerState, ORVA_SlotRunnerStateDeleter>;

class ORVA_RunCache
{
public:
   ORVA_RunCache() = default;
   ~ORVA_RunCache();
   ORVA_RunCache(const ORVA_RunCache &) = delete;
   ORVA_RunCache &operator=(const ORVA_RunCache &) = delete;

   // An empty local set for a run: the last run's, or a new one.
   ORVA_VariableSystem *takeLocals();
   // The run's copy of the program's global set `globals`: the last run's set when
   // `globals` is empty (nothing to copy), else a copy.
   ORVA_VariableSystem *takeGlobals(ORVA_VariableSystem *globals);
   // Keeps a set a run is done with for the next run (emptied now), or deletes it.
   void keepLocals(ORVA_VariableSystem *set) noexcept;
   void keepGlobals(ORVA_VariableSystem *set) noexcept;

   // The plan for entering the entry function at `address` of the program's own code
   // (`codeSize` instructions; see ORVA_Engine::callPlan): true with the plan when it is
   // the one kept. Working a plan out walks the whole function, too much for every run.
   bool findEntryPlan(uint32_t address, uint32_t codeSize, uint32_t *plan) const;
   void keepEntryPlan(uint32_t address, uint32_t codeSize, uint32_t plan);
   // The address of the program's own function `name` (null: the default entry), when it
   // is the one kept; else ORVA_INVALID_ADDRESS. A function the program gains later
   // cannot take the name of one it has, and an edit of the code drops the address.
   uint32_t entryAddress(const wchar_t *name) const;
   void keepEntryAddress(const wchar_t *name, uint32_t address);
   // The functions the calls by name of the program's own code reach.
   ORVA_CallTargets &callTargets() { return m_callTargets; }

   // The program's code was edited during or after run number `run`, so what was kept
   // about it may no longer describe it.
   void codeEdited(uint64_t run);
   // Whether what run number `run` learnt about an instruction of the program's own code
   // may describe another instruction than the one now at its address.
   bool editedSince(uint64_t run) const { return run <= m_editedInRun; }
   // Names the code as it is now: changes with every edit, never kNoCarry.
   uint64_t codeStamp() const { return m_codeStamp; }
   // What the slot runner keeps from call to call and run to run (slot_runner.h): the
   // compact code of the functions of the program's own code. Dropped when the code is
   // edited.
   ORVA_SlotRunnerStatePtr &slotRunner() { return m_slotRunner; }

private:
   static void keep(ORVA_VariableSystem **slot, ORVA_VariableSystem *set) noexcept;

   ORVA_VariableSystem *m_locals = nullptr;
   ORVA_VariableSystem *m_globals = nullptr;
   uint32_t m_entryAddress = 0;
   uint32_t m_entryCodeSize = 0;   // 0: no plan kept
   uint32_t m_entryPlan = 0;
   // The entry function last found, by name, or the default entry; a function's name has
   // at most 63 characters.
   static constexpr size_t kEntryNameSize = 64;
   wchar_t m_entryName[kEntryNameSize] = {};
   bool m_entryIsDefault = false;
   uint32_t m_entryFunctionAddress = ORVA_INVALID_ADDRESS;
   uint64_t m_editedInRun = 0;
   uint64_t m_codeStamp = 1;
   ORVA_SlotRunnerStatePtr m_slotRunner;
   ORVA_CallTargets m_callTargets;
};

// ORVA_Program::m_carryStamp while a run cannot take its locals from earlier runs.
constexpr uint64_t kNoCarry = ~uint64_t{0};

// Tells a program's run cache (if it has one) that the program's code was edited after
// its run number `run` started.
inline void CodeEdited(ORVA_RunCache *cache, uint64_t run)
{
   if (cache != nullptr)
      cache->codeEdited(run);
}

#endif
