// The compiled regular expressions of one program, keyed by pattern text and flags, so
// that a MATCH in a loop compiles its pattern once instead of on every test. Belongs to a
// program (which never runs on two threads at once); released with it.
#ifndef ORVA_VM_REGEX_CACHE_H
#define ORVA_VM_REGEX_CACHE_H

#include <cstddef>
#include <cstdint>
#include <cwchar>

#include <tre/tre.h>

class ORVA_RegexCache
{
public:
   ORVA_RegexCache() = default;
   ~ORVA_RegexCache();
   ORVA_RegexCache(const ORVA_RegexCache &) = delete;
   ORVA_RegexCache &operator=(const ORVA_RegexCache &) = delete;

   // The expression compiled from pattern (length characters) with the tre flags, or null
   // when it does not compile. The pointer stays valid until the next call. *stackBytes
   // receives how much native stack matching it will take (see matchFitsStack).
   const regex_t *get(const wchar_t *pattern, uint32_t length, int flags, size_t *stackBytes);

   // Whether a match that takes stackBytes of native stack fits on the calling thread.
   // TRE's matcher keeps its tables on the stack (about 8 bytes per tag and state), so a
   // pattern with hundreds of groups would overflow a thread's stack and crash the host;
   // such a pattern is refused as an invalid regular expression instead.
   static bool matchFitsStack(size_t stackBytes);

private:
   // Scripts use a handful of patterns; a program with more simply recompiles some.
   static constexpr int kEntries = 16;

   struct Entry
   {
      wchar_t *pattern = nullptr;
      uint32_t length = 0;
      int flags = 0;
      size_t stackBytes = 0;
      regex_t expression;
   };

   Entry m_entries[kEntries];
   int m_nextVictim = 0;
};

#endif
