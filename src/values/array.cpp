// ORVA_Array: a sparse array of values indexed by int32.
//
// The element values live in the array itself, in value slots: pages of ORVA_Value that
// never move, handed out one slot at a time. Each page holds twice the slots of the one
// before (8, 16, 32, ...), so that small arrays stay small and a big one has a few big
// pages. An array holds its elements in one of three layouts:
//
// - Dense (the common case): the indexes have no gaps, and the element at position p,
//   index m_base + p, is the value in slot p. Nothing else is stored: a million integers
//   take a million value slots. Stores past the last index keep the array dense; any
//   other new index (a gap, a store in front, a store of no value) turns it into records,
//   once and for good.
// - Records in one flat list: (index, value slot) records kept in index order, so foreach
//   and the position accessors walk them in order and lookups are binary searches. Arrays
//   that were dense find element i at position i without a search, which the engine's
//   element fast paths rely on. A new index goes to its sorted place by moving the
//   shorter side of the list by one record, into room kept behind the list or in front
//   of it, so ascending and descending fills move nothing. The list grows by half its
//   size (at least 32 records) at a time.
// - Records in chunks of at most kChunkCapacity, in index order, with the first index of
//   each chunk in a vector of their own. An array changes to chunks, once and for good,
//   when a store would move more than kChunkCapacity records of the flat list: filled in
//   random order, the flat list would move a quarter of itself on every store on
//   average, which grows with the square of the size. In chunks a store costs a binary
//   search over the first indexes, one over the chunk, and the move of at most one
//   chunk; a full chunk splits into two halves (a store past the last or before the
//   first record of the array starts a new chunk instead, so monotonic fills leave full
//   chunks). Every chunk but the first and the last stays at least half full, so there
//   are at most n / 64 + 2 chunks. A split, about once per 64 stores, also moves up to
//   n / 64 entries of the two vectors (an index and a pointer each). That part still
//   grows with n, but about a thousand times slower than the flat list's move: at a
//   million elements it costs about as much as the chunk move, both far less than the
//   cache misses of reaching a random chunk. Positions are found by walking chunk counts
//   from a cursor kept at the last position read (or from the nearer end), so foreach
//   and other walks in position order cost O(1) a step.
//
// Records point to their value slots: moving records, splitting chunks or changing layout
// leaves every value where it is, and a new value for an element is swapped into the
// element's slot, so a pointer lent by get or getByPosition stays valid until the element
// is replaced by no value or the array goes. A slot whose element got no value goes to a
// list of free slots for the next new element. Running out of memory throws
// std::bad_alloc and leaves the array as it was. The cursors make reads change the
// Chunks, so one array is read by one thread at a time, as every value is.
#include "orva.h"
#include "values/array_slots.h"
#include "values/plain_int32.h"
#include "values/pool.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace {
// The bytes of value slot page `page`.
size_t pageBytes(int32_t page)
{
   return sizeof(ORVA_Value) * (size_t{kFirstArrayPage} << page);
}

// The slots of the first `pages` pages.
int64_t slotsIn(int32_t pages)
{
   return kFirstArrayPage * ((int64_t{1} << pages) - 1);
}

const int32_t kArrayGrowth = 32;
const int32_t kChunkCapacity = 128;
// Chunks made from a flat list are filled to three quarters, so that the stores that
// follow do not split each of them at once.
const int32_t kChunkFill = kChunkCapacity * 3 / 4;

// Room for one more entry in a vector of the chunks, which grows it by doubling (reserve
// alone would reallocate it for every added chunk).
template <typename Entry>
void reserveOneMore(std::vector<Entry> &entries)
{
   if (entries.size() == entries.capacity())
      entries.reserve(std::max<size_t>(16, entries.capacity() * 2));
}

// Room for the records after the list is full at `allocated`, or 0 past the int32 range.
int32_t grownSize(int32_t allocated)
{
   const int64_t grown = int64_t{allocated} + std::max<int64_t>(kArrayGrowth, allocated / 2);
   if (allocated == INT32_MAX)
      return 0;
   return static_cast<int32_t>(std::min<int64_t>(grown, INT32_MAX));
}
}

struct ORVA_Array::Chunks
{
   struct Chunk
   {
      int32_t count = 0;
      Element records[kChunkCapacity];
   };

