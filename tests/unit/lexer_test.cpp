// The scanner on its own: source text in, token numbers and token values out, plus the
// lexical errors and the line counter.
#include <gtest/gtest.h>

#include "compiler/compiler.h"
#include "grammar.hpp"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

static_assert(T_ARRAY == 258 && T_WHILE == 285 && T_REAL == 293 && T_LSHIFT == 314 &&
              NEGATE == 315 && T_REF == 318 && T_POST_INC == 320,
              "token numbers are part of the scanner/parser contract");

const char *const kTokenNames[] = {
   "T_ARRAY", "T_BREAK", "T_CASE", "T_CONTINUE", "T_DEFAULT", "T_DO", "T_ELSE", "T_EXIT",
   "T_FALSE", "T_FOR", "T_FOREACH", "T_GLOBAL", "T_IF", "T_NULL", "T_PRINT", "T_PRINTLN",
   "T_RETURN", "T_SUB", "T_SWITCH", "T_TRUE", "T_TYPE_INT32", "T_TYPE_INT64", "T_TYPE_REAL",
   "T_TYPE_STRING", "T_TYPE_UINT32", "T_TYPE_UINT64", "T_USE", "T_WHILE",
   "T_COMPOUND_IDENTIFIER", "T_IDENTIFIER", "T_STRING", "T_INT32", "T_UINT32", "T_INT64",
   "T_UINT64", "T_REAL", "T_ASSIGN_XOR", "T_ASSIGN_OR", "T_ASSIGN_AND", "T_ASSIGN_CONCAT",
   "T_ASSIGN_REM", "T_ASSIGN_DIV", "T_ASSIGN_MUL", "T_ASSIGN_SUB", "T_ASSIGN_ADD", "T_OR",
   "T_AND", "T_IMATCH", "T_MATCH", "T_ILIKE", "T_LIKE", "T_EQ", "T_NE", "T_GE", "T_LE",
   "T_RSHIFT", "T_LSHIFT", "NEGATE", "T_DEC", "T_INC", "T_REF", "T_POST_DEC", "T_POST_INC"};

// Text bytes with everything outside printable ASCII written as \xNN.
std::string escape(const char *text)
{
   std::string out;
   for (const char *p = text; *p != 0; p++)
   {
      unsigned char byte = static_cast<unsigned char>(*p);
      if (byte < 0x20 || byte >= 0x7F || byte == '\\')
      {
         char hex[8];
         snprintf(hex, sizeof(hex), "\\x%02X", byte);
         out += hex;
      }
      else
      {
         out += static_cast<char>(byte);
      }
   }
   return out;
}

// One token as text: its name, then ":value" for tokens that carry one. Takes over (and
// frees) the text of identifier and string tokens.
std::string describe(int token, ORVA_TokenValue &value)
{
   if (token < 256)
      return std::string("'") + static_cast<char>(token) + "'";
   std::string name = kTokenNames[token - T_ARRAY];
   char number[64];
   switch (token)
   {
      case T_IDENTIFIER:
      case T_COMPOUND_IDENTIFIER:
      case T_STRING:
         name += ":" + escape(value.text);
         return name;
      case T_INT32: snprintf(number, sizeof(number), "%d", value.int32); break;
      case T_UINT32: snprintf(number, sizeof(number), "%u", value.uint32); break;
      case T_INT64: snprintf(number, sizeof(number), "%lld", static_cast<long long>(value.int64)); break;
      case T_UINT64: snprintf(number, sizeof(number), "%llu", static_cast<unsigned long long>(value.uint64)); break;
      case T_REAL: snprintf(number, sizeof(number), "%g", value.real); break;
      default: return name;
   }
   return name + ":" + number;
}

// A compiler object, a lexer over the source and a scanner context, as one compilation
// has them, without the parser.
class Scan
{
public:
   explicit Scan(const wchar_t *source)
   {
      m_compiler.m_lexer = new ORVA_Lexer(&m_compiler, source);
      m_scanner = createScanner(m_compiler.m_lexer);
   }
   ~Scan() { destroyScanner(m_scanner); }

   int next(ORVA_TokenValue *value) { return nextToken(value, m_scanner); }

   // All tokens up to the end of input (or an error), separated by spaces; an error
   // ends the list with "ERROR".
   std::string all()
   {
      std::string out;
      for (;;)
      {
         ORVA_TokenValue value;
         int token = next(&value);
         if (token <= 0)
         {
            if (token < 0)
               out += out.empty() ? "ERROR" : " ERROR";
            return out;
         }
         if (!out.empty())
            out += " ";
         out += describe(token, value);
      }
   }

