// UTF-8 in and out of the API for hosts that keep their text in std::string: values made
// from UTF-8 of a given length, values read back as UTF-8, and the two conversions.
// Decoding and encoding are the library's own (platform/text.cpp), so a host's text reads
// exactly as a script file with the same bytes would.
#include <cstdlib>
#include <new>
#include <string>
#include <string_view>

#include <orva.h>

#include "platform/platform.h"

// Decodes one stretch of UTF-8 without zero bytes onto the end of `wide`.
static void appendDecoded(std::wstring &wide, std::string_view stretch)
{
   if (stretch.empty())
      return;
   std::string terminated(stretch);
   wchar_t *decoded = WideStringFromUTF8String(terminated.c_str());
   if (decoded == nullptr)
      throw std::bad_alloc();
   wide += decoded;
   free(decoded);
}

std::wstring ORVAFromUtf8(std::string_view text)
{
   std::wstring wide;
   // The C-string decoder stops at a zero byte; each one is kept as a zero character.
   for (size_t zero = text.find('\0'); zero != std::string_view::npos; zero = text.find('\0'))
   {
      appendDecoded(wide, text.substr(0, zero));
      wide += L'\0';
      text.remove_prefix(zero + 1);
   }
   appendDecoded(wide, text);
   return wide;
}

std::string ORVAToUtf8(const wchar_t *text)
{
   if (text == nullptr)
      return std::string();
   size_t length = 0;
   char *bytes = UTF8StringFromWideStringN(text, wcslen(text), &length);
   if (bytes == nullptr)
      throw std::bad_alloc();
   std::string result(bytes, length);
   free(bytes);
   return result;
}

ORVA_Value::ORVA_Value(std::string_view utf8) : ORVA_Value()
{
   const std::wstring wide = ORVAFromUtf8(utf8);
   ORVA_Value decoded(wide.c_str(), static_cast<uint32_t>(wide.size()));
   swap(decoded);
}

std::string ORVA_Value::getValueAsUtf8()
{
   uint32_t length = 0;
   const wchar_t *text = getValueAsString(&length);
   if (text == nullptr || length == 0)
      return std::string();
   size_t byteCount = 0;
   char *bytes = UTF8StringFromWideStringN(text, length, &byteCount);
   if (bytes == nullptr)
      throw std::bad_alloc();
   std::string result(bytes, byteCount);
   free(bytes);
   return result;
}
