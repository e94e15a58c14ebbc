// Per-thread free lists of small blocks and of text buffers (see pool.h).
//
// The list heads live in a trivially destructible thread_local, which stays readable while
// the thread's other thread_locals are destroyed; a second thread_local with a destructor
// empties the lists at thread exit and closes the pool, after which blocks go straight
// back to the C allocator.
#include "values/pool.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
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

// Blocks are sized in steps of 8 bytes up to 64 bytes (a value and a variable are 24).
constexpr size_t kPoolGranule = 8;
constexpr size_t kPoolClasses = 8;

// Enough to absorb the churn of a call or an expression; more only hoards memory after a
// large array is released.
constexpr uint32_t kPoolMaxBlocks = 4096;

// Text classes are powers of two from 16 bytes (three characters and the terminator) to
// kTextPoolLargest: a text that grows by appending moves to a class twice as large, so
// the class is also the text's spare room.
constexpr size_t kTextSmallest = 16;
constexpr size_t kTextClasses = 8;
static_assert(kTextSmallest << (kTextClasses - 1) == kTextPoolLargest, "text classes end at kTextPoolLargest");

// A text list keeps at most this many bytes, so that the largest class hoards no more
// than a small one.
constexpr size_t kTextListBytes = 128 * 1024;

struct FreeBlock
{
   FreeBlock *next;
};

struct LargeBlock
{
   void *block;
   size_t size;
};

struct ThreadPool
{
   LargeBlock large[kLargeBlocksKept];
   size_t largeCount;
   size_t largeBytes;
   FreeBlock *heads[kPoolClasses];
   uint32_t counts[kPoolClasses];
   FreeBlock *textHeads[kTextClasses];
   uint32_t textCounts[kTextClasses];
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
      for (size_t textClass = 0; textClass < kTextClasses; textClass++)
      {
         while (t_pool.textHeads[textClass] != nullptr)
         {
            FreeBlock *block = t_pool.textHeads[textClass];
            t_pool.textHeads[textClass] = block->next;
            free(block);
         }
         t_pool.textCounts[textClass] = 0;
      }
      for (size_t i = 0; i < t_pool.largeCount; i++)
         free(t_pool.large[i].block);
      t_pool.largeCount = 0;
      t_pool.largeBytes = 0;
      t_pool.closed = true;
   }
   void open() {}
};

thread_local PoolCloser t_closer;

inline size_t sizeClassOf(size_t size)
{
   return (size + kPoolGranule - 1) / kPoolGranule - 1;
}

// Puts a block at the head of a free list.
inline void keepBlock(FreeBlock **head, uint32_t *count, void *block)
{
   auto *freeBlock = static_cast<FreeBlock *>(block);
   freeBlock->next = *head;
   *head = freeBlock;
   (*count)++;
}

// The first use of t_closer registers its destructor for this thread's exit.
void registerPool()
{
   t_closer.open();
   t_pool.registered = true;
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
      registerPool();
   keepBlock(&t_pool.heads[sizeClass], &t_pool.counts[sizeClass], block);
}

}  // namespace

void PoolRelease(void *block, size_t size)
{
   const size_t sizeClass = sizeClassOf(size);
   if (block != nullptr && sizeClass < kPoolClasses && t_pool.registered && !t_pool.closed &&
       t_pool.counts[sizeClass] < kPoolMaxBlocks)
   {
      keepBlock(&t_pool.heads[sizeClass], &t_pool.counts[sizeClass], block);
      return;
   }
   releaseSlowly(block, sizeClass);
}

namespace {

// The class of a text block of `size` bytes (at most kTextPoolLargest).
inline size_t textClassOf(size_t size)
{
   if (size <= kTextSmallest)
      return 0;
   // The bit width of size - 1, less that of kTextSmallest - 1.
   return static_cast<size_t>(64 - __builtin_clzll(static_cast<unsigned long long>(size - 1))) - 4;
}

inline uint32_t textListLimit(size_t textClass)
{
   const size_t blocks = kTextListBytes / (kTextSmallest << textClass);
   return blocks < kPoolMaxBlocks ? static_cast<uint32_t>(blocks) : kPoolMaxBlocks;
}

}  // namespace