   int line() const { return m_compiler.m_lexer->m_currentLine; }
   std::wstring errorText() const
   {
      return m_compiler.getErrorText() != nullptr ? m_compiler.getErrorText() : L"";
   }

private:
   ORVA_Compiler m_compiler;
   void *m_scanner;
};

std::string scanAll(const wchar_t *source)
{
   Scan scan(source);
   return scan.all();
}

struct TokenCase
{
   const wchar_t *source;
   const char *tokens;
};

class TokenTable : public ::testing::TestWithParam<TokenCase>
{
};

TEST_P(TokenTable, ScansTo)
{
   Scan scan(GetParam().source);
   EXPECT_EQ(scan.all(), GetParam().tokens);
   EXPECT_EQ(scan.errorText(), L"");
}

INSTANTIATE_TEST_SUITE_P(Keywords, TokenTable, ::testing::Values(
   TokenCase{L"array break case continue default do else exit FALSE false for foreach",
             "T_ARRAY T_BREAK T_CASE T_CONTINUE T_DEFAULT T_DO T_ELSE T_EXIT T_FALSE T_FALSE T_FOR T_FOREACH"},
   TokenCase{L"global if ilike imatch int32 int64 like match NULL null print println",
             "T_GLOBAL T_IF T_ILIKE T_IMATCH T_TYPE_INT32 T_TYPE_INT64 T_LIKE T_MATCH T_NULL T_NULL T_PRINT T_PRINTLN"},
   TokenCase{L"real return string sub switch TRUE true uint32 uint64 use while",
             "T_TYPE_REAL T_RETURN T_TYPE_STRING T_SUB T_SWITCH T_TRUE T_TRUE T_TYPE_UINT32 T_TYPE_UINT64 T_USE T_WHILE"},
   TokenCase{L"False Null True If ifx use_count print2",
             "T_IDENTIFIER:False T_IDENTIFIER:Null T_IDENTIFIER:True T_IDENTIFIER:If T_IDENTIFIER:ifx "
             "T_IDENTIFIER:use_count T_IDENTIFIER:print2"}));

INSTANTIATE_TEST_SUITE_P(Names, TokenTable, ::testing::Values(
   TokenCase{L"$x _x1 $", "T_IDENTIFIER:$x T_IDENTIFIER:_x1 T_IDENTIFIER:$"},
   TokenCase{L"a::b::c", "T_COMPOUND_IDENTIFIER:a::b::c"},
   TokenCase{L"$a::_b", "T_COMPOUND_IDENTIFIER:$a::_b"},
   TokenCase{L"a::1", "T_IDENTIFIER:a ':' ':' T_INT32:1"},
   TokenCase{L"a:: b", "T_IDENTIFIER:a ':' ':' T_IDENTIFIER:b"},
   TokenCase{L"a::b::", "T_COMPOUND_IDENTIFIER:a::b ':' ':'"},
   TokenCase{L"1abc", "T_INT32:1 T_IDENTIFIER:abc"}));

INSTANTIATE_TEST_SUITE_P(Numbers, TokenTable, ::testing::Values(
   TokenCase{L"x-1.5", "T_IDENTIFIER:x T_REAL:-1.5"},
   TokenCase{L"x - 1.5", "T_IDENTIFIER:x '-' T_REAL:1.5"},
   TokenCase{L"x-1", "T_IDENTIFIER:x '-' T_INT32:1"},
   TokenCase{L"-5 -5.5", "'-' T_INT32:5 T_REAL:-5.5"},
   TokenCase{L"0x1F 0xff", "T_INT32:31 T_INT32:255"},
   TokenCase{L"0X1F", "T_INT32:0 T_IDENTIFIER:X1F"},
   TokenCase{L"0x", "T_INT32:0 T_IDENTIFIER:x"},
   TokenCase{L"010 09 0", "T_INT32:8 T_INT32:0 T_INT32:0"},
   TokenCase{L"2147483647 2147483648", "T_INT32:2147483647 T_INT64:2147483648"},
   TokenCase{L"0x7FFFFFFF 0x80000000", "T_INT32:2147483647 T_INT64:2147483648"},
   TokenCase{L"9223372036854775807 99999999999999999999",
             "T_INT64:9223372036854775807 T_INT64:9223372036854775807"},
   TokenCase{L"5U 0x1FU 010U", "T_UINT32:5 T_UINT32:31 T_UINT32:8"},
   TokenCase{L"4294967295U 4294967296U 99999999999999999999U",
             "T_UINT32:4294967295 T_UINT32:4294967295 T_UINT32:4294967295"},
   TokenCase{L"5L 2147483648L 010L", "T_INT64:5 T_INT64:2147483648 T_INT64:8"},
   TokenCase{L"5UL 5LU 18446744073709551615UL 0xFFFFFFFFFFFFFFFFLU",
             "T_UINT64:5 T_UINT64:5 T_UINT64:18446744073709551615 T_UINT64:18446744073709551615"},
   TokenCase{L"5ul", "T_INT32:5 T_IDENTIFIER:ul"},
   TokenCase{L"5UU", "T_UINT32:5 T_IDENTIFIER:U"},
   TokenCase{L"1.5e3", "T_REAL:1.5 T_IDENTIFIER:e3"},
   TokenCase{L".5", "'.' T_INT32:5"},
   TokenCase{L"5.", "T_INT32:5 '.'"},
   TokenCase{L"0.25 007.5", "T_REAL:0.25 T_REAL:7.5"}));

