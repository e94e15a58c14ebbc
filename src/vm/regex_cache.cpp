// ORVA_RegexCache: a small table of compiled expressions, replaced round-robin.
#include "vm/regex_cache.h"

#include "vm/pattern_cost.h"

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

// Most memory compiling one pattern may take, as PatternCompileBytes estimates it. Every
// pattern a script reasonably writes stays far below ("(a{255}){255}", 65,025 positions,
// takes about 40 MB); "(a{1,100}){1,100}" would take 200 MB and four seconds, and
// "((a{1,100}){1,100}){1,9}" almost 2 GB.
constexpr double kMaxCompileBytes = 64.0 * 1024 * 1024;

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
   const double compileBytes = PatternCompileBytes(copy, length);
   if (compileBytes < 0 || compileBytes > kMaxCompileBytes ||
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
