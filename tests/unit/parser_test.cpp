// Parser and code generation: syntax error messages, compile errors found by the actions,
// the parser's stack bound, and the code each construct emits (before the optimizer runs).
#include <gtest/gtest.h>

#include "compiler/codegen.h"
#include "compiler/compiler.h"
#include "vm/opcodes.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::wstring widen(const std::string &text)
{
   return std::wstring(text.begin(), text.end());   // the sources here are ASCII
}

std::string narrow(const wchar_t *text)
{
   std::string result;
   for (; text != nullptr && *text != 0; text++)
      result += static_cast<char>(*text);
   return result;
}

// Compiles through the public entry point; returns "" on success, else the error text.
std::string compileError(const std::string &source)
{
   wchar_t buffer[1024] = L"untouched";
   ORVA_Program *program = ORVACompile(widen(source).c_str(), buffer, 1024);
   if (program != nullptr)
   {
      delete program;
      return "";
   }
   return narrow(buffer);
}

std::string constantText(ORVA_Value *value)
{
   if (value->isNull())
      return "<null>";
   std::string text;
   for (const wchar_t *c = value->getValueAsCString(); *c != 0; c++)
      text += (*c == L'\n') ? std::string("\\n") : std::string(1, static_cast<char>(*c));
   return "\"" + text + "\"";
}

// One line per instruction: "address: MNEMONIC operand".
std::string listing(ORVA_Program *program, bool withLines = false)
{
   std::string result;
   for (uint32_t address = 0; address < program->getCodeSize(); address++)
   {
      ORVA_Instruction *instruction = program->getInstruction(address);
      int opcode = instruction->getOpcode();
      std::string line = std::to_string(address) + ": " + g_orvaOpcodes[opcode].mnemonic;
      switch (operandKindOf(opcode))
      {
         case ORVA_OperandKind::Address:
            line += " " + std::to_string(instruction->getAddress());
            break;
         case ORVA_OperandKind::Name:
            line += " " + narrow(instruction->getNameOperand());
            if (opcode == CALL_NAME || opcode == GLOBAL)
               line += ", " + std::to_string(instruction->getIntOperand());
            break;
         case ORVA_OperandKind::Constant:
            line += " " + constantText(instruction->getConstant());
            break;
         case ORVA_OperandKind::Int:
            if (opcode == CAST)
               line += " [" + narrow(g_orvaDataTypeNames[instruction->getIntOperand()]) + "]";
            else
               line += " " + std::to_string(instruction->getIntOperand());
            break;
         case ORVA_OperandKind::None:
            break;
      }
      if (withLines)
         line += " @" + std::to_string(instruction->getLine());
      result += line + "\n";
   }
   return result;
}

// Runs only the parser and its actions: no resolveFunctions, no optimizer.
struct Emitted
{
   int result = -1;
   std::string code;
   std::string error;
   std::vector<std::pair<std::string, uint32_t>> functions;
};

Emitted emit(const std::string &source, bool withLines = false)
{
   Emitted emitted;
   ORVA_Compiler compiler;
   std::wstring text = widen(source);
   compiler.m_lexer = new ORVA_Lexer(&compiler, text.c_str());
   void *scanner = createScanner(compiler.m_lexer);
   ORVA_Program program;
   emitted.result = parse(&compiler, compiler.m_lexer, scanner, &program);
   destroyScanner(scanner);
   emitted.code = listing(&program, withLines);
   emitted.error = narrow(compiler.getErrorText());
   for (uint32_t i = 0; i < program.getFunctionCount(); i++)
      emitted.functions.emplace_back(narrow(program.getFunction(i)->name), program.getFunction(i)->address);
   return emitted;
}

std::string repeat(const std::string &text, int count)
{
   std::string result;
   result.reserve(text.size() * count);
   for (int i = 0; i < count; i++)
      result += text;
   return result;
}

// ---------------------------------------------------------------------------------------
// Syntax errors
// ---------------------------------------------------------------------------------------

struct SyntaxErrorCase
{
   const char *source;
   const char *message;
};