INSTANTIATE_TEST_SUITE_P(Operators, TokenTable, ::testing::Values(
   TokenCase{L"== != <= >= << >> && ||", "T_EQ T_NE T_LE T_GE T_LSHIFT T_RSHIFT T_AND T_OR"},
   TokenCase{L"++ -- -> ~= += -= *= /= %= .= &= |= ^=",
             "T_INC T_DEC T_REF T_MATCH T_ASSIGN_ADD T_ASSIGN_SUB T_ASSIGN_MUL T_ASSIGN_DIV "
             "T_ASSIGN_REM T_ASSIGN_CONCAT T_ASSIGN_AND T_ASSIGN_OR T_ASSIGN_XOR"},
   TokenCase{L". { } ( ) ; : + - * / % = ! & | ^ ~ , < > ? [ ]",
             "'.' '{' '}' '(' ')' ';' ':' '+' '-' '*' '/' '%' '=' '!' '&' '|' '^' '~' ',' '<' '>' '?' '[' ']'"},
   TokenCase{L"<<= === ---", "T_LSHIFT '=' T_EQ '=' T_DEC '-'"},
   TokenCase{L"a->b[1]", "T_IDENTIFIER:a T_REF T_IDENTIFIER:b '[' T_INT32:1 ']'"}));

INSTANTIATE_TEST_SUITE_P(Comments, TokenTable, ::testing::Values(
   TokenCase{L"", ""},
   TokenCase{L" \t\r\n ", ""},
   TokenCase{L"/* a /* b */ c */ d", "T_IDENTIFIER:d"},
   TokenCase{L"a // b \xE9 */ \n c", "T_IDENTIFIER:a T_IDENTIFIER:c"},
   TokenCase{L"a /* # @ \"x \xE9 */ b", "T_IDENTIFIER:a T_IDENTIFIER:b"},
   TokenCase{L"a /* never closed", "T_IDENTIFIER:a"},
   TokenCase{L"a /* x */ */", "T_IDENTIFIER:a '*' '/'"},
   TokenCase{L"a/b", "T_IDENTIFIER:a '/' T_IDENTIFIER:b"}));

INSTANTIATE_TEST_SUITE_P(Strings, TokenTable, ::testing::Values(
   TokenCase{L"\"abc\" \"\"", "T_STRING:abc T_STRING:"},
   TokenCase{L"\"\\\"\\\\\\b\\n\\r\\t\"", "T_STRING:\"\\x5C\\x08\\x0A\\x0D\\x09"},
   TokenCase{L"\"\\x41\\x4a\\x7\"", "T_STRING:AJ\\x07"},
   TokenCase{L"\"\\x4G\"", "T_STRING:\\x04G"},
   TokenCase{L"\"\\x414\"", "T_STRING:A4"},
   TokenCase{L"\"\\x \\q\"", "T_STRING:\\x5Cx \\x5Cq"},
   TokenCase{L"\"a\\0b\" \"c\\x00d\"", "T_STRING:a T_STRING:c"},
   TokenCase{L"\"a\rb\"", "T_STRING:ab"},
   TokenCase{L"\"/* // */\"", "T_STRING:/* // */"},
   TokenCase{L"\"\xE9\x20AC\"", "T_STRING:\\xC3\\xA9\\xE2\\x82\\xAC"},
   TokenCase{L"a \"never closed", "T_IDENTIFIER:a"}));

struct ErrorCase
{
   const wchar_t *source;
   const char *tokens;
   const wchar_t *errorText;
};

class ErrorTable : public ::testing::TestWithParam<ErrorCase>
{
};

