// Growth of the program's heap arrays (code, function table). They are plain malloc'ed
// arrays because the engine trims them at the end of every run by count alone; growing
// them geometrically keeps appending linear in the number of entries.
#ifndef ORVA_PROGRAM_GROWTH_H
#define ORVA_PROGRAM_GROWTH_H

#include <cstdint>
#include <cstdlib>

// Makes room for at least `needed` entries in *array, whose capacity is *allocated.
// Returns false, leaving both untouched, when memory is exhausted.
template <typename T>
inline bool reserveEntries(T **array, uint32_t *allocated, uint64_t needed)
{
   if (needed <= *allocated)
      return true;
   if (needed > 0xFFFFFFFFu)
      return false;
   uint64_t capacity = (*allocated < 16) ? 16 : static_cast<uint64_t>(*allocated) * 2;
   if (capacity < needed)
      capacity = needed;
   if (capacity > 0xFFFFFFFFu)
      capacity = 0xFFFFFFFFu;
   T *grown = static_cast<T *>(realloc(*array, static_cast<size_t>(capacity) * sizeof(T)));
   if (grown == nullptr)
      return false;
   *array = grown;
   *allocated = static_cast<uint32_t>(capacity);
   return true;
}

#endif