const SyntaxErrorCase kSyntaxErrors[] = {
   {"", "syntax error, unexpected $end"},
   {"a = ;", "syntax error, unexpected ';'"},
   {"if a", "syntax error, unexpected T_IDENTIFIER, expecting '('"},
   {"f(a;", "syntax error, unexpected ';', expecting ')'"},
   {"use ;", "syntax error, unexpected ';', expecting T_COMPOUND_IDENTIFIER or T_IDENTIFIER"},
   {"sub f { }", "syntax error, unexpected '{', expecting '('"},
   {"sub f() { return 1 }", "syntax error, unexpected '}', expecting ';'"},
   {"switch (a) { }", "syntax error, unexpected '}', expecting T_CASE"},
   {"switch (a) { default: }", "syntax error, unexpected T_DEFAULT, expecting T_CASE"},
   {"sub f(a,) {}", "syntax error, unexpected ')', expecting T_IDENTIFIER"},
   {"array a = 1;", "syntax error, unexpected '=', expecting ';'"},
   {"print 1, 2;", "syntax error, unexpected ',', expecting ';'"},
   {"a[b] += c;", "syntax error, unexpected T_ASSIGN_ADD, expecting $end"},
   {"return 1", "syntax error, unexpected $end, expecting ';'"},
   {"{ sub f() {} }", "syntax error, unexpected T_SUB, expecting '}'"},
   {"x-1.5;", "syntax error, unexpected T_REAL, expecting $end"},
   {"1; 2", "syntax error, unexpected $end"},
   {"a::b = 1;", "syntax error, unexpected T_COMPOUND_IDENTIFIER"},
   // a lexical error ends the input; the first error (the lexer's) is the one reported
   {"x = 1; #", "Invalid character '#' (0x23)"},
};

TEST(ParserTest, SyntaxErrorMessagesListTheExpectedTokens)
{
   for (const SyntaxErrorCase &c : kSyntaxErrors)
      EXPECT_EQ(compileError(c.source), std::string("Error in line 1: ") + c.message) << "source: " << c.source;
}

// Names, constants and instructions the parser still holds when it gives up are released
// (the sanitizer build checks for leaks and double frees).
TEST(ParserTest, SyntaxErrorsReleaseWhatTheParserHolds)
{
   const char *sources[] = {
      "use a b", "use a::b c", "f(a;", "f(x: 1 2)", "return 1 }", "print \"s\" \"t\"",
      "switch (a) { case \"k\" ; }", "foreach (v ; a) x;", "x += ;", "sub f(a b", "sub f(a, b) { x",
      "a->b c", "global g = 1 2;", "int32(\"s\" x", "while (a) { switch (b) { case 1: for (;",
   };
   for (const char *source : sources)
      EXPECT_EQ(compileError(source).rfind("Error in line 1: syntax error", 0), 0u) << "source: " << source;
}

TEST(ParserTest, SyntaxErrorNamesTheLineOfTheOffendingToken)
{
   EXPECT_EQ(compileError("x = 1;\ny = 2;\na = ;"), "Error in line 3: syntax error, unexpected ';'");
}

TEST(ParserTest, AcceptedForms)
{
   const char *sources[] = {
      "a + b",
      "{ }",
      ";",
      "global a, b = 1, c;",
      "global array a, b;",
      "f(a: 1, b);",
      "do x; while (a);",
      "if (a) if (b) c; else d;",
      "use a::b; use c; x = 1;",
      "sub f(a) { return a; } sub g() { } f(1);",
      "x = a . b + c == d like e ? f : g ? h : i;",
      "switch (x) { case -1.5: case \"s\": case TRUE: case null: default: }",
   };
   for (const char *source : sources)
      EXPECT_EQ(compileError(source), "") << "source: " << source;
}

TEST(ParserTest, DanglingElseBindsToTheNearestIf)
{
   // The outer if has no else: its JZ lands after the inner if's else branch.
   EXPECT_EQ(emit("if (a) if (b) c; else d;").code,
             "0: PUSH a\n1: JZ 9\n2: PUSH b\n3: JZ 7\n4: PUSH c\n5: POP 1\n6: JMP 9\n"
             "7: PUSH d\n8: POP 1\n9: NRET\n");
}

// ---------------------------------------------------------------------------------------
// Errors found by the actions
// ---------------------------------------------------------------------------------------

TEST(ParserTest, MisplacedBreakAndContinue)
{
   const std::string breakMessage =
      "\"break\" statement can be used only within loops and \"switch\" statements";
   const std::string continueMessage = "\"continue\" statement can be used only within loops";
   struct
   {
      const char *source;
      std::string expected;
   } cases[] = {
      {"break;", "Error in line 1: " + breakMessage},
      {"x = 1;\nbreak;", "Error in line 2: " + breakMessage},
      {"sub f() { break; }", "Error in line 1: " + breakMessage},
      {"continue;", "Error in line 1: " + continueMessage},
      {"switch (a) { case 1: continue; }", "Error in line 1: " + continueMessage},
      {"switch (a) { case 1: break; }", ""},
      {"while (a) { switch (b) { case 1: continue; } }", ""},
   };
   for (const auto &c : cases)
      EXPECT_EQ(compileError(c.source), c.expected) << "source: " << c.source;
}