TEST_P(ErrorTable, ReportsError)
{
   Scan scan(GetParam().source);
   EXPECT_EQ(scan.all(), GetParam().tokens);
   EXPECT_EQ(scan.errorText(), GetParam().errorText);
}

INSTANTIATE_TEST_SUITE_P(InvalidCharacters, ErrorTable, ::testing::Values(
   ErrorCase{L"\f", "ERROR", L"Error in line 1: Invalid character '\f' (0x0C)"},
   ErrorCase{L"\v", "ERROR", L"Error in line 1: Invalid character '\v' (0x0B)"},
   ErrorCase{L"x #", "T_IDENTIFIER:x ERROR", L"Error in line 1: Invalid character '#' (0x23)"},
   ErrorCase{L"@", "ERROR", L"Error in line 1: Invalid character '@' (0x40)"},
   ErrorCase{L"'a'", "ERROR", L"Error in line 1: Invalid character ''' (0x27)"},
   ErrorCase{L"`", "ERROR", L"Error in line 1: Invalid character '`' (0x60)"},
   ErrorCase{L"\\n", "ERROR", L"Error in line 1: Invalid character '\\' (0x5C)"},
   // The lone lead byte of the UTF-8 form is printed as it is and then decodes as U+FFFD.
   ErrorCase{L"\xE9", "ERROR", L"Error in line 1: Invalid character '\xFFFD' (0xC3)"},
   ErrorCase{L"a\n\nb #", "T_IDENTIFIER:a T_IDENTIFIER:b ERROR",
             L"Error in line 3: Invalid character '#' (0x23)"},
   ErrorCase{L"/*\n\n*/ @", "ERROR", L"Error in line 3: Invalid character '@' (0x40)"},
   ErrorCase{L"// x\n#", "ERROR", L"Error in line 2: Invalid character '#' (0x23)"}));

INSTANTIATE_TEST_SUITE_P(StringErrors, ErrorTable, ::testing::Values(
   ErrorCase{L"x = \"ab\ncd\"", "T_IDENTIFIER:x '=' ERROR", L"Error in line 1: Newline in string constant"},
   ErrorCase{L"\n\"\\\n\"", "ERROR", L"Error in line 2: Newline in string constant"}));

TEST(Lexer, StringConstantHoldsAtMost8192Bytes)
{
   std::wstring full = L"\"" + std::wstring(kMaxStringConstant, L'a') + L"\"";
   ORVA_TokenValue value;
   {
      Scan scan(full.c_str());
      ASSERT_EQ(scan.next(&value), T_STRING);
      EXPECT_EQ(strlen(value.text), static_cast<size_t>(kMaxStringConstant));
      EXPECT_EQ(scan.next(&value), 0);
   }

   // Escapes count as one byte each, and the limit applies to them as well.
   std::wstring escaped = L"\"" + std::wstring(kMaxStringConstant - 1, L'a') + L"\\n\"";
   {
      Scan scan(escaped.c_str());
      ASSERT_EQ(scan.next(&value), T_STRING);
      EXPECT_EQ(value.text[kMaxStringConstant - 1], '\n');
   }

   // A multi-byte character counts with all its bytes.
   std::wstring wide = L"\"" + std::wstring(kMaxStringConstant / 2, L'\xE9') + L"\"";
   {
      Scan scan(wide.c_str());
      ASSERT_EQ(scan.next(&value), T_STRING);
   }

   const wchar_t *tooLong[] = {L"a", L"\\x41", L"\\0", L"\xE9"};
   for (const wchar_t *extra : tooLong)
   {
      std::wstring source = L"\n\"" + std::wstring(kMaxStringConstant, L'a') + extra + L"\"";
      Scan scan(source.c_str());
      EXPECT_EQ(scan.next(&value), -1);
      EXPECT_EQ(scan.errorText(), L"Error in line 2: String constant is too long");
   }
}

TEST(Lexer, FirstErrorWins)
{
   Scan scan(L"# @");
   ORVA_TokenValue value;
   EXPECT_EQ(scan.next(&value), -1);
   EXPECT_EQ(scan.next(&value), -1);
   EXPECT_EQ(scan.errorText(), L"Error in line 1: Invalid character '#' (0x23)");
}

TEST(Lexer, EndOfInputRepeats)
{
   for (const wchar_t *source : {L"", L"x", L"/* open", L"\"open"})
   {
      Scan scan(source);
      ORVA_TokenValue value;
      int token;
      while ((token = scan.next(&value)) > 0)
         describe(token, value);
      EXPECT_EQ(token, 0);
      EXPECT_EQ(scan.next(&value), 0);
   }
}

