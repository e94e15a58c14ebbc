// Queue: a FIFO of untyped pointers kept in a ring buffer that doubles when full.
#include "platform/platform.h"

#include <cstdlib>
#include <cstring>

namespace {
const int kInitialQueueCapacity = 16;
}

Queue::Queue() : m_items(nullptr), m_head(0), m_count(0), m_capacity(0)
{
}

Queue::~Queue()
{
   free(m_items);
}

void Queue::Put(void *item)
{
   if (m_count == m_capacity)
   {
      int capacity = m_capacity > 0 ? m_capacity * 2 : kInitialQueueCapacity;
      void **items = static_cast<void **>(malloc(sizeof(void *) * capacity));
      if (items == nullptr)
         return;
      // Unwrap the ring so the oldest item is at slot 0 again.
      for (int i = 0; i < m_count; i++)
         items[i] = m_items[(m_head + i) % m_capacity];
      free(m_items);
      m_items = items;
      m_capacity = capacity;
      m_head = 0;
   }
   m_items[(m_head + m_count) % m_capacity] = item;
   m_count++;
}

void *Queue::Get()
{
   if (m_count == 0)
      return nullptr;
   void *item = m_items[m_head];
   m_head = (m_head + 1) % m_capacity;
   m_count--;
   return item;
}

int Queue::Size() const
{
   return m_count;
}
