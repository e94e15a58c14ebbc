// ORVA_RegexCache: a small table of compiled expressions, replaced round-robin.
#include "vm/regex_cache.h"

#include <cstdlib>
#include <cstring>

ORVA_RegexCache::~ORVA_RegexCache()
{
   for (Entry &entry : m_entries)
   {
      if (entry.pattern != nullptr)
      {
         tre_regfree(&entry.expression);
         free(entry.pattern);
      }
   }
}

const regex_t *ORVA_RegexCache::get(const wchar_t *pattern, uint32_t length, int flags)
{
   for (Entry &entry : m_entries)
   {
      if (entry.pattern != nullptr && entry.length == length && entry.flags == flags &&
          (length == 0 || wmemcmp(entry.pattern, pattern, length) == 0))
         return &entry.expression;
   }

   auto *copy = static_cast<wchar_t *>(malloc((static_cast<size_t>(length) + 1) * sizeof(wchar_t)));
   if (copy == nullptr)
      return nullptr;
   if (length > 0)
      memcpy(copy, pattern, static_cast<size_t>(length) * sizeof(wchar_t));
   copy[length] = 0;

   Entry &entry = m_entries[m_nextVictim];
   m_nextVictim = (m_nextVictim + 1) % kEntries;
   if (entry.pattern != nullptr)
   {
      tre_regfree(&entry.expression);
      free(entry.pattern);
      entry.pattern = nullptr;
   }
   if (tre_regwncomp(&entry.expression, copy, length, flags) != 0)
   {
      free(copy);
      return nullptr;
   }
   entry.pattern = copy;
   entry.length = length;
   entry.flags = flags;
   return &entry.expression;
}
