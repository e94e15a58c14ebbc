// Where an array's value slots are (see array.cpp): inline, for the element reads and
// stores of dense arrays that the engine makes in its loops.
#ifndef ORVA_VALUES_ARRAY_SLOTS_H
#define ORVA_VALUES_ARRAY_SLOTS_H

#include <cstdint>

#include <orva.h>

// The value slot pages: kFirstArrayPage slots, doubling with every page, so that the page
// and the offset of a slot come from its number with one count of leading zeros, and a
// big array has a few big pages, which the pool keeps for the next array when it goes.
constexpr int32_t kFirstArrayPage = 8;

__attribute__((always_inline)) inline ORVA_Value *ORVA_Array::slotAt(int32_t slot) const
{
   const int32_t page = 31 - __builtin_clz(static_cast<uint32_t>(slot / kFirstArrayPage + 1));
   const int32_t offset = slot - kFirstArrayPage * ((1 << page) - 1);
   return static_cast<ORVA_Value *>(m_pages[page]) + offset;
}

__attribute__((always_inline)) inline ORVA_Value *ORVA_Array::denseElement(int index) const
{
   const int64_t position = int64_t{index} - m_base;
   return (m_dense && position >= 0 && position < m_size) ? slotAt(static_cast<int32_t>(position)) : nullptr;
}

#endif
