// Wildcard matching for the like/ilike operators.
//
// '*' matches any run of characters (also none), '?' exactly one, anything else itself.
// The matcher walks pattern and text once and, on a mismatch, resumes after the most
// recent '*' with that star swallowing one more character. Only the latest star needs to
// be remembered: an earlier star can never be made to match more usefully than the later
// one, so the worst case is O(pattern x text) and never exponential.
#include "platform/platform.h"

#include <cwctype>

namespace {

inline bool sameCharacter(wchar_t p, wchar_t t, bool matchCase)
{
   if (p == t)
      return true;
   return !matchCase && towlower(static_cast<wint_t>(p)) == towlower(static_cast<wint_t>(t));
}

}

bool MatchString(const wchar_t *pattern, const wchar_t *text, bool matchCase)
{
   if (pattern == nullptr || text == nullptr)
      return false;

   const wchar_t *p = pattern;
   const wchar_t *t = text;
   const wchar_t *starPattern = nullptr;   // position just after the latest '*'
   const wchar_t *starText = nullptr;      // text position that star is to swallow next

   while (*t != 0)
   {
      if (*p == L'*')
      {
         starPattern = ++p;
         starText = t;
      }
      else if (*p != 0 && (*p == L'?' || sameCharacter(*p, *t, matchCase)))
      {
         p++;
         t++;
      }
      else if (starPattern != nullptr)
      {
         p = starPattern;
         t = ++starText;
      }
      else
      {
         return false;
      }
   }
   while (*p == L'*')
      p++;
   return *p == 0;
}
