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

// A block of at least `size` bytes; throws std::bad_alloc like operator new.
void *PoolAllocate(size_t size);

// Gives back a block from PoolAllocate of the same `size`; null is ignored.
void PoolRelease(void *block, size_t size);

#endif