TEST(ParserTest, MisplacedBreakAppendsNothingAndParsingGoesOn)
{
   Emitted e = emit("break; continue; x;");
   EXPECT_EQ(e.result, 0);
   EXPECT_EQ(e.code, "0: PUSH x\n1: POP 1\n2: NRET\n");
}

TEST(ParserTest, DuplicateFunctionNames)
{
   EXPECT_EQ(compileError("sub f() { } sub f() { }"), "Error in line 1: Duplicate function name: \"f\"");
   EXPECT_EQ(compileError("sub $main() { }"), "Error in line 1: Duplicate function name: \"$main\"");
   EXPECT_EQ(compileError("sub $main() { }\n\n"), "Error in line 3: Duplicate function name: \"$main\"");
   EXPECT_EQ(compileError("sub f() { } sub g() { }"), "");
}

// ---------------------------------------------------------------------------------------
// Stack bound
// ---------------------------------------------------------------------------------------

TEST(ParserTest, LongStatementListsCompile)
{
   EXPECT_EQ(compileError(repeat("x = 1;\n", 200000)), "");
   EXPECT_EQ(compileError("{\n" + repeat("x = 1;\n", 100000) + "}\n"), "");
   EXPECT_EQ(compileError("sub f() {\n" + repeat("x = 1;\n", 100000) + "}\n"), "");
}

TEST(ParserTest, PathologicalNestingEndsWithMemoryExhausted)
{
   const int depth = kParserNestingLimit + 10;
   EXPECT_EQ(compileError(repeat("(", depth) + "1" + repeat(")", depth)), "Error in line 1: memory exhausted");
   EXPECT_EQ(compileError(repeat("{", depth) + repeat("}", depth)), "Error in line 1: memory exhausted");
   EXPECT_EQ(compileError(repeat("!", depth) + "1"), "Error in line 1: memory exhausted");
}

TEST(ParserTest, NestingBelowTheBoundCompiles)
{
   // Each "(" takes one parser stack entry, each while six.
   EXPECT_EQ(compileError(repeat("(", kParserNestingLimit - 10) + "1" + repeat(")", kParserNestingLimit - 10)), "");
   EXPECT_EQ(compileError(repeat("(", kParserNestingLimit) + "1" + repeat(")", kParserNestingLimit)),
             "Error in line 1: memory exhausted");
   EXPECT_EQ(compileError(repeat("while (a) ", 1500) + "x;"), "");
   EXPECT_EQ(compileError(repeat("while (a) ", 2000) + "x;"), "Error in line 1: memory exhausted");
}

TEST(ParserTest, FinishedStatementsDoNotCountAsNesting)
{
   // Long lists at every level of a nest, and long lists after deep nests.
   std::string nested;
   for (int level = 0; level < 50; level++)
      nested += "if (a) {\n" + repeat("x = 1;\n", 2000);
   nested += repeat("}\n", 50);
   EXPECT_EQ(compileError(nested), "");
   EXPECT_EQ(compileError(repeat("if (a) { x = 1; } else { y = 2; }\n", 50000)), "");
   EXPECT_EQ(compileError(repeat("while (a) { do x++; while (b); }\n", 50000)), "");
}

// ---------------------------------------------------------------------------------------
// Emitted code
// ---------------------------------------------------------------------------------------

struct LayoutCase
{
   const char *name;
   const char *source;
   const char *code;
};

