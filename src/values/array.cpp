// ORVA_Array: a sparse array of values indexed by int32.
//
// The elements are one list of (index, value) records sorted by index, so lookups are a
// binary search and foreach walks the list in order. A new index is inserted at its sorted
// place (binary search, then the shorter side of the list moves by one record, into room
// kept behind the list or in front of it), which gives the same order as appending and
// sorting; filling in ascending or descending order moves nothing. The list grows by half
// its size (at least 32 records) at a time, so filling an array element by element copies
// the list a bounded number of times, and it never shrinks.
#include "orva.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {
const int32_t kArrayGrowth = 32;

// Room for the records after the list is full at `allocated`, or 0 past the int32 range.
int32_t grownSize(int32_t allocated)
{
   const int64_t grown = int64_t{allocated} + std::max<int64_t>(kArrayGrowth, allocated / 2);
   if (allocated == INT32_MAX)
      return 0;
   return static_cast<int32_t>(std::min<int64_t>(grown, INT32_MAX));
}
}

ORVA_Array::ORVA_Array() : m_refCount(0), m_size(0), m_allocated(0), m_elements(nullptr), m_front(0)
{
}

// A copy of the top level: every element value is copied with the value copy constructor,
// so an element that is itself an array is shared, not copied. Running out of memory
// throws std::bad_alloc; the elements copied so far go with the unfinished copy (the
// delegated constructor has made it an object whose destructor runs).
ORVA_Array::ORVA_Array(ORVA_Array *src) : ORVA_Array()
{
   if (src == nullptr || src->m_size == 0)
      return;
   m_elements = static_cast<Element *>(malloc(sizeof(Element) * src->m_size));
   if (m_elements == nullptr)
      throw std::bad_alloc();
   m_allocated = src->m_size;
   for (int32_t i = 0; i < src->m_size; i++)
   {
      m_elements[i].index = src->m_elements[i].index;
      m_elements[i].value = (src->m_elements[i].value != nullptr) ? new ORVA_Value(src->m_elements[i].value) : nullptr;
      m_size = i + 1;
   }
}

ORVA_Array::~ORVA_Array()
{
   for (int32_t i = 0; i < m_size; i++)
      delete m_elements[i].value;
   free(m_elements - m_front);
}

// Binary search: the position of index when *found, else the position where it belongs.
int ORVA_Array::find(int index, bool *found) const
{
   // Arrays filled from 0 upwards: the element of index i is at position i, and a new
   // index past the last one belongs at the end. Both answers are the search's.
   if (index >= 0 && index < m_size && m_elements[index].index == index)
   {
      *found = true;
      return index;
   }
   if (m_size == 0 || m_elements[m_size - 1].index < index)
   {
      *found = false;
      return m_size;
   }
   int low = 0, high = m_size;
   while (low < high)
   {
      int middle = low + (high - low) / 2;
      if (m_elements[middle].index < index)
         low = middle + 1;
      else if (m_elements[middle].index > index)
         high = middle;
      else
      {
         *found = true;
         return middle;
      }
   }
   *found = false;
   return low;
}

ORVA_Value *ORVA_Array::get(int index) const
{
   bool found;
   int position = find(index, &found);
   return found ? m_elements[position].value : nullptr;
}

ORVA_Value *ORVA_Array::getByPosition(int position) const
{
   return (position >= 0 && position < m_size) ? m_elements[position].value : nullptr;
}

// A new value for an existing element moves into the element's own record, which keeps its
// address: arrays that are rewritten in place (a sieve) then keep their elements where they
// were made, next to each other in memory, instead of scattering them one write at a time.
void ORVA_Array::replace(int position, ORVA_Value *value)
{
   ORVA_Value *element = m_elements[position].value;
   if (element == value)
      return;
   if (element == nullptr || value == nullptr)
   {
      delete element;
      m_elements[position].value = value;
      return;
   }
   element->swap(*value);
   delete value;
}

void ORVA_Array::assign(int index, ORVA_Value &value)
{
   bool found;
   const int position = find(index, &found);
   if (found && m_elements[position].value != nullptr)
   {
      m_elements[position].value->swap(value);
      return;
   }
   auto *taken = new ORVA_Value();
   taken->swap(value);
   set(index, taken);
}

void ORVA_Array::set(int index, ORVA_Value *value)
{
   bool found;
   int position = find(index, &found);
   if (found)
   {
      replace(position, value);
      return;
   }

   insertAt(position, index, value);
}

// Inserts a new record at `position`, moving the shorter side of the list: the records
// before it into the room in front, or the records after it into the room behind. A full
// list grows by half; the new room goes behind it when it grows at the end (where realloc
// may extend the block in place), else half of it in front.
void ORVA_Array::insertAt(int position, int index, ORVA_Value *value)
{
   // A list with no room on the side that should move grows first: without room in front,
   // a store in the first half would move the whole list.
   const bool needsRoom = (m_front == 0) && (m_size == m_allocated || position < m_size / 2);
   if (needsRoom && !makeRoom(position == m_size))
   {
      // Out of memory: the array cannot take the value, and it owns it now.
      delete value;
      throw std::bad_alloc();
   }
   const bool roomBehind = m_front + m_size < m_allocated;
   if (m_front > 0 && (position < m_size / 2 || !roomBehind))
   {
      memmove(m_elements - 1, m_elements, sizeof(Element) * static_cast<size_t>(position));
      m_elements--;
      m_front--;
   }
   else
   {
      memmove(&m_elements[position + 1], &m_elements[position], sizeof(Element) * (m_size - position));
   }
   m_elements[position].index = index;
   m_elements[position].value = value;
   m_size++;
}

// Grows a full list by half (see insertAt); false when memory runs out.
bool ORVA_Array::makeRoom(bool atEnd)
{
   const int32_t allocated = grownSize(m_allocated);
   if (allocated == 0)
      return false;
   if (atEnd)
   {
      auto *elements = static_cast<Element *>(realloc(m_elements, sizeof(Element) * static_cast<size_t>(allocated)));
      if (elements == nullptr)
         return false;
      m_elements = elements;
      m_allocated = allocated;
      return true;
   }
   auto *block = static_cast<Element *>(malloc(sizeof(Element) * static_cast<size_t>(allocated)));
   if (block == nullptr)
      return false;
   const int32_t front = (allocated - m_size) / 2;
   if (m_size > 0)
      memcpy(block + front, m_elements, sizeof(Element) * static_cast<size_t>(m_size));
   free(m_elements);
   m_elements = block + front;
   m_front = front;
   m_allocated = allocated;
   return true;
}