void *TextAllocate(size_t size, size_t *capacity)
{
   if (size > kTextPoolLargest)
   {
      *capacity = size;
      return malloc(size);
   }
   const size_t textClass = textClassOf(size);
   *capacity = kTextSmallest << textClass;
   FreeBlock *block = t_pool.textHeads[textClass];
   if (block != nullptr)
   {
      t_pool.textHeads[textClass] = block->next;
      t_pool.textCounts[textClass]--;
      return block;
   }
   return malloc(*capacity);
}

void *TextGrow(void *block, size_t capacity, size_t used, size_t size, size_t *newCapacity)
{
   if (size <= capacity)
   {
      *newCapacity = capacity;
      return block;
   }
   // Between large blocks realloc may grow in place. They grow by half at least, so that a
   // text built by appending is copied a bounded number of times in all.
   if (capacity > kTextPoolLargest)
   {
      const size_t roomy = capacity + capacity / 2;
      const size_t grownSize = (size < roomy) ? roomy : size;
      void *grown = realloc(block, grownSize);
      if (grown != nullptr)
         *newCapacity = grownSize;
      return grown;
   }
   void *grown = TextAllocate(size, newCapacity);
   if (grown == nullptr)
      return nullptr;
   if (used > 0)
      memcpy(grown, block, used);
   TextRelease(block, capacity);
   return grown;
}

namespace {

// TextRelease's rare cases, out of line like releaseSlowly: a null or large block, a
// closed or full list, and the first release of the thread.
__attribute__((noinline)) void releaseTextSlowly(void *block, size_t capacity)
{
   if (block == nullptr)
      return;
   if (capacity > kTextPoolLargest || t_pool.closed)
   {
      free(block);
      return;
   }
   const size_t textClass = textClassOf(capacity);
   if (t_pool.textCounts[textClass] >= textListLimit(textClass))
   {
      free(block);
      return;
   }
   if (!t_pool.registered)
      registerPool();
   keepBlock(&t_pool.textHeads[textClass], &t_pool.textCounts[textClass], block);
}

}  // namespace

void TextRelease(void *block, size_t capacity)
{
   if (block != nullptr && capacity <= kTextPoolLargest && t_pool.registered && !t_pool.closed)
   {
      const size_t textClass = textClassOf(capacity);
      if (t_pool.textCounts[textClass] < textListLimit(textClass))
      {
         keepBlock(&t_pool.textHeads[textClass], &t_pool.textCounts[textClass], block);
         return;
      }
   }
   releaseTextSlowly(block, capacity);
}

void *LargeBlockAllocate(size_t size)
{
   if (size < kLargeBlockSmallest)
      return malloc(size);
   for (size_t i = 0; i < t_pool.largeCount; i++)
   {
      if (t_pool.large[i].size != size)
         continue;
      void *block = t_pool.large[i].block;
      t_pool.large[i] = t_pool.large[--t_pool.largeCount];
      t_pool.largeBytes -= size;
      return block;
   }
   return malloc(size);
}

void LargeBlockRelease(void *block, size_t size)
{
   if (block == nullptr)
      return;
   if (size < kLargeBlockSmallest || t_pool.closed || t_pool.largeCount == kLargeBlocksKept ||
       t_pool.largeBytes + size > kLargeBlockCacheBytes)
   {
      free(block);
      return;
   }
   if (!t_pool.registered)
      registerPool();
   t_pool.large[t_pool.largeCount++] = LargeBlock{block, size};
   t_pool.largeBytes += size;
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

void *TextAllocate(size_t size, size_t *capacity)
{
   *capacity = size;
   return malloc(size);
}

void *TextGrow(void *block, size_t capacity, size_t, size_t size, size_t *newCapacity)
{
   if (size <= capacity)
   {
      *newCapacity = capacity;
      return block;
   }
   void *grown = realloc(block, size);
   if (grown != nullptr)
      *newCapacity = size;
   return grown;
}

void TextRelease(void *block, size_t)
{
   free(block);
}

void *LargeBlockAllocate(size_t size)
{
   return malloc(size);
}

void LargeBlockRelease(void *block, size_t)
{
   free(block);
}

#endif
