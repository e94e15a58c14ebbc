// The compiler driver: one ORVA_Compiler per compilation ties the lexer, the scanner
// context, the parser and the program together, keeps the first compile error, and hands
// a resolved and optimized program to the caller. The exported entry points ORVACompile,
// ORVALoadFile and ORVAGetVersion live here too.
//
// Nothing thrown inside (allocation failures, a scanner failure) leaves the library: the
// entry points catch it and report a failed compilation or a failed load instead.
#include "compiler/compiler.h"
#include "compiler/codegen.h"
#include "vm/instruction_memory.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

namespace {

// Size of the formatted compile error text, terminator included; longer texts are cut.
constexpr size_t kErrorTextSize = 1024;

// ORVALoadFile reads the file in pieces of this many bytes.
constexpr size_t kReadPieceSize = 16384;

// Sources from this size on (UTF-8 bytes) make their instructions in huge-page blocks
// (vm/instruction_memory.h): such a script makes some 5 MB of instructions and more.
constexpr int32_t kBulkSourceSize = 256 * 1024;

// Destroys the scanner context when compile() leaves, whichever way it leaves.
class ScannerContext
{
public:
   explicit ScannerContext(ORVA_Lexer *lexer) : m_scanner(createScanner(lexer)) {}
   ~ScannerContext() { destroyScanner(m_scanner); }
   ScannerContext(const ScannerContext &) = delete;
   ScannerContext &operator=(const ScannerContext &) = delete;
   void *get() const { return m_scanner; }

private:
   void *m_scanner;
};

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
   adviseHugePages(wide, (size + 1) * sizeof(wchar_t));
   for (size_t i = 0; i < size; i++)
      wide[i] = static_cast<unsigned char>(text[i]);
   wide[size] = 0;
   return wide;
}

// Records why a compilation was abandoned, unless an earlier error already explains it.
void reportAbort(ORVA_Compiler *compiler, const char *message)
{
   if (compiler == nullptr)
      return;
   try
   {
      compiler->error(message);
   }
   catch (...)
   {
      // Not even the error text fits into memory: the caller gets "(null)".
   }
}

}  // namespace

ORVA_Compiler::ORVA_Compiler()
   : m_errorText(nullptr), m_lexer(nullptr), m_addrStack(nullptr), m_breakStack(nullptr),
     m_idListOpcode(0)
{
   std::unique_ptr<ORVA_Stack> addrStack(new ORVA_Stack());
   m_breakStack = new ORVA_Stack();
   m_addrStack = addrStack.release();
}

// Break lists still open (a compilation abandoned inside a loop or switch) are released
// with the stack.
ORVA_Compiler::~ORVA_Compiler()
{
   free(m_errorText);
   delete m_lexer;
   delete m_addrStack;
   discardOpenBreakLists(this);
   delete m_breakStack;
}

ORVA_Program *ORVA_Compiler::compile(const wchar_t *source)
{
   delete m_lexer;
   m_lexer = nullptr;
   m_lexer = new ORVA_Lexer(this, source);
   ORVA_InstructionBulk bulk(m_lexer->m_sourceSize >= kBulkSourceSize);
   std::unique_ptr<ORVA_Program> program(new ORVA_Program());
   ScannerContext scanner(m_lexer);

   int result = parse(this, m_lexer, scanner.get(), program.get());
   // An error may have been recorded although the parser accepted what it saw: a lexical
   // error ends the input early, and some errors are found by the actions.
   if (result != 0 || m_errorText != nullptr)
      return nullptr;

   program->resolveFunctions();
   program->optimize();
   return program.release();
}

void ORVA_Compiler::error(const char *message)
{
   if (m_errorText != nullptr)
      return;
   char text[kErrorTextSize];
   snprintf(text, sizeof(text), "Error in line %d: %s", getCurrentLine(),
            message != nullptr ? message : "");
   m_errorText = WideStringFromMBString(text);
}

// Truncating wide copy: at most bufferSize - 1 characters and a terminating zero; a
// size of 0 or less leaves the buffer alone.
void ORVA_Compiler::copyErrorText(wchar_t *buffer, int bufferSize, const wchar_t *text)
{
   if (buffer == nullptr || bufferSize <= 0)
      return;
   if (text == nullptr)
      text = L"(null)";
   size_t limit = static_cast<size_t>(bufferSize) - 1;
   size_t length = wcslen(text);
   if (length > limit)
      length = limit;
   wmemcpy(buffer, text, length);
   buffer[length] = 0;
}

extern "C" ORVA_API ORVA_Program *ORVACompile(const wchar_t *source, wchar_t *errorText, int bufferSize)
{
   std::unique_ptr<ORVA_Compiler> compiler;
   ORVA_Program *program = nullptr;
   try
   {
      compiler.reset(new ORVA_Compiler());
      program = compiler->compile(source);
   }
   catch (const std::bad_alloc &)
   {
      reportAbort(compiler.get(), "Out of memory");
   }
   catch (const std::exception &e)
   {
      reportAbort(compiler.get(), e.what());
   }
   catch (...)
   {
      reportAbort(compiler.get(), "Internal compiler error");
   }

   if (program == nullptr)
      ORVA_Compiler::copyErrorText(errorText, bufferSize, compiler != nullptr ? compiler->getErrorText() : nullptr);
   return program;
}

// The size written is the file's size in bytes, and it is written before the file is read.
// Only regular files are read: anything else (a directory, a pipe) has no size to query.
extern "C" ORVA_API wchar_t *ORVALoadFile(const wchar_t *fileName, uint32_t *size)
{
   try
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

      size_t done = 0;
      while (done < fileSize)
      {
         size_t piece = fileSize - done < kReadPieceSize ? fileSize - done : kReadPieceSize;
         size_t count = fread(buffer.get() + done, 1, piece, file.get());
         if (count == 0 || ferror(file.get()))
            return nullptr;
         done += count;
      }
      file.reset();

      // Zero bytes would end the text early; they read as spaces instead.
      char *text = buffer.get();
      char *zero = text;
      while ((zero = static_cast<char *>(memchr(zero, 0, fileSize - static_cast<size_t>(zero - text)))) != nullptr)
         *zero = ' ';
      text[fileSize] = 0;
      return wideTextOf(text, fileSize);
   }
   catch (...)
   {
      return nullptr;
   }
}

extern "C" ORVA_API const char *ORVAGetVersion(void)
{
   return ORVA_VERSION_STRING;
}