const LayoutCase kLayouts[] = {
   {"statement", "x = 2; println x * 3;",
    "0: PUSH \"2\"\n1: SET x\n2: POP 1\n3: PUSH x\n4: PUSH \"3\"\n5: MUL\n"
    "6: PUSH \"\\n\"\n7: CONCAT\n8: PRINT\n9: NRET\n"},
   {"expression script", "1 + 2", "0: PUSH \"1\"\n1: PUSH \"2\"\n2: ADD\n3: RET\n"},
   {"empty statements", "; { } println;", "0: NOP\n1: PUSH \"\\n\"\n2: PRINT\n3: NRET\n"},
   {"valueless statements", "print; return; exit 1;",
    "0: PUSH <null>\n1: PRINT\n2: PUSH <null>\n3: RET\n4: PUSH \"1\"\n5: EXIT\n6: NRET\n"},
   {"if else", "if (a) b; else c;",
    "0: PUSH a\n1: JZ 5\n2: PUSH b\n3: POP 1\n4: JMP 7\n5: PUSH c\n6: POP 1\n7: NRET\n"},
   {"if", "if (a) b;", "0: PUSH a\n1: JZ 4\n2: PUSH b\n3: POP 1\n4: NRET\n"},
   {"while", "while (a) { b; }", "0: PUSH a\n1: JZ 5\n2: PUSH b\n3: POP 1\n4: JMP 0\n5: NRET\n"},
   {"do with break and continue", "do { break; continue; } while (a);",
    "0: JMP 4\n1: JMP 0\n2: PUSH a\n3: JNZ 0\n4: NRET\n"},
   {"for", "for (i = 0; i < 3; i++) { continue; }",
    "0: PUSH \"0\"\n1: SET i\n2: POP 1\n3: PUSH i\n4: PUSH \"3\"\n5: LT\n6: JZ 13\n7: JMP 11\n"
    "8: INC i\n9: POP 1\n10: JMP 3\n11: JMP 8\n12: JMP 8\n13: NRET\n"},
   {"foreach", "foreach (v : a) { if (v) break; continue; }",
    "0: PUSH \"v\"\n1: PUSH a\n2: FOREACH\n3: NEXT\n4: JZ 10\n5: PUSH v\n6: JZ 8\n7: JMP 10\n"
    "8: JMP 3\n9: JMP 3\n10: POP 1\n11: NRET\n"},
   {"switch", "switch (x) { case 1: a; case 2: b; break; default: c; }",
    "0: PUSH x\n1: CASE \"1\"\n2: JZ 6\n3: PUSH a\n4: POP 1\n5: JMP 8\n6: CASE \"2\"\n7: JZ 11\n"
    "8: PUSH b\n9: POP 1\n10: JMP 13\n11: PUSH c\n12: POP 1\n13: POP 1\n14: NRET\n"},
   {"function", "sub f(a, b) { return a; } f(b: 1, 2);",
    "0: JMP 6\n1: BIND a\n2: BIND b\n3: PUSH a\n4: RET\n5: NRET\n6: PUSH \"1\"\n7: NAME b\n"
    "8: PUSH \"2\"\n9: CALL f, 2\n10: POP 1\n11: NRET\n"},
   {"declarations", "global a, b = 1; array c, d; global array e;",
    "0: GLOBAL a, 0\n1: PUSH \"1\"\n2: GLOBAL b, 1\n3: ARRAY c\n4: ARRAY d\n5: GARRAY e\n6: NRET\n"},
   {"assignments and operators",
    "x += 2; a[1] = b[2]; o->n = o->m; y = -x; z = int32(x) . \"s\"; w = c ? 1 : 2; ++x; x--;",
    "0: PUSH x\n1: PUSH \"2\"\n2: ADD\n3: SET x\n4: POP 1\n"
    "5: PUSH a\n6: PUSH \"1\"\n7: PUSH b\n8: PUSH \"2\"\n9: EGET\n10: ESET\n11: POP 1\n"
    "12: PUSH o\n13: PUSH o\n14: AGET m\n15: ASET n\n16: POP 1\n"
    "17: PUSH x\n18: NEG\n19: SET y\n20: POP 1\n"
    "21: PUSH x\n22: CAST [int32]\n23: PUSH \"s\"\n24: CONCAT\n25: SET z\n26: POP 1\n"
    "27: PUSH c\n28: JZ 31\n29: PUSH \"1\"\n30: JMP 32\n31: PUSH \"2\"\n32: SET w\n33: POP 1\n"
    "34: INCP x\n35: POP 1\n36: DEC x\n37: POP 1\n38: NRET\n"},
   {"continue leaves the switch", "while (a) { switch (x) { case 1: continue; } }",
    "0: PUSH a\n1: JZ 9\n2: PUSH x\n3: CASE \"1\"\n4: JZ 7\n5: POP 1\n6: JMP 0\n7: POP 1\n"
    "8: JMP 0\n9: NRET\n"},
   {"continue leaves two switches", "do switch (x) { case 1: switch (y) { case 2: continue; } } while (a);",
    "0: PUSH x\n1: CASE \"1\"\n2: JZ 10\n3: PUSH y\n4: CASE \"2\"\n5: JZ 9\n6: POP 1\n7: POP 1\n8: JMP 0\n"
    "9: POP 1\n10: POP 1\n11: PUSH a\n12: JNZ 0\n13: NRET\n"},
   {"continue of a loop inside a switch", "switch (x) { case 1: while (a) continue; }",
    "0: PUSH x\n1: CASE \"1\"\n2: JZ 7\n3: PUSH a\n4: JZ 7\n5: JMP 3\n6: JMP 3\n7: POP 1\n8: NRET\n"},
};

