// The function table's hash index (see function_index.h).
#include "vm/function_index.h"

#include <cwchar>
#include <new>

namespace {

// Smallest slot count the index starts with.
constexpr size_t kInitialSlots = 64;

// FNV-1a over the characters of a name.
size_t hashName(const wchar_t *name)
{
   uint64_t hash = 14695981039346656037ull;
   for (; *name != 0; name++)
   {
      hash ^= static_cast<uint32_t>(*name);
      hash *= 1099511628211ull;
   }
   return static_cast<size_t>(hash ^ (hash >> 32));
}

}  // namespace

bool ORVA_FunctionIndex::update(const ORVA_FunctionEntry *functions, uint32_t count) noexcept
{
   try
   {
      if (count < m_covered)
      {
         m_slots.assign(m_slots.size(), 0);
         m_used = 0;
         m_covered = 0;
      }
      for (; m_covered < count; m_covered++)
      {
         if (find(functions, functions[m_covered].name) == ORVA_INVALID_ADDRESS)
            insert(functions, m_covered);
      }
      return true;
   }
   catch (...)
   {
      m_slots.clear();
      m_used = 0;
      m_covered = 0;
      return false;
   }
}

uint32_t ORVA_FunctionIndex::find(const ORVA_FunctionEntry *functions, const wchar_t *name) const
{
   if (m_slots.empty())
      return ORVA_INVALID_ADDRESS;
   size_t mask = m_slots.size() - 1;
   for (size_t slot = hashName(name) & mask; m_slots[slot] != 0; slot = (slot + 1) & mask)
   {
      uint32_t position = m_slots[slot] - 1;
      if (wcscmp(functions[position].name, name) == 0)
         return position;
   }
   return ORVA_INVALID_ADDRESS;
}

// Adds a position whose name is not indexed yet.
void ORVA_FunctionIndex::insert(const ORVA_FunctionEntry *functions, uint32_t position)
{
   if ((static_cast<size_t>(m_used) + 1) * 2 > m_slots.size())
      rehash(functions, m_slots.empty() ? kInitialSlots : m_slots.size() * 2);
   size_t mask = m_slots.size() - 1;
   size_t slot = hashName(functions[position].name) & mask;
   while (m_slots[slot] != 0)
      slot = (slot + 1) & mask;
   m_slots[slot] = position + 1;
   m_used++;
}

void ORVA_FunctionIndex::rehash(const ORVA_FunctionEntry *functions, size_t slotCount)
{
   std::vector<uint32_t> old(slotCount, 0);
   old.swap(m_slots);
   size_t mask = slotCount - 1;
   for (uint32_t entry : old)
   {
      if (entry == 0)
         continue;
      size_t slot = hashName(functions[entry - 1].name) & mask;
      while (m_slots[slot] != 0)
         slot = (slot + 1) & mask;
      m_slots[slot] = entry;
   }
}
