// String built-ins: upper, lower, length, substr, d2x, left, right, trim, rtrim, ltrim,
// index and rindex.
//
// Text means a value's text form, so numbers are accepted wherever text is. Lengths and
// positions count wchar_t characters; positions that scripts pass and receive are 1-based,
// and 0 or less means "from the beginning". Results that are new texts go through the
// explicit-length text constructor of ORVA_Value: a result that reads as a number becomes
// that number and keeps its text (substr("a12", 2) is the int32 12 with text 12), and zero
// characters inside a text survive.
#include <orva.h>

#include <cctype>
#include <cstdlib>
#include <cwchar>
#include <memory>

#include "env/builtins.h"

// A copy of the argument whose text is mapped character by character. Only characters 0 to
// 255 go through the C library's single-byte conversion; the type and number stay those of
// the argument. The copy shares the argument's text until it makes the text its own.
ORVA_Value *MapTextCase(const ORVA_Value *source, int (*map)(int))
{
   std::unique_ptr<ORVA_Value> copy(new ORVA_Value(source));
   uint32_t length = 0;
   if (copy->getValueAsString(&length) == nullptr)
      return copy.release();
   wchar_t *text = copy->ownText(static_cast<size_t>(length) + 1);
   for (uint32_t i = 0; i < length; i++)
   {
      if (text[i] >= 0 && text[i] <= 255)
         text[i] = static_cast<wchar_t>(map(static_cast<int>(text[i])));
   }
   return copy.release();
}