TEST(CodeGenerationTest, ConstructLayouts)
{
   for (const LayoutCase &c : kLayouts)
   {
      Emitted e = emit(c.source);
      EXPECT_EQ(e.result, 0) << c.name;
      EXPECT_EQ(e.error, "") << c.name;
      EXPECT_EQ(e.code, c.code) << c.name << ": " << c.source;
   }
}

TEST(CodeGenerationTest, FunctionsAreRegisteredWhereTheyStart)
{
   Emitted e = emit("x; sub f(a) { } sub g() { }");
   EXPECT_EQ(e.code, "0: PUSH x\n1: POP 1\n2: JMP 5\n3: BIND a\n4: NRET\n5: JMP 7\n6: NRET\n7: NRET\n");
   ASSERT_EQ(e.functions.size(), 3u);
   EXPECT_EQ(e.functions[0], std::make_pair(std::string("f"), 3u));
   EXPECT_EQ(e.functions[1], std::make_pair(std::string("g"), 6u));
   EXPECT_EQ(e.functions[2], std::make_pair(std::string("$main"), 0u));
}

TEST(CodeGenerationTest, ContinueInASwitchInEveryLoopKindDropsTheSwitchValue)
{
   const char *sources[] = {
      "while (a) { switch (v) { case 1: continue; } }",
      "do { switch (v) { case 1: continue; } } while (a);",
      "for (i = 0; i < 3; i++) { switch (v) { case 1: continue; } }",
      "foreach (v : a) { switch (v) { case 1: continue; } }",
   };
   for (const char *source : sources)
   {
      Emitted e = emit(source);
      // CASE, JZ, then the continue: one POP 1 and the jump back.
      size_t casePos = e.code.find("CASE \"1\"\n");
      ASSERT_NE(casePos, std::string::npos) << source;
      std::string after = e.code.substr(casePos);
      EXPECT_NE(after.find("JZ"), std::string::npos);
      size_t pop = after.find("POP 1\n");
      size_t jump = after.find("JMP");
      EXPECT_LT(pop, jump) << source << "\n" << e.code;
   }
}

TEST(CodeGenerationTest, InstructionsCarryTheLineOfTheirReduction)
{
   // return is reduced before its expression is read: RET keeps the keyword's line.
   Emitted e = emit("x = 1;\nreturn\n  y;\n", true);
   EXPECT_EQ(e.code,
             "0: PUSH \"1\" @1\n1: SET x @1\n2: POP 1 @1\n3: PUSH y @3\n4: RET @2\n5: NRET @4\n");
}

TEST(CodeGenerationTest, BreakAtAddressZeroBecomesAJump)
{
   Emitted e = emit("do { break; } while (c);");
   EXPECT_EQ(e.code, "0: JMP 3\n1: PUSH c\n2: JNZ 0\n3: NRET\n");
}

TEST(CodeGenerationTest, ConstantsKeepTheirTypes)
{
   struct
   {
      const char *source;
      int dataType;
   } cases[] = {
      {"1", ORVA_DT_INT32}, {"1U", ORVA_DT_UINT32}, {"1L", ORVA_DT_INT64},
      {"1UL", ORVA_DT_UINT64}, {"1.5", ORVA_DT_REAL}, {"\"a\"", ORVA_DT_STRING},
      {"true", ORVA_DT_INT32}, {"FALSE", ORVA_DT_INT32}, {"null", ORVA_DT_NULL},
   };
   for (const auto &c : cases)
   {
      ORVA_Compiler compiler;
      std::wstring text = widen(c.source);
      compiler.m_lexer = new ORVA_Lexer(&compiler, text.c_str());
      void *scanner = createScanner(compiler.m_lexer);
      ORVA_Program program;
      ASSERT_EQ(parse(&compiler, compiler.m_lexer, scanner, &program), 0);
      destroyScanner(scanner);
      ASSERT_EQ(program.getInstruction(0)->getOpcode(), PUSH_CONST) << c.source;
      EXPECT_EQ(program.getInstruction(0)->getConstant()->getDataType(), c.dataType) << c.source;
   }
}

}  // namespace
