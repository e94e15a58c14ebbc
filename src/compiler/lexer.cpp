// ORVA_Lexer: the source text of one compilation in UTF-8, handed to the flex scanner
// (lexer.l) on request, plus the state the scanner's actions keep between tokens (line
// counter, comment depth, string constant being collected).
#include "compiler/compiler.h"
#include "lexer.hpp"

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

// The source in UTF-8 and its length in bytes. ASCII, which most scripts are, converts
// character by character; anything else goes through the platform conversion. Null when
// memory runs out.
static char *sourceToUTF8(const wchar_t *source, size_t *length)
{
   // Plain loops over a known count, which the compiler vectorizes.
   size_t count = wcslen(source);
   uint32_t allBits = 0;
   for (size_t i = 0; i < count; i++)
      allBits |= static_cast<uint32_t>(source[i]);
   if (allBits >= 0x80)
   {
      char *text = UTF8StringFromWideString(source);
      if (text != nullptr)
         *length = strlen(text);
      return text;
   }
   char *text = static_cast<char *>(malloc(count + 1));
   if (text == nullptr)
      return nullptr;
   for (size_t i = 0; i < count; i++)
      text[i] = static_cast<char>(source[i]);
   text[count] = 0;
   *length = count;
   return text;
}

// A null source compiles as an empty one.
ORVA_Lexer::ORVA_Lexer(ORVA_Compiler *compiler)
   : m_sourceText(nullptr), m_ownedText(nullptr), m_sourceSize(0), m_readPos(0), m_compiler(compiler),
     m_currentLine(1), m_commentLevel(0), m_stringSize(0)
{
   m_stringBuffer[0] = 0;
}

ORVA_Lexer::ORVA_Lexer(ORVA_Compiler *compiler, const wchar_t *source) : ORVA_Lexer(compiler)
{
   if (source == nullptr)
      return;
   size_t length = 0;
   m_ownedText = sourceToUTF8(source, &length);
   if (m_ownedText == nullptr)
      throw std::bad_alloc();
   // Offsets are 32-bit: a source this large cannot be scanned (the destructor frees it).
   if (length > static_cast<size_t>(INT32_MAX))
      throw std::bad_alloc();
   m_sourceText = m_ownedText;
   m_sourceSize = static_cast<int32_t>(length);
}

ORVA_Lexer::ORVA_Lexer(ORVA_Compiler *compiler, const char *utf8) : ORVA_Lexer(compiler)
{
   if (utf8 == nullptr)
      return;
   const size_t length = strlen(utf8);
   if (length > static_cast<size_t>(INT32_MAX))
      throw std::bad_alloc();   // offsets are 32-bit: a source this large cannot be scanned
   m_sourceText = utf8;
   m_sourceSize = static_cast<int32_t>(length);
}

ORVA_Lexer::~ORVA_Lexer()
{
   free(m_ownedText);
}

int ORVA_Lexer::readInput(char *buffer, int maxSize)
{
   int32_t available = m_sourceSize - m_readPos;
   int count = maxSize < available ? maxSize : available;
   if (count <= 0)
      return 0;
   memcpy(buffer, m_sourceText + m_readPos, static_cast<size_t>(count));
   m_readPos += count;
   return count;
}

void ORVA_Lexer::error(const char *message)
{
   if (m_compiler != nullptr)
      m_compiler->error(message);
}

// The scanner functions carry the "orvaScan" prefix set in lexer.l.
void *createScanner(ORVA_Lexer *lexer)
{
   yyscan_t scanner = nullptr;
   if (orvaScanlex_init_extra(lexer, &scanner) != 0)
      throw std::bad_alloc();
   return scanner;
}

void destroyScanner(void *scanner)
{
   if (scanner != nullptr)
      orvaScanlex_destroy(scanner);
}
