// The block pool behind ORVA_Value and ORVA_Variable: small fixed-size blocks that a run
// makes and drops millions of times are kept on per-thread free lists instead of going
// back to the C allocator at once.
//
// Each block is an ordinary allocation of its size class, so a block may be released on
// another thread than the one that made it (a host reads a result on another thread); it
// then joins that thread's list. A list keeps at most kPoolMaxBlocks blocks, and a
// thread's lists are given back to the C allocator when the thread ends. Builds with
// AddressSanitizer bypass the pool, so that leaks and use-after-free stay visible.
#ifndef ORVA_VALUES_POOL_H
#define ORVA_VALUES_POOL_H

#include <cstddef>
#include <cstdint>

// A block of at least `size` bytes; throws std::bad_alloc like operator new.
void *PoolAllocate(size_t size);

// Gives back a block from PoolAllocate of the same `size`; null is ignored.
void PoolRelease(void *block, size_t size);

// Text buffers have pools of their own, in power-of-two classes from 16 bytes up to
// kTextPoolLargest; larger texts come straight from malloc. A text block may be released
// on another thread than the one that made it, like the blocks above. Running out of
// memory gives null, as malloc does.
constexpr size_t kTextPoolLargest = 2048;

// A text block of at least `size` bytes, or null; *capacity receives its usable size,
// which the caller gives back to TextGrow and TextRelease.
void *TextAllocate(size_t size, size_t *capacity);

// Like realloc for a block from TextAllocate: a block of at least `size` bytes holding
// the first `used` bytes of `block`, which is given up; or null, and `block` stays.
void *TextGrow(void *block, size_t capacity, size_t used, size_t size, size_t *newCapacity);

// Gives back a block from TextAllocate or TextGrow with its capacity; null is ignored.
void TextRelease(void *block, size_t capacity);

// Large blocks, such as the value pages of a big array that a function makes and drops on
// every call: a thread keeps up to kLargeBlockCacheBytes of released ones, at most
// kLargeBlocksKept, and hands one back for a request of the same size. Given back to the
// C allocator, a freed large block is returned to the system, and the next array of that
// size faults its memory in again page by page, which costs more than filling it.
// Blocks below kLargeBlockSmallest are left to the C allocator, which reuses them well.
constexpr size_t kLargeBlockSmallest = 128 * 1024;
constexpr size_t kLargeBlockCacheBytes = 32 * 1024 * 1024;
constexpr size_t kLargeBlocksKept = 12;

// A block of exactly `size` bytes (any size), or null when memory runs out.
void *LargeBlockAllocate(size_t size);

// Gives back a block from LargeBlockAllocate of the same `size`; null is ignored.
void LargeBlockRelease(void *block, size_t size);

// The room of a text block in one byte, for values that keep no more: (8 + m) << e bytes
// with m the low three bits of the code and e the rest, rounded down. The pool's classes,
// powers of two, are coded exactly; a large block may have up to an eighth more room than
// its code says, which only makes a growing text move a little earlier. A block given to
// TextRelease or TextGrow with less room than it has is handled as one of that room.
constexpr size_t kTextRoomSmallest = 8;

inline uint8_t TextRoomCode(size_t bytes)
{
   const int width = 64 - __builtin_clzll(static_cast<unsigned long long>(bytes));
   const int exponent = width - 4;
   return static_cast<uint8_t>((exponent << 3) | static_cast<int>((bytes >> exponent) - 8));
}

inline size_t TextRoomOf(uint8_t code)
{
   return static_cast<size_t>(8 + (code & 7)) << (code >> 3);
}

#endif