   // In index order, never empty. The chunks do not own the values their records point to.
   std::vector<std::unique_ptr<Chunk>> list;
   std::vector<int32_t> firsts;   // the index of the first record of each chunk
   size_t hint = 0;               // the chunk of the last index looked up
   size_t cursor = 0;             // the chunk of the last position read ...
   int32_t cursorStart = 0;       // ... and the position of its first record

   size_t chunkOf(int index);
   Element *lookup(int index);
   Element *at(int position, int32_t total);
   void insert(int index, ORVA_Value *value, bool adopted);
   void split(size_t *chunk, int32_t *slot, int index);
   void addChunk(size_t chunk, std::unique_ptr<Chunk> added, int index);
};

namespace {
// Where index is in the records, or where it belongs.
template <typename Record>
int32_t slotOf(const Record *records, int32_t count, int index)
{
   // A chunk without gaps holds index at its distance from the first.
   const int64_t offset = int64_t{index} - records[0].index;
   if (offset >= 0 && offset < count && records[offset].index == index)
      return static_cast<int32_t>(offset);
   const Record *slot = std::lower_bound(records, records + count, index,
                                         [](const Record &record, int wanted) { return record.index < wanted; });
   return static_cast<int32_t>(slot - records);
}
}

// The chunk that holds index or where it belongs: the last one starting at or below it.
size_t ORVA_Array::Chunks::chunkOf(int index)
{
   const bool inHint = firsts[hint] <= index && (hint + 1 == firsts.size() || index < firsts[hint + 1]);
   if (!inHint)
   {
      const auto after = std::upper_bound(firsts.begin(), firsts.end(), index);
      hint = (after == firsts.begin()) ? 0 : static_cast<size_t>(after - firsts.begin()) - 1;
   }
   return hint;
}

ORVA_Array::Element *ORVA_Array::Chunks::lookup(int index)
{
   Chunk *chunk = list[chunkOf(index)].get();
   const int32_t slot = slotOf(chunk->records, chunk->count, index);
   return (slot < chunk->count && chunk->records[slot].index == index) ? &chunk->records[slot] : nullptr;
}

// The record at a position below total, reached from the cursor or from the nearer end.
ORVA_Array::Element *ORVA_Array::Chunks::at(int position, int32_t total)
{
   const int64_t fromCursor = std::abs(int64_t{position} - cursorStart);
   if (position < fromCursor)
   {
      cursor = 0;
      cursorStart = 0;
   }
   else if (total - position < fromCursor)
   {
      cursor = list.size() - 1;
      cursorStart = total - list.back()->count;
   }
   while (position < cursorStart)
      cursorStart -= list[--cursor]->count;
   while (position >= cursorStart + list[cursor]->count)
      cursorStart += list[cursor++]->count;
   return &list[cursor]->records[position - cursorStart];
}

// Stores a record for an index that is not there yet. Throws std::bad_alloc, with
// nothing changed, when a chunk cannot be added.
void ORVA_Array::Chunks::insert(int index, ORVA_Value *value, bool adopted)
{
   size_t chunk = chunkOf(index);
   int32_t slot = slotOf(list[chunk]->records, list[chunk]->count, index);
   if (list[chunk]->count == kChunkCapacity)
      split(&chunk, &slot, index);
   Chunk *target = list[chunk].get();
   memmove(&target->records[slot + 1], &target->records[slot], sizeof(Element) * static_cast<size_t>(target->count - slot));
   target->records[slot] = Element{index, adopted, value};
   target->count++;
   if (slot == 0)
      firsts[chunk] = index;
   if (chunk < cursor)
      cursorStart++;
}

// Makes room in a full chunk for a record at `slot`, moving *chunk and *slot to where the
// record now goes.
void ORVA_Array::Chunks::split(size_t *chunk, int32_t *slot, int index)
{
   auto added = std::make_unique<Chunk>();
   reserveOneMore(list);
   reserveOneMore(firsts);
   // From here on nothing allocates.
   if (*slot == kChunkCapacity && *chunk + 1 == list.size())
   {
      addChunk(++*chunk, std::move(added), index);
      *slot = 0;
      return;
   }
   if (*slot == 0 && *chunk == 0)
   {
      addChunk(0, std::move(added), index);
      return;
   }
   Chunk *full = list[*chunk].get();
   const int32_t half = kChunkCapacity / 2;
   added->count = kChunkCapacity - half;
   memcpy(added->records, &full->records[half], sizeof(Element) * static_cast<size_t>(added->count));
   full->count = half;
   const int32_t addedFirst = added->records[0].index;
   addChunk(*chunk + 1, std::move(added), addedFirst);
   if (*slot > half)
   {
      ++*chunk;
      *slot -= half;
   }
}

