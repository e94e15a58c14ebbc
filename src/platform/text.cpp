// Conversions between UTF-8 and wide (UTF-32) strings.
//
// Decoding never fails: every ill-formed sequence (stray continuation byte, overlong form,
// surrogate, code point above U+10FFFF, truncated sequence) becomes one U+FFFD per maximal
// ill-formed subpart, as Unicode recommends. Encoding writes U+FFFD for every wchar_t that is
// not a Unicode scalar value. All results are allocated with malloc.
#include "platform/platform.h"

#include <cstdlib>
#include <cstring>

namespace {

const wchar_t kReplacementCharacter = 0xFFFD;

inline bool isContinuation(unsigned char byte, unsigned char low = 0x80, unsigned char high = 0xBF)
{
   return byte >= low && byte <= high;
}

// Decodes one character starting at text[0] (which is not the terminator) and returns the
// number of bytes it used.
size_t decodeOne(const unsigned char *text, wchar_t *out)
{
   unsigned char lead = text[0];
   if (lead < 0x80)
   {
      *out = lead;
      return 1;
   }

   int trailing;
   unsigned char low = 0x80, high = 0xBF;   // allowed range of the first continuation byte
   uint32_t codePoint;
   if (lead >= 0xC2 && lead <= 0xDF)
   {
      trailing = 1;
      codePoint = lead & 0x1F;
   }
   else if (lead >= 0xE0 && lead <= 0xEF)
   {
      trailing = 2;
      codePoint = lead & 0x0F;
      if (lead == 0xE0)
         low = 0xA0;   // no overlong forms
      else if (lead == 0xED)
         high = 0x9F;  // no surrogates
   }
   else if (lead >= 0xF0 && lead <= 0xF4)
   {
      trailing = 3;
      codePoint = lead & 0x07;
      if (lead == 0xF0)
         low = 0x90;   // no overlong forms
      else if (lead == 0xF4)
         high = 0x8F;  // nothing above U+10FFFF
   }
   else
   {
      *out = kReplacementCharacter;
      return 1;
   }

   for (int i = 1; i <= trailing; i++)
   {
      // The terminator is not a continuation byte, so a truncated sequence stops here.
      bool ok = (i == 1) ? isContinuation(text[i], low, high) : isContinuation(text[i]);
      if (!ok)
      {
         *out = kReplacementCharacter;
         return i;
      }
      codePoint = (codePoint << 6) | (text[i] & 0x3F);
   }
   *out = static_cast<wchar_t>(codePoint);
   return trailing + 1;
}

inline bool isScalarValue(wchar_t c)
{
   uint32_t u = static_cast<uint32_t>(c);
   return u <= 0x10FFFF && (u < 0xD800 || u > 0xDFFF);
}

size_t encodedLength(wchar_t c)
{
   uint32_t u = isScalarValue(c) ? static_cast<uint32_t>(c) : kReplacementCharacter;
   return u < 0x80 ? 1 : u < 0x800 ? 2 : u < 0x10000 ? 3 : 4;
}

char *encodeOne(wchar_t c, char *out)
{
   uint32_t u = isScalarValue(c) ? static_cast<uint32_t>(c) : kReplacementCharacter;
   if (u < 0x80)
   {
      *out++ = static_cast<char>(u);
   }
   else if (u < 0x800)
   {
      *out++ = static_cast<char>(0xC0 | (u >> 6));
      *out++ = static_cast<char>(0x80 | (u & 0x3F));
   }
   else if (u < 0x10000)
   {
      *out++ = static_cast<char>(0xE0 | (u >> 12));
      *out++ = static_cast<char>(0x80 | ((u >> 6) & 0x3F));
      *out++ = static_cast<char>(0x80 | (u & 0x3F));
   }
   else
   {
      *out++ = static_cast<char>(0xF0 | (u >> 18));
      *out++ = static_cast<char>(0x80 | ((u >> 12) & 0x3F));
      *out++ = static_cast<char>(0x80 | ((u >> 6) & 0x3F));
      *out++ = static_cast<char>(0x80 | (u & 0x3F));
   }
   return out;
}

}

wchar_t *WideStringFromUTF8String(const char *text)
{
   if (text == nullptr)
      return nullptr;
   // Every byte yields at most one character.
   size_t bytes = strlen(text);
   wchar_t *result = static_cast<wchar_t *>(malloc((bytes + 1) * sizeof(wchar_t)));
   if (result == nullptr)
      return nullptr;
   const unsigned char *in = reinterpret_cast<const unsigned char *>(text);
   size_t length = 0;
   while (*in != 0)
      in += decodeOne(in, &result[length++]);
   result[length] = 0;
   return result;
}

wchar_t *WideStringFromMBString(const char *text)
{
   return WideStringFromUTF8String(text);
}

char *UTF8StringFromWideStringN(const wchar_t *text, size_t length, size_t *outLength)
{
   if (text == nullptr)
   {
      if (outLength != nullptr)
         *outLength = 0;
      return nullptr;
   }
   size_t bytes = 0;
   for (size_t i = 0; i < length; i++)
      bytes += encodedLength(text[i]);
   char *result = static_cast<char *>(malloc(bytes + 1));
   if (result == nullptr)
   {
      if (outLength != nullptr)
         *outLength = 0;
      return nullptr;
   }
   char *out = result;
   for (size_t i = 0; i < length; i++)
      out = encodeOne(text[i], out);
   *out = 0;
   if (outLength != nullptr)
      *outLength = bytes;
   return result;
}

char *UTF8StringFromWideString(const wchar_t *text)
{
   if (text == nullptr)
      return nullptr;
   return UTF8StringFromWideStringN(text, wcslen(text), nullptr);
}