namespace {

// The widest text d2x produces: its formatting buffer held 128 characters with the
// terminator. Wider requests are cut to this width, keeping every hexadecimal digit.
constexpr int64_t kMaxHexWidth = 127;

bool isBlank(wchar_t c)
{
   return c == L' ' || c == L'\t';
}

// The argument's text and length; a value without text reads as the empty text.
const wchar_t *textOf(ORVA_Value *value, uint32_t *length)
{
   const wchar_t *text = value->getValueAsString(length);
   if (text == nullptr)
   {
      *length = 0;
      return L"";
   }
   return text;
}

// The pad character of left and right: space, or the first character of the third argument.
wchar_t padCharacter(int argc, ORVA_Value **argv)
{
   if (argc < 3)
      return L' ';
   uint32_t length = 0;
   const wchar_t *pad = textOf(argv[2], &length);
   return length > 0 ? pad[0] : L' ';
}

// Shared checks of left and right: count, length, text, pad (in this order).
int checkPadArguments(int argc, ORVA_Value **argv)
{
   if (argc != 2 && argc != 3)
      return ORVA_ERR_INVALID_ARGUMENT_COUNT;
   if (!argv[1]->isInteger())
      return ORVA_ERR_NOT_AN_INTEGER;
   if (!argv[0]->isString())
      return ORVA_ERR_NOT_A_STRING;
   if (argc == 3 && !argv[2]->isString())
      return ORVA_ERR_NOT_A_STRING;
   return 0;
}

// Builds left (alignRight false) or right: exactly n characters, the text's first or last
// min(n, L) characters and pad characters on the other side.
// A length beyond the run's text limit is refused before anything is allocated.
int padded(int argc, ORVA_Value **argv, ORVA_Value **result, bool alignRight, const ORVA_Program *program)
{
   int rc = checkPadArguments(argc, argv);
   if (rc != 0)
      return rc;
   wchar_t pad = padCharacter(argc, argv);
   int32_t requested = argv[1]->getValueAsInt32();
   uint32_t n = requested > 0 ? static_cast<uint32_t>(requested) : 0;
   uint32_t length = 0;
   const wchar_t *text = textOf(argv[0], &length);
   uint32_t kept = length < n ? length : n;
   const uint32_t maxLength = (program != nullptr) ? program->getRunLimits().maxTextLength : 0;
   if (maxLength != 0 && n > maxLength)
      return ORVA_ERR_TEXT_LIMIT;
   if (kept == n)
   {
      // Nothing to pad: the value copies its part of the text.
      *result = new ORVA_Value(alignRight ? text + (length - kept) : text, n);
      return 0;
   }

   // Released on every way out, also when making the value runs out of memory.
   std::unique_ptr<wchar_t, decltype(&free)> owned(
      static_cast<wchar_t *>(malloc((static_cast<size_t>(n) + 1) * sizeof(wchar_t))), &free);
   wchar_t *buffer = owned.get();
   if (buffer == nullptr)
      return ORVA_ERR_OUT_OF_MEMORY;
   if (alignRight)
   {
      wmemset(buffer, pad, n - kept);
      wmemcpy(buffer + (n - kept), text + (length - kept), kept);
   }
   else
   {
      wmemcpy(buffer, text, kept);
      wmemset(buffer + kept, pad, n - kept);
   }
   buffer[n] = 0;
   *result = new ORVA_Value(buffer, n);
   return 0;
}

// Checks shared by index and rindex: count, text, searched text, start (in this order).
int checkSearchArguments(int argc, ORVA_Value **argv)
{
   if (argc != 2 && argc != 3)
      return ORVA_ERR_INVALID_ARGUMENT_COUNT;
   if (!argv[0]->isString())
      return ORVA_ERR_NOT_A_STRING;
   if (!argv[1]->isString())
      return ORVA_ERR_NOT_A_STRING;
   if (argc == 3 && !argv[2]->isInteger())
      return ORVA_ERR_NOT_AN_INTEGER;
   return 0;
}

// The 0-based position a start argument asks for, or -1 when there is none (no third
// argument, or a start of 0 or less).
int64_t searchStart(int argc, ORVA_Value **argv)
{
   if (argc < 3)
      return -1;
   int32_t start = argv[2]->getValueAsInt32();
   return start >= 1 ? static_cast<int64_t>(start) - 1 : -1;
}

// index (backwards false) and rindex: the 1-based position of the first or last occurrence
// of the searched text, or 0.
int search(int argc, ORVA_Value **argv, ORVA_Value **result, bool backwards)
{
   int rc = checkSearchArguments(argc, argv);
   if (rc != 0)
      return rc;
   uint32_t h = 0, n = 0;
   const wchar_t *haystack = textOf(argv[0], &h);
   const wchar_t *needle = textOf(argv[1], &n);
   int64_t start = searchStart(argc, argv);

   int32_t found = 0;
   if (n == 0 || n > h)
      found = 0;
   else if (n == h)
      found = wmemcmp(haystack, needle, n) == 0 ? 1 : 0;
   else if (!backwards)
   {
      // The first character is found with wmemchr; only there is the rest compared.
      const int64_t from = start >= 0 ? start : 0;
      const wchar_t *last = haystack + (h - n);
      const wchar_t *p = (from <= h - n) ? haystack + from : nullptr;
      while (p != nullptr && p <= last && (p = wmemchr(p, needle[0], static_cast<size_t>(last - p) + 1)) != nullptr)
      {
         if (n == 1 || wmemcmp(p + 1, needle + 1, n - 1) == 0)
         {
            found = static_cast<int32_t>(p - haystack + 1);
            break;
         }
         p++;
      }
   }
   else
   {
      int64_t p = static_cast<int64_t>(h) - n;
      if (start >= 0 && start < p)
         p = start;
      for (; p >= 0; p--)
      {
         if (wmemcmp(haystack + p, needle, n) == 0)
         {
            found = static_cast<int32_t>(p + 1);
            break;
         }
      }
   }
   *result = new ORVA_Value(found);
   return 0;
}

enum class TrimSide { Both, Left, Right };

int trimmed(ORVA_Value **argv, ORVA_Value **result, TrimSide side)
{
   if (!argv[0]->isString())
      return ORVA_ERR_NOT_A_STRING;
   uint32_t length = 0;
   const wchar_t *text = textOf(argv[0], &length);
   uint32_t begin = 0, end = length;
   if (side != TrimSide::Right)
   {
      while (begin < end && isBlank(text[begin]))
         begin++;
   }
   if (side != TrimSide::Left)
   {
      while (end > begin && isBlank(text[end - 1]))
         end--;
   }
   *result = new ORVA_Value(text + begin, end - begin);
   return 0;
}

// Upper-case hexadecimal digits of number, at least width characters wide: zero-padded on
// the left for a positive width, blank-padded on the right for a negative one (the meaning
// "%0<width>X" has in the C library). The total is limited to kMaxHexWidth characters.
uint32_t formatHex(uint32_t number, int64_t width, wchar_t *out)
{
   wchar_t digits[8];
   uint32_t count = 0;
   do
   {
      digits[count++] = L"0123456789ABCDEF"[number & 0xF];
      number >>= 4;
   } while (number != 0);

   bool leftAligned = width < 0;
   int64_t wanted = leftAligned ? -width : width;
   if (wanted > kMaxHexWidth)
      wanted = kMaxHexWidth;
   uint32_t padding = wanted > count ? static_cast<uint32_t>(wanted) - count : 0;

   uint32_t length = 0;
   if (!leftAligned)
   {
      for (uint32_t i = 0; i < padding; i++)
         out[length++] = L'0';
   }
   while (count > 0)
      out[length++] = digits[--count];
   if (leftAligned)
   {
      for (uint32_t i = 0; i < padding; i++)
         out[length++] = L' ';
   }
   out[length] = 0;
   return length;
}

}  // namespace

