// The peephole optimizer and the code-address bookkeeping it shares with module linking.
//
// optimize() runs four passes: fold the negation of numeric constants, turn jumps past the
// end into returns, short-cut chains of jumps, and delete jumps to the next instruction.
// Its results are defined by removeInstructions() applied one instruction at a time, but
// doing that literally moves the rest of the code on every removal, which is quadratic in
// the size of the script. The passes therefore mark what they remove and compact the code
// once, mapping every old address a to a - (number of removed positions below a). That
// mapping is exactly what the one-at-a-time removals compose to, and neither pass looks at
// an address that an earlier removal of the same pass would have changed (see each pass),
// so the outcome is identical.
//
// Decisions of ours:
// - A conditional jump (JZ, JNZ) to the next instruction stays: it still has to pop and
//   test its condition value, and keeping it keeps the "Condition value is not a number"
//   error of a non-numeric condition.
// - A cycle of JMPs in a hand-built program is left as it is: getFinalJumpDestination
//   gives up after as many steps as the code has instructions and returns the position it
//   started from, so the jump that led into the cycle is not changed.
// - removeInstructions moves an address that pointed into the removed range to the start
//   of the range (the instruction that followed it), instead of subtracting the count from
//   it, which would send it before the range or wrap it below 0. For a count of 1, the only
//   count the optimizer uses, both read the same.
// - relocateCode leaves the "no address" value 0xFFFFFFFF alone instead of wrapping it
//   around into the code it was moved past.
#include <algorithm>
#include <cstring>
#include <vector>

#include "vm/instruction_cache.h"
#include "vm/opcodes.h"
#include "vm/run_cache.h"

// Deletes count instructions from start on and moves every later address down. Does
// nothing for a count below 1 or a range that reaches the last instruction, so the last
// instruction is never removed. Addresses at or below start stay, and so do addresses
// into the range: a jump to a removed instruction lands on the one that followed it.
void ORVA_Program::removeInstructions(uint32_t start, int count)
{
   if (count <= 0 || static_cast<uint64_t>(start) + static_cast<uint64_t>(count) >= m_codeSize || m_sharedCode != nullptr)
      return;
   codeEdited();
   uint32_t removed = static_cast<uint32_t>(count);
   for (uint32_t i = start; i < start + removed; i++)
      delete m_instructions[i];
   memmove(&m_instructions[start], &m_instructions[start + removed],
           (m_codeSize - start - removed) * sizeof(ORVA_Instruction *));
   m_codeSize -= removed;
   ORVA_InstructionCache::placeFrom(this, start);

   auto moveAddress = [start, removed](uint32_t address) {
      if (address <= start)
         return address;
      return (address - start >= removed) ? address - removed : start;
   };
   for (uint32_t i = 0; i < m_codeSize; i++)
   {
      ORVA_Instruction *instruction = m_instructions[i];
      if (carriesAddress(instruction->m_opcode))
         instruction->m_operand.addr = moveAddress(instruction->m_operand.addr);
   }
   for (uint32_t i = 0; i < m_functionCount; i++)
      m_functions[i].address = moveAddress(m_functions[i].address);
}

// Adds shift to the address of every JMP, JZ, JNZ and CALL_ADDR from start on, for length
// instructions or up to the end of the code.
void ORVA_Program::relocateCode(uint32_t start, uint32_t length, uint32_t shift)
{
   uint64_t end = static_cast<uint64_t>(start) + length;
   if (end > m_codeSize)
      end = m_codeSize;
   for (uint64_t i = start; i < end; i++)
   {
      ORVA_Instruction *instruction = m_instructions[i];
      if (carriesAddress(instruction->m_opcode) && instruction->m_operand.addr != ORVA_INVALID_ADDRESS)
         instruction->m_operand.addr += shift;
   }
}

// Follows unconditional jumps from position to the first position that does not hold a
// JMP. A chain that has not ended after code-size steps is a cycle; then position itself
// is returned.
uint32_t ORVA_Program::getFinalJumpDestination(uint32_t position) const
{
   uint32_t current = position;
   uint32_t steps = 0;
   while (current < m_codeSize && m_instructions[current]->m_opcode == JMP)
   {
      if (steps++ >= m_codeSize)
         return position;
      current = m_instructions[current]->m_operand.addr;
   }
   return current;
}

