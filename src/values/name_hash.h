// Hashing and comparing names for the hash indexes of variable sets and the built-in
// table. Names are short ("i", "$1", "count", "substr"): plain loops beat library calls.
#ifndef ORVA_VALUES_NAME_HASH_H
#define ORVA_VALUES_NAME_HASH_H

#include <cstdint>
#include <cwchar>

inline uint32_t HashName(const wchar_t *name)
{
   uint32_t hash = 2166136261u;   // FNV-1a
   for (; *name != 0; name++)
   {
      hash ^= static_cast<uint32_t>(*name);
      hash *= 16777619u;
   }
   return hash;
}

inline bool SameName(const wchar_t *a, const wchar_t *b)
{
   while (*a == *b && *a != 0)
   {
      a++;
      b++;
   }
   return *a == *b;
}

#endif
