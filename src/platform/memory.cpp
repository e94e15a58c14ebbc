// Small allocation and comparison helpers; results are allocated with malloc.
#include "platform/platform.h"

#include <cstdlib>
#include <cstring>

void *qv_memdup(const void *data, size_t size)
{
   // malloc(0) may return null; always hand out a real block.
   void *block = malloc(size > 0 ? size : 1);
   if (block != nullptr && size > 0 && data != nullptr)
      memcpy(block, data, size);
   return block;
}

wchar_t *qv_wcsdup(const wchar_t *text)
{
   if (text == nullptr)
      return nullptr;
   return static_cast<wchar_t *>(qv_memdup(text, (wcslen(text) + 1) * sizeof(wchar_t)));
}

// Folds only A-Z onto a-z so results never depend on the host's locale. A null text
// sorts before every other text.
int qv_wcsicmp(const wchar_t *a, const wchar_t *b)
{
   if (a == nullptr || b == nullptr)
      return (a == nullptr ? 0 : 1) - (b == nullptr ? 0 : 1);
   for (;; a++, b++)
   {
      wchar_t ca = (*a >= L'A' && *a <= L'Z') ? *a + (L'a' - L'A') : *a;
      wchar_t cb = (*b >= L'A' && *b <= L'Z') ? *b + (L'a' - L'A') : *b;
      if (ca != cb)
         return ca < cb ? -1 : 1;
      if (ca == 0)
         return 0;
   }
}