// Puts a chunk in the list at `chunk`, with `first` as its first index; the room is there.
void ORVA_Array::Chunks::addChunk(size_t chunk, std::unique_ptr<Chunk> added, int first)
{
   list.insert(list.begin() + static_cast<std::ptrdiff_t>(chunk), std::move(added));
   firsts.insert(firsts.begin() + static_cast<std::ptrdiff_t>(chunk), first);
   if (cursor >= chunk)
      cursor++;
   if (hint >= chunk)
      hint++;
}

ORVA_Array::ORVA_Array()
   : m_refCount(0), m_size(0), m_dense(true), m_base(0), m_allocated(0), m_elements(nullptr), m_front(0),
     m_chunks(nullptr), m_pages(nullptr), m_pageCount(0), m_pagesAllocated(0), m_slotCount(0), m_freeSlots(nullptr)
{
}

// A copy of the top level in the same layout, the records as one flat list: every element
// value is copied with the value copy constructor, so an element that is itself an array
// is shared, not copied. Running out of memory throws std::bad_alloc; the elements copied
// so far go with the unfinished copy (the delegated constructor has made it an object
// whose destructor runs).
ORVA_Array::ORVA_Array(ORVA_Array *src) : ORVA_Array()
{
   if (src == nullptr || src->m_size == 0)
      return;
   if (src->m_dense)
   {
      m_base = src->m_base;
      for (int32_t i = 0; i < src->m_size; i++)
      {
         ::new (static_cast<void *>(takeSlot())) ORVA_Value(src->slotAt(i));
         m_size = i + 1;
      }
      return;
   }
   m_dense = false;
   m_elements = static_cast<Element *>(malloc(sizeof(Element) * src->m_size));
   if (m_elements == nullptr)
      throw std::bad_alloc();
   m_allocated = src->m_size;
   for (int32_t i = 0; i < src->m_size; i++)
   {
      const Element *record = src->recordAt(i);
      ORVA_Value *copy = nullptr;
      if (record->value != nullptr)
      {
         copy = takeSlot();
         ::new (static_cast<void *>(copy)) ORVA_Value(record->value);
      }
      m_elements[i].index = record->index;
      m_elements[i].adopted = false;
      m_elements[i].value = copy;
      m_size = i + 1;
   }
}

ORVA_Array::~ORVA_Array()
{
   destroyValues();
   if (m_chunks != nullptr)
      delete m_chunks;
   else
      free(m_elements - m_front);
   for (int32_t page = 0; page < m_pageCount; page++)
      LargeBlockRelease(m_pages[page], pageBytes(page));
   free(m_pages);
}

void ORVA_Array::destroyValues() noexcept
{
   if (m_dense)
   {
      for (int32_t i = 0; i < m_size; i++)
         slotAt(i)->~ORVA_Value();
      return;
   }
   for (int32_t i = 0; i < m_size; i++)
   {
      const Element *record = recordAt(i);
      if (record->adopted)
         delete record->value;
      else if (record->value != nullptr)
         record->value->~ORVA_Value();
   }
}

// A slot for a new element's value, not constructed: a free one, or the next one, on a new
// page when the pages are full. Throws std::bad_alloc with nothing changed.
ORVA_Value *ORVA_Array::takeSlot()
{
   if (m_freeSlots != nullptr)
   {
      ORVA_Value *slot = m_freeSlots;
      m_freeSlots = *reinterpret_cast<ORVA_Value **>(slot);
      return slot;
   }
   if (m_slotCount == INT32_MAX)
      throw std::bad_alloc();
   if (m_slotCount == slotsIn(m_pageCount))
      addPage();
   return slotAt(m_slotCount++);
}

