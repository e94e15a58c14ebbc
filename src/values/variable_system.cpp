// ORVA_VariableSystem: an ordered set of variables.
//
// Variables are kept in creation order and never removed; a set may hold two variables of
// one name, and find always returns the older one. Small sets (a script function's locals)
// are searched linearly. Once a set grows past kLinearSearchLimit variables, an
// open-addressing hash index over the positions is built, so the large sets a host may pass
// in stay O(1) to search. The index keeps, for each name, only the position of the oldest
// variable of that name: inserting a duplicate finds the older entry and leaves it.
//
// The index covers the spares a recycled set holds beyond its count as well (their names
// stay), so a set that is emptied and filled again with the same names keeps its index
// as it is; a position at or past the count is simply not found. Only a spare that gives
// its position to a variable of another name makes the index be built again.
//
// The set also remembers the position of its first duplicate name. Below that position every
// variable is the first of its name, which is what lets the engine's lookup cache confirm a
// remembered position with one name comparison (firstAt).
#include "orva.h"
#include "platform/platform.h"
#include "values/name_bits.h"
#include "values/name_hash.h"

#include <atomic>
#include <cstdlib>
#include <memory>
#include <cstring>

namespace {

// Up to this many variables a linear scan is as fast as hashing.
const uint32_t kLinearSearchLimit = 8;

const uint32_t kNoPosition = 0xFFFFFFFF;

}

ORVA_VariableSystem::ORVA_VariableSystem(bool constant)
   : m_count(0), m_variables(nullptr), m_constant(constant), m_allocated(0), m_index(nullptr), m_indexSize(0),
     m_firstDuplicate(kNoPosition), m_held(0), m_heldDuplicates(false), m_nameBits(0), m_serial(0), m_layout(nullptr), m_layoutArgc(0), m_layoutCount(0), m_layoutBits(0), m_keptEpoch(0)
{
   renewSerial();
}

ORVA_VariableSystem::ORVA_VariableSystem(ORVA_VariableSystem *src) : ORVA_VariableSystem(src->m_constant)
{
   for (uint32_t i = 0; i < src->m_count; i++)
      append(new ORVA_Variable(src->m_variables[i]));
}

ORVA_VariableSystem::~ORVA_VariableSystem()
{
   for (uint32_t i = 0; i < m_held; i++)
      delete m_variables[i];
   free(m_variables);
   free(m_index);
}

void ORVA_VariableSystem::renewSerial()
{
   // Sets are made on many threads; the counter only has to hand out distinct numbers.
   static std::atomic<uint64_t> nextSerial{1};
   m_serial = nextSerial.fetch_add(1, std::memory_order_relaxed);
}

ORVA_Variable *ORVA_VariableSystem::find(const wchar_t *name) const
{
   uint32_t index = indexOf(name);
   return (index != kNoPosition) ? m_variables[index] : nullptr;
}

uint32_t ORVA_VariableSystem::indexOf(const wchar_t *name) const
{
   if (name == nullptr || (m_nameBits & NameBit(name)) == 0)
      return kNoPosition;
   if (m_index == nullptr)
   {
      for (uint32_t i = 0; i < m_count; i++)
      {
         if (SameName(m_variables[i]->getName(), name))
            return i;
      }
      return kNoPosition;
   }
   const uint32_t position = heldPosition(name);
   return (position < m_count) ? position : kNoPosition;
}

// The oldest position among all held variables (spares included) with this name, from
// the index; kNoPosition when none has it.
uint32_t ORVA_VariableSystem::heldPosition(const wchar_t *name) const
{
   uint32_t mask = m_indexSize - 1;
   for (uint32_t slot = HashName(name) & mask; m_index[slot] != 0; slot = (slot + 1) & mask)
   {
      if (SameName(m_variables[m_index[slot] - 1]->getName(), name))
         return m_index[slot] - 1;
   }
   return kNoPosition;
}

ORVA_Variable *ORVA_VariableSystem::create(const wchar_t *name, ORVA_Value *value)
{
   if (m_count < m_held && name != nullptr && SameName(m_variables[m_count]->getName(), name))
   {
      // A spare of the same name (see recycle): taken again instead of made anew.
      ORVA_Variable *spare = m_variables[m_count];
      spare->setValue(value != nullptr ? value : new ORVA_Value());
      place();
      return spare;
   }
   // The set owns the value from here on, also when making the variable runs out of memory.
   std::unique_ptr<ORVA_Value> held(value != nullptr ? value : new ORVA_Value());
   ORVA_Variable *variable = new ORVA_Variable(name, held.get(), m_constant);
   held.release();
   append(variable);
   return variable;
}

// Adds copies of src's variables whose names are not here yet; existing variables keep
// their values, and the copies take this set's constant flag.
void ORVA_VariableSystem::merge(ORVA_VariableSystem *src)
{
   if (src == nullptr || src == this)
      return;
   for (uint32_t i = 0; i < src->m_count; i++)
   {
      ORVA_Variable *variable = src->m_variables[i];
      if (find(variable->getName()) == nullptr)
         create(variable->getName(), new ORVA_Value(variable->getValue()));
   }
}

