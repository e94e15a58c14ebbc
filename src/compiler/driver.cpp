// The compiler driver: one ORVA_Compiler per compilation ties the lexer, the scanner
// context, the parser and the program together, keeps the first compile error, and hands
// a resolved and optimized program to the caller. The exported entry points ORVACompile,
// ORVACompileUTF8 and ORVAGetVersion live here too.
//
// Nothing thrown inside (allocation failures, a scanner failure) leaves the library: the
// entry points catch it and report a failed compilation or a failed load instead.
#include "compiler/compiler.h"
#include "compiler/codegen.h"
#include "vm/instruction_memory.h"
#include "vm/program_growth.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

namespace {

// Size of the formatted compile error text, terminator included; longer texts are cut.
constexpr size_t kErrorTextSize = 1024;

// Sources from this size on (UTF-8 bytes) make their instructions in 2 MB blocks
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
   return compileLexer();
}

ORVA_Program *ORVA_Compiler::compile(const char *utf8)
{
   delete m_lexer;
   m_lexer = nullptr;
   m_lexer = new ORVA_Lexer(this, utf8);
   return compileLexer();
}

ORVA_Program *ORVA_Compiler::compileLexer()
{
   const bool large = m_lexer->m_sourceSize >= kBulkSourceSize;
   ORVA_InstructionBulk bulk(large);
   std::unique_ptr<ORVA_Program> program(new ORVA_Program());
   // A large script makes about one instruction for every three bytes of text. Room for
   // one every two bytes spares the code array its regrowth, each a copy of all of it so
   // far; the pages it never fills are never touched.
   if (large)
      reserveEntries(&program->m_instructions, &program->m_codeAllocated,
                     static_cast<uint64_t>(m_lexer->m_sourceSize / 2));
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

namespace {

// One compilation behind an entry point: nothing thrown inside leaves the library.
template <typename Source>
ORVA_Program *compileSource(Source source, wchar_t *errorText, int bufferSize)
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

}  // namespace

extern "C" ORVA_API ORVA_Program *ORVACompile(const wchar_t *source, wchar_t *errorText, int bufferSize)
{
   return compileSource(source, errorText, bufferSize);
}

extern "C" ORVA_API ORVA_Program *ORVACompileUTF8(const char *source, wchar_t *errorText, int bufferSize)
{
   return compileSource(source, errorText, bufferSize);
}

extern "C" ORVA_API const char *ORVAGetVersion(void)
{
   return ORVA_VERSION_STRING;
}