void ORVA_Array::addPage()
{
   if (m_pageCount == m_pagesAllocated)
   {
      const int32_t allocated = std::max(16, m_pagesAllocated * 2);
      auto *pages = static_cast<void **>(realloc(m_pages, sizeof(void *) * static_cast<size_t>(allocated)));
      if (pages == nullptr)
         throw std::bad_alloc();
      m_pages = pages;
      m_pagesAllocated = allocated;
   }
   void *page = LargeBlockAllocate(pageBytes(m_pageCount));
   if (page == nullptr)
      throw std::bad_alloc();
   m_pages[m_pageCount++] = page;
}

// Destroys the value in a slot and keeps the slot for the next new element.
void ORVA_Array::releaseSlot(ORVA_Value *slot) noexcept
{
   slot->~ORVA_Value();
   *reinterpret_cast<ORVA_Value **>(slot) = m_freeSlots;
   m_freeSlots = slot;
}

// Binary search in the flat list: the position of index when *found, else the position
// where it belongs.
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

// The record of index, or null. Inlined: the engine's element reads and stores come
// through here, mostly for arrays filled from 0 upwards.
__attribute__((always_inline)) inline ORVA_Array::Element *ORVA_Array::lookup(int index) const
{
   if (m_chunks != nullptr)
      return m_chunks->lookup(index);
   bool found;
   const int position = find(index, &found);
   return found ? &m_elements[position] : nullptr;
}

// The record at a position from 0 to size()-1.
const ORVA_Array::Element *ORVA_Array::recordAt(int position) const
{
   return (m_chunks != nullptr) ? m_chunks->at(position, m_size) : &m_elements[position];
}

ORVA_Value *ORVA_Array::get(int index) const
{
   if (m_dense)
      return denseElement(index);
   const Element *record = lookup(index);
   return (record != nullptr) ? record->value : nullptr;
}

ORVA_Value *ORVA_Array::getByPosition(int position) const
{
   if (position < 0 || position >= m_size)
      return nullptr;
   return m_dense ? slotAt(position) : recordAt(position)->value;
}

int ORVA_Array::getIndexAtPosition(int position) const
{
   if (position < 0 || position >= m_size)
      return 0;
   return m_dense ? m_base + position : recordAt(position)->index;
}

// The new contents go into the element's own slot, which keeps its address: arrays that
// are rewritten in place (a sieve) then keep their elements where they were made, next to
// each other in memory.
void ORVA_Array::assign(int index, ORVA_Value &value)
{
   if (m_dense)
   {
      const int64_t position = int64_t{index} - m_base;
      if (position >= 0 && position < m_size)
      {
         slotAt(static_cast<int32_t>(position))->swap(value);
         return;
      }
      if (m_size == 0 || position == m_size)
      {
         append(index, value);
         return;
      }
      makeRecords();
   }
   int position = 0;
   Element *record = recordFor(index, &position);
   if (record != nullptr && record->value != nullptr)
   {
      record->value->swap(value);
      return;
   }
   ORVA_Value *slot = ::new (static_cast<void *>(takeSlot())) ORVA_Value();
   slot->swap(value);
   if (record != nullptr)
   {
      record->value = slot;
      return;
   }
   try
   {
      insert(position, index, slot);
   }
   catch (const std::bad_alloc &)
   {
      slot->swap(value);
      releaseSlot(slot);
      throw;
   }
}

// The record of the element at index, or null with *position set to where its record
// goes in the flat list (chunks find their place themselves).
ORVA_Array::Element *ORVA_Array::recordFor(int index, int *position) const
{
   if (m_chunks != nullptr)
      return m_chunks->lookup(index);
   bool found;
   *position = find(index, &found);
   return found ? &m_elements[*position] : nullptr;
}

void ORVA_Array::assignNumber(int index, int32_t number)
{
   // An element holding no name and no reference takes the number in place, as a stored
   // copy would replace it: nothing released could reach this array.
   ORVA_Value *element = get(index);
   if (element != nullptr && OverwritePlainInt32(element, number))
      return;
   if (element != nullptr && element->getName() == nullptr && !element->isObject() && !element->isArray() &&
       !element->isIterator())
   {
      element->set(number);
      return;
   }
   if (m_dense && (m_size == 0 || int64_t{index} - m_base == m_size))
   {
      ::new (static_cast<void *>(takeSlot())) ORVA_Value(number);
      if (m_size == 0)
         m_base = index;
      m_size++;
      return;
   }
   ORVA_Value value(number);
   assign(index, value);
}

