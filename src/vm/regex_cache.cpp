// ORVA_RegexCache: a small table of compiled expressions, replaced round-robin.
#include "vm/regex_cache.h"

#include <pthread.h>

#include <cstdlib>
#include <cstring>

namespace {

// The head of TRE 0.8's compiled automaton (struct tnfa in its tre-internal.h): the counts
// of tags and states size the tables its matcher allocates on the stack.
struct TreAutomatonHead
{
   void *transitions;
   unsigned int numTransitions;
   void *initial;
   void *final;
   void *submatchData;
   char *firstposChars;
   int firstChar;
   unsigned int numSubmatches;
   void *tagDirections;
   int *minimalTags;
   int numTags;
   int numMinimals;
   int endTag;
   int numStates;
};

// What tre_tnfa_run_parallel puts on the stack: two reach tables of a state pointer, an id
// and a tag array of numTags ints per state, the tag arrays, and position records.
size_t matchStackBytes(const regex_t *expression)
{
   const auto *head = static_cast<const TreAutomatonHead *>(expression->value);
   if (head == nullptr || head->numTags < 0 || head->numStates < 0)
      return SIZE_MAX;   // not the layout this code knows: refuse rather than risk the stack
   const size_t tags = static_cast<size_t>(head->numTags);
   const size_t states = static_cast<size_t>(head->numStates) + 1;
   return 2 * states * (3 * sizeof(void *) + tags * sizeof(int)) + 2 * tags * sizeof(int) + 1024;
}

// Most positions a compiled pattern may have. TRE writes bounded repetitions out in full,
// so nested ones multiply ("((a{255}){255}){255}" would be 16 million positions and gigabytes
// of memory); this allows every pattern a script reasonably writes.
constexpr uint64_t kMaxPatternPositions = 100000;

uint64_t saturatingProduct(uint64_t a, uint64_t b)
{
   return (b != 0 && a > kMaxPatternPositions * 16 / b) ? kMaxPatternPositions * 16 : a * b;
}

// Whether a pattern is one ORVA hands to TRE. Two kinds are refused before compiling:
// - patterns whose written-out size exceeds kMaxPatternPositions. An upper bound of the
//   positions TRE makes: literals, bracket expressions and escapes count one, alternatives
//   add up, and a bounded repetition multiplies the atom before it by its upper bound;
// - bounds holding anything but digits, a comma and blanks: TRE reads "{+1}", "{~2}",
//   "{#1}" or "{1<2}" as approximate-matching costs, which are not part of extended regular
//   expressions, and crashes compiling them inside a repeated group ("(a{+1}){2}").
bool patternAcceptable(const wchar_t *pattern, uint32_t length)
{
   struct Level { uint64_t total; uint64_t lastAtom; };
   Level levels[64];
   int depth = 0;
   levels[0] = {0, 0};
   for (uint32_t i = 0; i < length; i++)
   {
      Level &level = levels[depth];
      const wchar_t c = pattern[i];
      if (c == L'(' && depth + 1 < 64)
      {
         levels[++depth] = {0, 0};
         continue;
      }
      if (c == L')' && depth > 0)
      {
         const uint64_t group = levels[depth--].total + 1;
         levels[depth].total += group;
         levels[depth].lastAtom = group;
         continue;
      }
      if (c == L'{')
      {
         uint64_t bound = 0;
         uint32_t j = i + 1;
         for (; j < length && pattern[j] != L'}'; j++)
         {
            if (pattern[j] >= L'0' && pattern[j] <= L'9')
               bound = (bound > kMaxPatternPositions) ? bound : bound * 10 + static_cast<uint64_t>(pattern[j] - L'0');
            else if (pattern[j] == L',')
               bound = 0;   // the upper bound follows the comma; {m,} counts as {m}
            else if (pattern[j] != L' ')
               return false;
         }
         if (bound == 0)
            bound = 1;
         const uint64_t grown = saturatingProduct(level.lastAtom, bound);
         level.total += grown - level.lastAtom;
         level.lastAtom = grown;
         i = j;
         continue;
      }
      if (c == L'[')
      {
         uint32_t j = i + 1;
         if (j < length && pattern[j] == L'^')
            j++;
         if (j < length && pattern[j] == L']')
            j++;
         while (j < length && pattern[j] != L']')
            j++;
         i = j;
      }
      else if (c == L'\\')
         i++;
      else if (c == L'*' || c == L'+' || c == L'?' || c == L'|' || c == L'^' || c == L'$')
         continue;
      level.total += 1;
      level.lastAtom = 1;
      if (level.total > kMaxPatternPositions)
         return false;
   }
   uint64_t total = 0;
   for (int d = 0; d <= depth; d++)
      total += levels[d].total;
   return total <= kMaxPatternPositions;
}

// Matches this small run inline without asking how much stack is left.
constexpr size_t kSmallMatchStack = 64 * 1024;

// Kept free below the matcher's tables for the matcher's own frames and what it calls.
constexpr size_t kStackReserve = 128 * 1024;

}  // namespace

bool ORVA_RegexCache::matchFitsStack(size_t stackBytes)
{
   if (stackBytes <= kSmallMatchStack)
      return true;
   pthread_attr_t attributes;
   if (pthread_getattr_np(pthread_self(), &attributes) != 0)
      return false;
   void *low = nullptr;
   size_t size = 0;
   const int rc = pthread_attr_getstack(&attributes, &low, &size);
   pthread_attr_destroy(&attributes);
   if (rc != 0)
      return false;
   const auto here = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
   const auto bottom = reinterpret_cast<uintptr_t>(low);
   if (here <= bottom)
      return false;
   const size_t available = here - bottom;
   return available > kStackReserve && stackBytes < available - kStackReserve;
}

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

const regex_t *ORVA_RegexCache::get(const wchar_t *pattern, uint32_t length, int flags, size_t *stackBytes)
{
   for (Entry &entry : m_entries)
   {
      if (entry.pattern != nullptr && entry.length == length && entry.flags == flags &&
          (length == 0 || wmemcmp(entry.pattern, pattern, length) == 0))
      {
         *stackBytes = entry.stackBytes;
         return &entry.expression;
      }
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
   if (!patternAcceptable(copy, length) ||
       tre_regwncomp(&entry.expression, copy, length, flags) != 0)
   {
      free(copy);
      return nullptr;
   }
   entry.pattern = copy;
   entry.length = length;
   entry.flags = flags;
   entry.stackBytes = matchStackBytes(&entry.expression);
   *stackBytes = entry.stackBytes;
   return &entry.expression;
}