TEST(Lexer, NullSourceIsEmpty)
{
   EXPECT_EQ(scanAll(nullptr), "");
}

// The line counter after each token: newlines in block comments count, the newline that
// ends a line comment counts once, carriage returns do not count.
TEST(Lexer, CountsLines)
{
   Scan scan(L"a\nb /* x\n\ny */ c // d\r\ne\n\n\"s\" f");
   std::vector<int> lines;
   ORVA_TokenValue value;
   int token;
   while ((token = scan.next(&value)) > 0)
   {
      describe(token, value);
      lines.push_back(scan.line());
   }
   EXPECT_EQ(lines, (std::vector<int>{1, 2, 4, 5, 7, 7}));
}

// Input arrives in pieces of 8192 bytes and the scanner's buffer is 16384 bytes: tokens
// that straddle a piece boundary or exceed the buffer must come out whole.
// The lexer keeps one copy of each distinct text for the whole compilation: tokens of one
// text get the same copy, texts that only begin alike (or are a name and a string of the
// same bytes) read as themselves, also after the index has grown many times, and so do
// names of one hash ("costarring" and "liquid" collide in the index's hash).
TEST(Lexer, TokenTextsAreKeptOncePerText)
{
   std::wstring source = L"count counter count2 \"count\" counter count costarring liquid ";
   for (int i = 0; i < 20000; i++)
      source += L"n" + std::to_wstring(i) + L" ";
   source += L"count n7 n70 n700";
   Scan scan(source.c_str());
   ORVA_TokenValue value;
   std::vector<const char *> texts;
   int token;
   while ((token = scan.next(&value)) > 0)
   {
      ASSERT_TRUE(token == T_IDENTIFIER || token == T_STRING);
      texts.push_back(value.text);
   }
   ASSERT_EQ(texts.size(), 20012u);
   const char *const expected[] = {"count", "counter", "count2", "count", "counter", "count", "costarring", "liquid"};
   for (size_t i = 0; i < 8; i++)
      EXPECT_STREQ(texts[i], expected[i]) << i;
   EXPECT_EQ(texts[3], texts[0]);
   EXPECT_EQ(texts[4], texts[1]);
   EXPECT_EQ(texts[5], texts[0]);
   EXPECT_NE(texts[1], texts[0]);
   EXPECT_NE(texts[2], texts[0]);
   for (int i = 0; i < 20000; i++)
      ASSERT_EQ(std::string(texts[8 + i]), "n" + std::to_string(i));
   EXPECT_EQ(texts[20008], texts[0]);
   EXPECT_EQ(texts[20009], texts[8 + 7]);
   EXPECT_EQ(texts[20010], texts[8 + 70]);
   EXPECT_EQ(texts[20011], texts[8 + 700]);
}

TEST(Lexer, LongInput)
{
   std::wstring source;
   for (int i = 0; i < 5000; i++)
      source += L"name" + std::to_wstring(i) + L" ";
   std::wstring longName(40000, L'z');
   source += longName + L"\n\"" + std::wstring(kMaxStringConstant, L's') + L"\" end";

   Scan scan(source.c_str());
   ORVA_TokenValue value;
   for (int i = 0; i < 5000; i++)
   {
      ASSERT_EQ(scan.next(&value), T_IDENTIFIER);
      EXPECT_EQ(std::string(value.text), "name" + std::to_string(i));
   }
   ASSERT_EQ(scan.next(&value), T_IDENTIFIER);
   EXPECT_EQ(strlen(value.text), longName.size());
   ASSERT_EQ(scan.next(&value), T_STRING);
   EXPECT_EQ(strlen(value.text), static_cast<size_t>(kMaxStringConstant));
   ASSERT_EQ(scan.next(&value), T_IDENTIFIER);
   EXPECT_STREQ(value.text, "end");
   EXPECT_EQ(scan.next(&value), 0);
   EXPECT_EQ(scan.line(), 2);
}

TEST(Lexer, ReadInputHandsOutTheSourceInPieces)
{
   ORVA_Compiler compiler;
   ORVA_Lexer lexer(&compiler, L"abc\xE9");
   EXPECT_EQ(lexer.m_sourceSize, 5);
   char buffer[8];
   EXPECT_EQ(lexer.readInput(buffer, 3), 3);
   EXPECT_EQ(std::string(buffer, 3), "abc");
   EXPECT_EQ(lexer.readInput(buffer, 8), 2);
   EXPECT_EQ(std::string(buffer, 2), "\xC3\xA9");
   EXPECT_EQ(lexer.readInput(buffer, 8), 0);
   EXPECT_EQ(lexer.m_readPos, 5);
}

}  // namespace