void ORVA_Array::append(int index, ORVA_Value &value)
{
   ORVA_Value *slot = ::new (static_cast<void *>(takeSlot())) ORVA_Value();
   slot->swap(value);
   if (m_size == 0)
      m_base = index;
   m_size++;
}

void ORVA_Array::set(int index, ORVA_Value *value)
{
   if (value == nullptr)
   {
      clear(index);
      return;
   }
   ORVA_Value *element = get(index);
   if (element == value)
      return;
   // The value goes when the element has taken its contents, or when memory runs out.
   std::unique_ptr<ORVA_Value> taken(value);
   if (element != nullptr)
   {
      element->swap(*value);
      return;
   }
   if (m_dense)
      makeRecords();
   int position = 0;
   Element *record = recordFor(index, &position);
   if (record != nullptr)
   {
      record->adopted = true;
      record->value = taken.release();
      return;
   }
   insert(position, index, value, true);
   taken.release();
}

// Stores no value at index: an element that is there loses its value, else a new one
// without a value is added.
void ORVA_Array::clear(int index)
{
   if (m_dense)
      makeRecords();
   int position = 0;
   Element *record = recordFor(index, &position);
   if (record == nullptr)
   {
      insert(position, index, nullptr);
      return;
   }
   if (record->adopted)
   {
      delete record->value;
      record->adopted = false;
   }
   else if (record->value != nullptr)
   {
      releaseSlot(record->value);
   }
   record->value = nullptr;
}

// Gives a dense array its records, one per element in one flat list, each pointing to the
// element's slot; the array stays as it was when memory runs out.
void ORVA_Array::makeRecords()
{
   if (m_size > 0)
   {
      m_elements = static_cast<Element *>(malloc(sizeof(Element) * static_cast<size_t>(m_size)));
      if (m_elements == nullptr)
         throw std::bad_alloc();
      for (int32_t i = 0; i < m_size; i++)
      {
         m_elements[i].index = m_base + i;
         m_elements[i].adopted = false;
         m_elements[i].value = slotAt(i);
      }
      m_allocated = m_size;
   }
   m_dense = false;
}

// Adds the record of a new index, which belongs at `position` of the flat list while
// there is one. Out of memory, the array stays as it was.
void ORVA_Array::insert(int position, int index, ORVA_Value *value, bool adopted)
{
   if (m_chunks == nullptr)
   {
      if (std::min(position, m_size - position) <= kChunkCapacity)
      {
         insertAt(position, index, value, adopted);
         return;
      }
      makeChunks();
   }
   m_chunks->insert(index, value, adopted);
   m_size++;
}

// Inserts a new record at `position` of the flat list, moving the shorter side of the
// list: the records before it into the room in front, or the records after it into the
// room behind. A full list grows by half; the new room goes behind it when it grows at
// the end (where realloc may extend the block in place), else half of it in front.
void ORVA_Array::insertAt(int position, int index, ORVA_Value *value, bool adopted)
{
   // A list with no room on the side that should move grows first: without room in front,
   // a store in the first half would move the whole list.
   const bool needsRoom = (m_front == 0) && (m_size == m_allocated || position < m_size / 2);
   if (needsRoom && !makeRoom(position == m_size))
      throw std::bad_alloc();
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
   m_elements[position].adopted = adopted;
   m_elements[position].value = value;
   m_size++;
}

// Grows a full flat list by half (see insertAt); false when memory runs out.
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

// Moves the records of the flat list into chunks; the list stays as it was when memory
// runs out on the way.
void ORVA_Array::makeChunks()
{
   auto chunks = std::make_unique<Chunks>();
   const size_t count = static_cast<size_t>((m_size + kChunkFill - 1) / kChunkFill);
   chunks->list.reserve(count);
   chunks->firsts.reserve(count);
   for (int32_t start = 0; start < m_size; start += kChunkFill)
   {
      auto chunk = std::make_unique<Chunks::Chunk>();
      chunk->count = std::min(kChunkFill, m_size - start);
      memcpy(chunk->records, &m_elements[start], sizeof(Element) * static_cast<size_t>(chunk->count));
      chunks->firsts.push_back(m_elements[start].index);
      chunks->list.push_back(std::move(chunk));
   }
   free(m_elements - m_front);
   m_elements = nullptr;
   m_front = 0;
   m_allocated = 0;
   m_chunks = chunks.release();
}
