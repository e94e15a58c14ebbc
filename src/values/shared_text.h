// Text buffers that several values share: copying a value that holds a text adds a holder
// to its buffer instead of copying the characters, and a value that is about to change its
// text in place first makes the text its own when others hold it (copy on write).
//
// The count of holders sits in front of the characters, in the same block from the text
// pool, so a value still points straight at its characters and stays 24 bytes. Values
// move between threads (a host may copy a result on one thread while another drops its
// copy), so the count is atomic: adding a holder needs no order, since the one who adds
// already holds the buffer; dropping one orders every earlier use of the characters
// before the block goes back to the pool. A sole holder, the common case, drops its
// buffer without an atomic write: nobody else can add a holder to it meanwhile. So does
// a process that has never started a second thread (the C library keeps that flag, and
// starting a thread orders every count written before it): an atomic read-modify-write
// costs as much as the rest of a copy, and a runner or a single-threaded host copies
// texts on nearly every instruction.
#ifndef ORVA_VALUES_SHARED_TEXT_H
#define ORVA_VALUES_SHARED_TEXT_H

#include "values/pool.h"

#include <sys/single_threaded.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <new>

struct SharedTextHeader
{
   std::atomic<uint32_t> holders;
};

// The header is as large as a character, so the characters stay aligned.
constexpr size_t kSharedTextHeader = sizeof(SharedTextHeader);
static_assert(kSharedTextHeader == sizeof(wchar_t), "the header keeps the characters aligned");
static_assert(std::atomic<uint32_t>::is_always_lock_free, "holders are counted without a lock");

inline SharedTextHeader *SharedTextHeaderOf(const wchar_t *text)
{
   return reinterpret_cast<SharedTextHeader *>(reinterpret_cast<uintptr_t>(text) - kSharedTextHeader);
}

// A buffer with room for `characters` characters (the terminator included) and one holder,
// or null when memory ran out; *capacity receives the room of the whole block in bytes.
inline wchar_t *NewSharedText(size_t characters, size_t *capacity)
{
   void *block = TextAllocate(kSharedTextHeader + characters * sizeof(wchar_t), capacity);
   if (block == nullptr)
      return nullptr;
   new (block) SharedTextHeader{{1}};
   return reinterpret_cast<wchar_t *>(static_cast<char *>(block) + kSharedTextHeader);
}

// Characters a block of `capacity` bytes has room for, the terminator included.
inline size_t SharedTextCharacters(size_t capacity)
{
   return (capacity - kSharedTextHeader) / sizeof(wchar_t);
}

// One more value holds the text.
inline void ShareText(const wchar_t *text)
{
   std::atomic<uint32_t> &holders = SharedTextHeaderOf(text)->holders;
   if (__libc_single_threaded)
      holders.store(holders.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
   else
      holders.fetch_add(1, std::memory_order_relaxed);
}

// Whether values other than the caller, itself a holder, hold the text.
inline bool IsTextShared(const wchar_t *text)
{
   return SharedTextHeaderOf(text)->holders.load(std::memory_order_acquire) != 1;
}

// The caller gives up its hold on the text (null is ignored); the last holder gives the
// block back.
inline void DropText(wchar_t *text, size_t capacity)
{
   if (text == nullptr)
      return;
   SharedTextHeader *header = SharedTextHeaderOf(text);
   const uint32_t holders = header->holders.load(std::memory_order_acquire);
   if (holders != 1 && __libc_single_threaded)
   {
      header->holders.store(holders - 1, std::memory_order_relaxed);
      return;
   }
   if (holders != 1 && header->holders.fetch_sub(1, std::memory_order_acq_rel) != 1)
      return;
   TextRelease(header, capacity);
}

// Like TextGrow for a text the caller alone holds: a buffer with room for `characters`
// characters holding the first `used` characters, or null and the text stays.
inline wchar_t *GrowOwnText(wchar_t *text, size_t capacity, size_t used, size_t characters, size_t *newCapacity)
{
   void *block = TextGrow(SharedTextHeaderOf(text), capacity, kSharedTextHeader + used * sizeof(wchar_t),
                          kSharedTextHeader + characters * sizeof(wchar_t), newCapacity);
   if (block == nullptr)
      return nullptr;
   return reinterpret_cast<wchar_t *>(static_cast<char *>(block) + kSharedTextHeader);
}

#endif