int builtinUpper(int, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *)
{
   if (!argv[0]->isString())
      return ORVA_ERR_NOT_A_STRING;
   *result = MapTextCase(argv[0], toupper);
   return 0;
}

int builtinLower(int, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *)
{
   if (!argv[0]->isString())
      return ORVA_ERR_NOT_A_STRING;
   *result = MapTextCase(argv[0], tolower);
   return 0;
}

int builtinLength(int, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *)
{
   if (!argv[0]->isString())
      return ORVA_ERR_NOT_A_STRING;
   uint32_t length = 0;
   textOf(argv[0], &length);
   *result = new ORVA_Value(length);
   return 0;
}

// substr(text, start [, count]): a null start means the beginning; a missing count means
// "to the end"; both are clamped to the text.
int builtinSubstr(int argc, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *)
{
   if (argc != 2 && argc != 3)
      return ORVA_ERR_INVALID_ARGUMENT_COUNT;
   if (!argv[0]->isString())
      return ORVA_ERR_NOT_A_STRING;
   if (!argv[1]->isNull() && !argv[1]->isInteger())
      return ORVA_ERR_NOT_AN_INTEGER;
   if (argc == 3 && !argv[2]->isInteger())
      return ORVA_ERR_NOT_AN_INTEGER;

   uint32_t start = 0;
   if (!argv[1]->isNull())
   {
      int32_t s = argv[1]->getValueAsInt32();
      start = s > 0 ? static_cast<uint32_t>(s) - 1 : 0;
   }
   uint32_t count = UINT32_MAX;
   if (argc == 3)
   {
      int32_t c = argv[2]->getValueAsInt32();
      count = c > 0 ? static_cast<uint32_t>(c) : 0;
   }
   uint32_t length = 0;
   const wchar_t *text = textOf(argv[0], &length);
   if (start >= length)
   {
      *result = new ORVA_Value(L"", 0);
      return 0;
   }
   uint32_t available = length - start;
   *result = new ORVA_Value(text + start, count < available ? count : available);
   return 0;
}

// d2x(number [, digits]): the low 32 bits of number as upper-case hexadecimal.
int builtinD2x(int argc, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *)
{
   if (argc != 1 && argc != 2)
      return ORVA_ERR_INVALID_ARGUMENT_COUNT;
   if (!argv[0]->isInteger())
      return ORVA_ERR_NOT_AN_INTEGER;
   if (argc == 2 && !argv[1]->isInteger())
      return ORVA_ERR_NOT_AN_INTEGER;

   int64_t width = argc == 2 ? argv[1]->getValueAsInt32() : 0;
   wchar_t buffer[kMaxHexWidth + 1];
   uint32_t length = formatHex(argv[0]->getValueAsUInt32(), width, buffer);
   *result = new ORVA_Value(buffer, length);
   return 0;
}

int builtinLeft(int argc, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *program)
{
   return padded(argc, argv, result, false, program);
}

int builtinRight(int argc, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *program)
{
   return padded(argc, argv, result, true, program);
}

int builtinTrim(int, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *)
{
   return trimmed(argv, result, TrimSide::Both);
}

int builtinRTrim(int, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *)
{
   return trimmed(argv, result, TrimSide::Right);
}

int builtinLTrim(int, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *)
{
   return trimmed(argv, result, TrimSide::Left);
}

int builtinIndex(int argc, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *)
{
   return search(argc, argv, result, false);
}

int builtinRIndex(int argc, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *)
{
   return search(argc, argv, result, true);
}
