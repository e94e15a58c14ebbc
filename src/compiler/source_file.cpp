// Reading script files. ORVALoadFile hands hosts the decoded wide text; the library's own
// readers (modules loaded by `use`) compile the bytes as they are, so that an invalid byte
// outside a string literal is reported as the byte the file holds.
#include "compiler/source_file.h"

#include "platform/platform.h"

#include <orva.h>

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

// Files are read in pieces of this many bytes.
constexpr size_t kReadPieceSize = 16384;

struct FileCloser
{
   void operator()(FILE *file) const { fclose(file); }
};

struct FreeDeleter
{
   void operator()(void *block) const { free(block); }
};

// The wide text of size bytes of UTF-8 (no zero byte among them), malloc'ed. ASCII, which
// most scripts are, widens byte by byte in plain loops that the compiler vectorizes;
// anything else goes through the platform conversion.
wchar_t *wideTextOf(const char *text, size_t size)
{
   unsigned char allBits = 0;
   for (size_t i = 0; i < size; i++)
      allBits |= static_cast<unsigned char>(text[i]);
   if (allBits >= 0x80)
      return WideStringFromUTF8String(text);
   auto *wide = static_cast<wchar_t *>(malloc((size + 1) * sizeof(wchar_t)));
   if (wide == nullptr)
      return nullptr;
   for (size_t i = 0; i < size; i++)
      wide[i] = static_cast<unsigned char>(text[i]);
   wide[size] = 0;
   return wide;
}

bool readAll(FILE *file, char *buffer, size_t fileSize)
{
   size_t done = 0;
   while (done < fileSize)
   {
      size_t piece = fileSize - done < kReadPieceSize ? fileSize - done : kReadPieceSize;
      size_t count = fread(buffer + done, 1, piece, file);
      if (count == 0 || ferror(file))
         return false;
      done += count;
   }
   return true;
}

}  // namespace

// Only regular files are read: anything else (a directory, a pipe) has no size to query.
char *ORVAReadSourceFile(const wchar_t *fileName, uint32_t *size)
{
   if (fileName == nullptr)
      return nullptr;
   std::unique_ptr<char, FreeDeleter> name(UTF8StringFromWideString(fileName));
   if (name == nullptr)
      return nullptr;
   std::unique_ptr<FILE, FileCloser> file(fopen(name.get(), "rb"));
   if (file == nullptr)
      return nullptr;

   struct stat info;
   if (fstat(fileno(file.get()), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 0 ||
       static_cast<uint64_t>(info.st_size) > UINT32_MAX - 1)
      return nullptr;
   size_t fileSize = static_cast<size_t>(info.st_size);

   std::unique_ptr<char, FreeDeleter> buffer(static_cast<char *>(malloc(fileSize + 1)));
   if (buffer == nullptr)
      return nullptr;
   if (size != nullptr)
      *size = static_cast<uint32_t>(fileSize);
   if (!readAll(file.get(), buffer.get(), fileSize))
      return nullptr;

   char *text = buffer.get();
   char *zero = text;
   while ((zero = static_cast<char *>(memchr(zero, 0, fileSize - static_cast<size_t>(zero - text)))) != nullptr)
      *zero = ' ';
   text[fileSize] = 0;
   return buffer.release();
}

extern "C" ORVA_API wchar_t *ORVALoadFile(const wchar_t *fileName, uint32_t *size)
{
   try
   {
      // Zero bytes read as spaces, so the text's length is the file's size.
      std::unique_ptr<char, FreeDeleter> text(ORVAReadSourceFile(fileName, size));
      return text != nullptr ? wideTextOf(text.get(), strlen(text.get())) : nullptr;
   }
   catch (...)
   {
      return nullptr;
   }
}
