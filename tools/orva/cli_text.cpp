#include "cli_text.h"

#include <orva.h>

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <fstream>
#include <iostream>

// A value made from UTF-8 text keeps the decoded text as its text form: each invalid
// sequence becomes U+FFFD and the characters around it are kept, so a script reads the
// same from a file, standard input or -e.
std::wstring toWide(const std::string &text)
{
   ORVA_Value value(text.c_str());
   uint32_t length = 0;
   const wchar_t *wide = value.getValueAsString(&length);
   return std::wstring(wide != nullptr ? wide : L"", length);
}

std::string toNarrow(const wchar_t *text)
{
   std::string result;
   if (text == nullptr)
      return result;
   std::mbstate_t state{};
   char buffer[MB_LEN_MAX];
   for (; *text != 0; text++)
   {
      size_t n = std::wcrtomb(buffer, *text, &state);
      if (n == static_cast<size_t>(-1))
         result += '?';
      else
         result.append(buffer, n);
   }
   return result;
}

void reportError(const std::string &where, const std::string &text)
{
   std::fflush(stdout);
   std::cerr << where << ": " << text << std::endl;
}

bool readScriptFile(const std::string &path, std::string &bytes)
{
   errno = 0;
   struct stat info;
   if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
      return false;
   std::ifstream file(path, std::ios::binary);
   if (!file)
      return false;
   // Read at once into a text of the file's size: large scripts are several megabytes.
   bytes.resize(static_cast<size_t>(info.st_size));
   file.read(&bytes[0], static_cast<std::streamsize>(bytes.size()));
   bytes.resize(static_cast<size_t>(file.gcount()));
   if (file.bad())
      return false;
   // A zero byte reads as a space; memchr finds the rare ones far faster than a test of
   // every byte.
   for (size_t zero = 0; (zero = bytes.find('\0', zero)) != std::string::npos; zero++)
      bytes[zero] = ' ';
   return true;
}

void skipScriptHeader(std::string &source)
{
   if (source.compare(0, 3, "\xEF\xBB\xBF") == 0)
      source.erase(0, 3);
   if (source.compare(0, 2, "#!") == 0)
      source.erase(0, source.find('\n'));
}

bool flushOutput()
{
   int failure = std::fflush(stdout) != 0 ? errno : 0;
   if (failure == 0 && !std::ferror(stdout))
      return true;
   reportError("orva", std::string("cannot write standard output: ") + std::strerror(failure != 0 ? failure : EIO));
   return false;
}
