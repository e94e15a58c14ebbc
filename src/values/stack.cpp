// ORVA_Stack: the growable pointer stack of the engine and the compiler. push, pop, peek
// and peekList are inline in the header; only growth allocates.
#include "orva.h"

#include <cstdlib>

namespace {
const int32_t kStackInitialCapacity = 128;
const int32_t kStackGrowth = 64;
}

ORVA_Stack::ORVA_Stack()
   : m_capacity(kStackInitialCapacity), m_size(0),
     m_slots(static_cast<void **>(malloc(sizeof(void *) * kStackInitialCapacity)))
{
   if (m_slots == nullptr)
      abort();
}

ORVA_Stack::~ORVA_Stack()
{
   free(m_slots);
}

// Adds 64 slots. A stack that cannot grow cannot keep its promise to push, and the engine
// cannot go on without its stacks, so running out of memory here ends the process.
void ORVA_Stack::grow()
{
   void **slots = static_cast<void **>(realloc(m_slots, sizeof(void *) * (m_capacity + kStackGrowth)));
   if (slots == nullptr)
      abort();
   m_slots = slots;
   m_capacity += kStackGrowth;
}
