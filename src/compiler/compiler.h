// The compiler's internal interfaces: the compiler object of one compilation, the lexer
// class, and the functions that tie the flex scanner and the bison parser together.
//
// Flow: ORVACompile -> ORVA_Compiler::compile -> ORVA_Lexer over the UTF-8 source ->
// scanner context (flex, reentrant) -> parse() (bison) whose actions append instructions
// to the ORVA_Program -> resolveFunctions -> optimize.
#ifndef ORVA_COMPILER_H
#define ORVA_COMPILER_H

#include <orva.h>
#include "compiler/token_texts.h"
#include "platform/platform.h"
#include "vm/opcodes.h"

#include <vector>

class ORVA_Compiler;

// Longest string constant the scanner accepts, in bytes: long enough for any literal a
// script needs, and a fixed buffer per compilation.
constexpr int kMaxStringConstant = 8192;

// One slot of the parser's value stack; the scanner fills it for tokens that carry a value.
union ORVA_TokenValue
{
   char *text;                       // identifiers, strings, function names (UTF-8, kept by
                                     // the lexer's token texts: only read)
   int32_t int32;
   uint32_t uint32;
   int64_t int64;
   uint64_t uint64;
   double real;
   ORVA_Value *constant;             // Constant
   ORVA_Instruction *instruction;    // SimpleStatementKeyword
   int number;                       // BuiltinType, ParameterList
};

// Owns the UTF-8 source of one compilation, feeds the scanner, counts lines and collects
// string constants.
class ORVA_Lexer
{
public:
   ORVA_Lexer(ORVA_Compiler *compiler, const wchar_t *source);
   // Scans a copy of UTF-8 text as it is: an invalid byte stays the byte it is.
   ORVA_Lexer(ORVA_Compiler *compiler, const char *utf8);
   virtual ~ORVA_Lexer();

   ORVA_Lexer(const ORVA_Lexer &) = delete;
   ORVA_Lexer &operator=(const ORVA_Lexer &) = delete;

   // The scanner's read hook: copies up to maxSize bytes of the source into buffer.
   int readInput(char *buffer, int maxSize);
   // Reports a lexical error to the compiler (which adds the line).
   void error(const char *message);

   int getCurrentLine() const { return m_currentLine; }

private:
   explicit ORVA_Lexer(ORVA_Compiler *compiler);

public:
   // State the scanner's actions work on. The text is read where the caller keeps it
   // during the compilation; a wide-character source is converted into m_ownedText.
   const char *m_sourceText;
   char *m_ownedText;
   int32_t m_sourceSize;
   int32_t m_readPos;
   ORVA_Compiler *m_compiler;
   int32_t m_currentLine;
   int32_t m_commentLevel;
   int32_t m_stringSize;
   char m_stringBuffer[kMaxStringConstant + 1];
   ORVA_TokenTexts m_tokenTexts;
};

// Scanner context (flex reentrant scanner) bound to a lexer.
void *createScanner(ORVA_Lexer *lexer);
void destroyScanner(void *scanner);
// Next token number; 0 at end of input; -1 after a lexical error (already reported).
int nextToken(ORVA_TokenValue *value, void *scanner);

// Runs the parser: 0 accepted, 1 syntax error, 2 "memory exhausted".
int parse(ORVA_Compiler *compiler, ORVA_Lexer *lexer, void *scanner, ORVA_Program *program);

// The compiler object of one compilation.
class ORVA_Compiler
{
public:
   ORVA_Compiler();
   ~ORVA_Compiler();

   ORVA_Compiler(const ORVA_Compiler &) = delete;
   ORVA_Compiler &operator=(const ORVA_Compiler &) = delete;

   // Compiles the source; returns a resolved and optimized program or null.
   ORVA_Program *compile(const wchar_t *source);
   ORVA_Program *compile(const char *utf8);
   // Records a compile error ("Error in line %d: %s"); only the first one is kept.
   void error(const char *message);
   const wchar_t *getErrorText() const { return m_errorText; }
   // Copies text ("(null)" when null) into a caller's buffer of bufferSize characters,
   // cut to bufferSize - 1 characters and terminated; does nothing for a null buffer.
   static void copyErrorText(wchar_t *buffer, int bufferSize, const wchar_t *text);

   // Code-generation helpers used by the parser's actions.
   void pushAddr(uint32_t address);
   uint32_t popAddr();
   uint32_t peekAddr() const;
   void newBreakList();
   void closeBreakList(ORVA_Program *program);
   int getCurrentLine() const { return m_lexer != nullptr ? m_lexer->getCurrentLine() : 0; }

   // Finished statements and top-level components still on the parser stack, waiting for
   // the rule that consumes them (the end of their list or of their if/loop).
   void pushFinished() { m_finishedOnStack++; }
   void popFinished() { m_finishedOnStack--; }
   int32_t finishedOnStack() const { return m_finishedOnStack; }

   wchar_t *m_errorText;
   ORVA_Lexer *m_lexer;
   ORVA_Stack *m_addrStack;
   ORVA_Stack *m_breakStack;
   int32_t m_idListOpcode;
   int32_t m_finishedOnStack = 0;
   // One entry per open loop, innermost last: how many switches are open inside it. A
   // continue leaves that many switches and drops each one's value from the data stack.
   std::vector<int32_t> m_openSwitches;

private:
   ORVA_Program *compileLexer();
};

#endif
