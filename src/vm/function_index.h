// A hash index over a program's function table, so that registering a function (which
// refuses a name already taken) and resolving calls by name take constant time instead
// of a walk through every function: a script with thousands of functions would otherwise
// compile in time quadratic in their number.
//
// The index holds positions into the table, not names, so the table may move when it
// grows. It covers the table's first coveredCount() entries, whose names never change:
// entries are only appended (functions, linked modules) and cut off again at the end of a
// run. update() indexes what was appended since and starts over when the table has become
// shorter. Only the first entry of a name is indexed, as a walk from the start would find it.
#ifndef ORVA_VM_FUNCTION_INDEX_H
#define ORVA_VM_FUNCTION_INDEX_H

#include <orva.h>

#include <cstdint>
#include <vector>

class ORVA_FunctionIndex
{
public:
   // Brings the index up to the first count entries of functions. Returns false, with the
   // index left empty, when memory runs out; callers then walk the table instead.
   bool update(const ORVA_FunctionEntry *functions, uint32_t count) noexcept;

   // Position of the first covered entry named exactly name, or ORVA_INVALID_ADDRESS.
   uint32_t find(const ORVA_FunctionEntry *functions, const wchar_t *name) const;

   uint32_t coveredCount() const { return m_covered; }

private:
   void insert(const ORVA_FunctionEntry *functions, uint32_t position);
   void rehash(const ORVA_FunctionEntry *functions, size_t slotCount);

   // Open addressing with linear probing: position + 1 per used slot, 0 for a free one.
   // The slot count is a power of two and at least twice the number of used slots.
   std::vector<uint32_t> m_slots;
   uint32_t m_used = 0;
   uint32_t m_covered = 0;
};

#endif
