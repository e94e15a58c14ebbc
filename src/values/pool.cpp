// Per-thread free lists of small blocks (see pool.h).
//
// The list heads live in a trivially destructible thread_local, which stays readable while
// the thread's other thread_locals are destroyed; a second thread_local with a destructor
// empties the lists at thread exit and closes the pool, after which blocks go straight
// back to the C allocator.
#include "values/pool.h"

#include <cstdint>
#include <new>

// GCC says __SANITIZE_ADDRESS__, clang says __has_feature(address_sanitizer).
#if defined(__SANITIZE_ADDRESS__)
#define ORVA_POOL_DISABLED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ORVA_POOL_DISABLED 1
#endif
#endif

#ifndef ORVA_POOL_DISABLED

namespace {

// Blocks are sized in steps of 16 bytes up to 64 bytes (a value is 40, a variable 24).
constexpr size_t kPoolGranule = 16;
constexpr size_t kPoolClasses = 4;

// Enough to absorb the churn of a call or an expression; more only hoards memory after a
// large array is released.
constexpr uint32_t kPoolMaxBlocks = 4096;

struct FreeBlock
{
   FreeBlock *next;
};

struct ThreadPool
{
   FreeBlock *heads[kPoolClasses];
   uint32_t counts[kPoolClasses];
   bool registered;
   bool closed;
};

// initial-exec: the lists are reached without a call into the dynamic loader; the few
// bytes come from the static TLS space that the loader reserves for libraries.
__attribute__((tls_model("initial-exec"))) thread_local ThreadPool t_pool;

struct PoolCloser
{
   ~PoolCloser()
   {
      for (size_t sizeClass = 0; sizeClass < kPoolClasses; sizeClass++)
      {
         while (t_pool.heads[sizeClass] != nullptr)
         {
            FreeBlock *block = t_pool.heads[sizeClass];
            t_pool.heads[sizeClass] = block->next;
            ::operator delete(block);
         }
         t_pool.counts[sizeClass] = 0;
      }
      t_pool.closed = true;
   }
   void open() {}
};

thread_local PoolCloser t_closer;

inline size_t sizeClassOf(size_t size)
{
   return (size + kPoolGranule - 1) / kPoolGranule - 1;
}

}  // namespace

void *PoolAllocate(size_t size)
{
   const size_t sizeClass = sizeClassOf(size);
   if (sizeClass < kPoolClasses)
   {
      FreeBlock *block = t_pool.heads[sizeClass];
      if (block != nullptr)
      {
         t_pool.heads[sizeClass] = block->next;
         t_pool.counts[sizeClass]--;
         return block;
      }
      return ::operator new((sizeClass + 1) * kPoolGranule);
   }
   return ::operator new(size);
}

namespace {

// PoolRelease's rare cases, out of line so that the common one needs no stack frame: a
// null block, a block too large for the lists, a closed or full list, and the first
// release of the thread.
__attribute__((noinline)) void releaseSlowly(void *block, size_t sizeClass)
{
   if (block == nullptr)
      return;
   if (sizeClass >= kPoolClasses || t_pool.closed || t_pool.counts[sizeClass] >= kPoolMaxBlocks)
   {
      ::operator delete(block);
      return;
   }
   if (!t_pool.registered)
   {
      // The first use of t_closer registers its destructor for this thread's exit.
      t_closer.open();
      t_pool.registered = true;
   }
   auto *freeBlock = static_cast<FreeBlock *>(block);
   freeBlock->next = t_pool.heads[sizeClass];
   t_pool.heads[sizeClass] = freeBlock;
   t_pool.counts[sizeClass]++;
}

}  // namespace

void PoolRelease(void *block, size_t size)
{
   const size_t sizeClass = sizeClassOf(size);
   if (block != nullptr && sizeClass < kPoolClasses && t_pool.registered && !t_pool.closed &&
       t_pool.counts[sizeClass] < kPoolMaxBlocks)
   {
      auto *freeBlock = static_cast<FreeBlock *>(block);
      freeBlock->next = t_pool.heads[sizeClass];
      t_pool.heads[sizeClass] = freeBlock;
      t_pool.counts[sizeClass]++;
      return;
   }
   releaseSlowly(block, sizeClass);
}

#else

void *PoolAllocate(size_t size)
{
   return ::operator new(size);
}

void PoolRelease(void *block, size_t)
{
   ::operator delete(block);
}

#endif