void ORVA_Program::optimize()
{
   if (m_sharedCode != nullptr)
      return;
   codeEdited();
   // One walk over the code finds everything the passes look at: the instructions that
   // carry an address (jumps and calls), copied into a compact table, and the
   // PUSH_CONST-NEG pairs. The passes work on the table, in code order, and the jumps and
   // calls they changed are written back at the end: the instructions themselves are
   // scattered over far more memory than the caches hold.
   struct Carrier
   {
      uint32_t position;
      int32_t opcode;
      uint32_t address;
      bool changed;
   };
   std::vector<Carrier> carriers;
   std::vector<uint32_t> negations;
   {
      int previous = -1;
      for (uint32_t i = 0; i < m_codeSize; i++)
      {
         // Fetching ahead hides most of the cache misses of this walk.
         if (i + 16 < m_codeSize)
            __builtin_prefetch(m_instructions[i + 16]);
         const ORVA_Instruction *instruction = m_instructions[i];
         int opcode = instruction->m_opcode;
         if (carriesAddress(opcode))
            carriers.push_back({i, opcode, instruction->m_operand.addr, false});
         else if (opcode == NEG && previous == PUSH_CONST)
            negations.push_back(i - 1);
         previous = opcode;
      }
   }

   // The table entry of the instruction at position, or null when it carries no address.
   auto carrierAt = [&carriers](uint32_t position) -> Carrier * {
      auto found = std::lower_bound(carriers.begin(), carriers.end(), position,
                                    [](const Carrier &carrier, uint32_t p) { return carrier.position < p; });
      return (found != carriers.end() && found->position == position) ? &*found : nullptr;
   };

   // Drops the instructions at the given positions (ascending) in one sweep and maps every
   // address as the removals one by one would have moved it: an address loses one for each
   // removed position below it. The table's positions move along; none of its entries is
   // removed (the passes remove NEGs, and JMPs that they take out of the table first).
   auto compact = [this, &carriers](const std::vector<uint32_t> &removed) {
      if (removed.empty())
         return;
      auto removedBelow = [&removed](uint32_t address) {
         return static_cast<uint32_t>(std::lower_bound(removed.begin(), removed.end(), address) - removed.begin());
      };

      uint32_t kept = removed[0];
      size_t next = 0;
      for (uint32_t i = removed[0]; i < m_codeSize; i++)
      {
         if (next < removed.size() && removed[next] == i)
         {
            delete m_instructions[i];
            next++;
         }
         else
            m_instructions[kept++] = m_instructions[i];
      }
      m_codeSize = kept;
      ORVA_InstructionCache::placeFrom(this, removed[0]);

      for (Carrier &carrier : carriers)
      {
         carrier.position -= removedBelow(carrier.position);
         if (carriesAddress(carrier.opcode))
         {
            uint32_t moved = carrier.address - removedBelow(carrier.address);
            if (moved != carrier.address)
            {
               carrier.address = moved;
               carrier.changed = true;
            }
         }
      }
      for (uint32_t i = 0; i < m_functionCount; i++)
         m_functions[i].address -= removedBelow(m_functions[i].address);
   };

   // Pass 1: PUSH_CONST of a real, int32 or int64 followed by NEG becomes the negated
   // constant. The NEG is never a PUSH_CONST, so marking it instead of removing it at once
   // visits the same pairs; a NEG in the last position stays.
   {
      std::vector<uint32_t> removed;
      for (uint32_t p : negations)
      {
         if (p + 2 >= m_codeSize)
            continue;
         ORVA_Value *constant = m_instructions[p]->m_operand.constant;
         if (constant == nullptr)
            continue;
         int type = constant->getDataType();
         if (type == ORVA_DT_REAL || type == ORVA_DT_INT32 || type == ORVA_DT_INT64)
         {
            constant->negate();
            removed.push_back(p + 1);
         }
      }
      compact(removed);
   }

   // Pass 2: a JMP past the end of the code (also one never resolved) ends the function.
   for (Carrier &carrier : carriers)
   {
      if (carrier.opcode == JMP && carrier.address >= m_codeSize)
      {
         carrier.opcode = NRET;
         carrier.changed = true;
      }
   }

   // Pass 3: a jump to a JMP goes straight to the end of the chain. Each chain is walked
   // once: the end found for a JMP is remembered for every JMP on the way (by table index).
   // JMPs that lead into a cycle are marked and the jumps to them left unchanged.
   {
      enum : uint8_t { Unknown, OnPath, Resolved, Cyclic };
      std::vector<uint8_t> state(carriers.size(), Unknown);
      std::vector<uint32_t> destination(carriers.size(), 0);
      std::vector<size_t> path;
      auto finalDestination = [&](uint32_t start) -> uint32_t {
         uint32_t current = start;
         path.clear();
         uint8_t outcome = Resolved;
         uint32_t end = 0;
         for (;;)
         {
            Carrier *jump = (current < m_codeSize) ? carrierAt(current) : nullptr;
            if (jump == nullptr || jump->opcode != JMP)
            {
               end = current;
               break;
            }
            size_t index = static_cast<size_t>(jump - carriers.data());
            if (state[index] == Resolved)
            {
               end = destination[index];
               break;
            }
            if (state[index] == Cyclic || state[index] == OnPath)
            {
               outcome = Cyclic;
               break;
            }
            state[index] = OnPath;
            path.push_back(index);
            current = jump->address;
         }
         for (size_t index : path)
         {
            state[index] = outcome;
            destination[index] = end;
         }
         return (outcome == Resolved) ? end : start;
      };

      for (Carrier &carrier : carriers)
      {
         if (!isJump(carrier.opcode))
            continue;
         uint32_t target = carrier.address;
         const Carrier *targetJump = (target < m_codeSize) ? carrierAt(target) : nullptr;
         if (targetJump != nullptr && targetJump->opcode == JMP)
         {
            uint32_t threaded = finalDestination(target);
            if (threaded != carrier.address)
            {
               carrier.address = threaded;
               carrier.changed = true;
            }
         }
      }
   }

   // Pass 4: a JMP to the next instruction is removed (the last instruction stays). All
   // earlier removals lie below the jump being examined, so "target is its own position
   // plus one" reads the same before and after they are applied.
   {
      std::vector<uint32_t> removed;
      size_t keptCarriers = 0;
      for (const Carrier &carrier : carriers)
      {
         if (carrier.position + 1 < m_codeSize && carrier.opcode == JMP && carrier.address == carrier.position + 1)
            removed.push_back(carrier.position);
         else
            carriers[keptCarriers++] = carrier;
      }
      carriers.resize(keptCarriers);
      compact(removed);
   }

   for (const Carrier &carrier : carriers)
   {
      if (!carrier.changed)
         continue;
      ORVA_Instruction *instruction = m_instructions[carrier.position];
      instruction->m_opcode = carrier.opcode;
      instruction->m_operand.addr = carrier.address;
   }
}