void ORVA_VariableSystem::append(ORVA_Variable *variable)
{
   if (m_count < m_held)
   {
      // The new variable takes the place of a spare of another name, whose index entry
      // may point here: the index is built again when the set needs one.
      delete m_variables[m_count];
      m_variables[m_count] = nullptr;
      renewSerial();
      m_layout = nullptr;
      m_layoutCount = 0;
      dropIndex();
   }
   else if (m_count == m_allocated)
   {
      uint32_t allocated = m_allocated > 0 ? m_allocated * 2 : 4;
      ORVA_Variable **variables =
         static_cast<ORVA_Variable **>(realloc(m_variables, sizeof(ORVA_Variable *) * allocated));
      if (variables == nullptr)
      {
         delete variable;
         throw std::bad_alloc();
      }
      m_variables = variables;
      m_allocated = allocated;
   }
   m_variables[m_count] = variable;
   place();
}

// Counts the variable at position m_count in: its name bit, the first duplicate, and the
// index entry.
void ORVA_VariableSystem::place()
{
   const wchar_t *name = m_variables[m_count]->getName();
   // A small set has no index to reveal a duplicate; look for one while none is known.
   if (m_index == nullptr && m_firstDuplicate == kNoPosition && indexOf(name) != kNoPosition)
      m_firstDuplicate = m_count;
   m_nameBits |= NameBit(name);
   const uint32_t position = m_count++;
   const bool spare = position < m_held;
   // A spare taken up under its own name in an indexed set whose held names all differ:
   // every position below holds the name it held before, so nothing can be a duplicate,
   // and the index already has the entry.
   if (spare && m_index != nullptr && !m_heldDuplicates)
      return;
   if (!spare)
      m_held = m_count;

   if (m_index != nullptr && m_held * 2 <= m_indexSize)
   {
      uint32_t mask = m_indexSize - 1;
      uint32_t slot = HashName(name) & mask;
      for (; m_index[slot] != 0; slot = (slot + 1) & mask)
      {
         const uint32_t older = m_index[slot] - 1;
         if (SameName(m_variables[older]->getName(), name))
         {
            // The oldest variable of this name keeps the entry (a spare taken up again
            // finds its own).
            if (older < position && m_firstDuplicate == kNoPosition)
               m_firstDuplicate = position;
            m_heldDuplicates = m_heldDuplicates || older < position;
            return;
         }
      }
      m_index[slot] = m_count;
   }
   else if (m_count > kLinearSearchLimit)
   {
      rehash();
   }
}

void ORVA_VariableSystem::dropIndex()
{
   free(m_index);
   m_index = nullptr;
   m_indexSize = 0;
}

// Rebuilds the index over every held variable at a load factor of at most one half,
// inserting in creation order so that the oldest variable of each name takes the entry.
void ORVA_VariableSystem::rehash()
{
   uint32_t size = 16;
   while (size < m_held * 2)
      size *= 2;
   uint32_t *index = static_cast<uint32_t *>(calloc(size, sizeof(uint32_t)));
   if (index == nullptr)
   {
      // Without memory for an index, linear search still gives the right answers.
      dropIndex();
      return;
   }
   free(m_index);
   m_index = index;
   m_indexSize = size;
   m_heldDuplicates = false;

   uint32_t mask = size - 1;
   for (uint32_t i = 0; i < m_held; i++)
   {
      const wchar_t *name = m_variables[i]->getName();
      uint32_t slot = HashName(name) & mask;
      bool duplicate = false;
      for (; m_index[slot] != 0; slot = (slot + 1) & mask)
      {
         if (wcscmp(m_variables[m_index[slot] - 1]->getName(), name) == 0)
         {
            duplicate = true;
            m_heldDuplicates = true;
            // A duplicate among the spares counts once it is taken up (place).
            if (i < m_count && i < m_firstDuplicate)
               m_firstDuplicate = i;
            break;
         }
      }
      if (!duplicate)
         m_index[slot] = i + 1;
   }
}

// What place would do for it, without looking for an older variable of the name.
ORVA_Variable *ORVA_VariableSystem::takeUpSpare(ORVA_Value *value)
{
   ORVA_Variable *spare = m_variables[m_count];
   spare->setValue(value);
   const bool indexKept = m_index != nullptr && !m_heldDuplicates;
   const bool staysLinear = m_index == nullptr && m_count < kLinearSearchLimit;
   if (!indexKept && !staysLinear)
   {
      place();
      return spare;
   }
   m_nameBits |= NameBit(spare->getName());
   m_count++;
   return spare;
}

void ORVA_VariableSystem::recycle()
{
   for (uint32_t i = 0; i < m_count; i++)
      m_variables[i]->setValue(nullptr);
   m_count = 0;
   m_nameBits = 0;
   m_firstDuplicate = kNoPosition;
}
