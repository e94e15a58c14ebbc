// ORVA_Stack: the growable pointer stack of the engine and the compiler. push, pop, peek
// and peekList are inline in the header; only growth allocates.
#include "orva.h"

#include <cstdlib>
#include <new>

namespace {
const int32_t kStackInitialCapacity = 128;
const int32_t kStackGrowth = 64;
}

ORVA_Stack::ORVA_Stack()
   : m_capacity(kStackInitialCapacity), m_size(0),
     m_slots(static_cast<void **>(malloc(sizeof(void *) * kStackInitialCapacity)))
{
   if (m_slots == nullptr)
      throw std::bad_alloc();
}

ORVA_Stack::~ORVA_Stack()
{
   free(m_slots);
}

// Adds 64 slots. A stack that cannot grow cannot keep its promise to push: it throws
// std::bad_alloc, which the library's entry points turn into an "Out of memory" error.
void ORVA_Stack::grow()
{
   void **slots = static_cast<void **>(realloc(m_slots, sizeof(void *) * (m_capacity + kStackGrowth)));
   if (slots == nullptr)
      throw std::bad_alloc();
   m_slots = slots;
   m_capacity += kStackGrowth;
}
