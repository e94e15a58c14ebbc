// The built-in functions called directly through their handlers, as the engine calls them:
// argument values in, a new result value or an error code out.
#include <gtest/gtest.h>

#include <orva.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <cwchar>
#include <string>
#include <vector>

#include "env/builtins.h"

namespace {

// One argument of a call, described so that tables of cases stay readable.
struct Arg
{
   enum Kind { Null, Text, Int, Int64, UInt32, UInt64, Real, Array } kind;
   std::wstring text;
   int64_t integer;
   double number;

   static Arg null() { return { Null, L"", 0, 0 }; }
   static Arg array() { return { Array, L"", 0, 0 }; }
   static Arg dbl(double number) { return { Real, L"", 0, number }; }
   static Arg i64(int64_t number) { return { Int64, L"", number, 0 }; }
   static Arg u32(uint32_t number) { return { UInt32, L"", number, 0 }; }
   static Arg u64(uint64_t number) { return { UInt64, L"", static_cast<int64_t>(number), 0 }; }
   Arg(const wchar_t *string) : kind(Text), text(string), integer(0), number(0) {}
   Arg(std::wstring string) : kind(Text), text(std::move(string)), integer(0), number(0) {}
   Arg(int value) : kind(Int), text(), integer(value), number(0) {}
   Arg(Kind k, std::wstring t, int64_t i, double r) : kind(k), text(std::move(t)), integer(i), number(r) {}

   ORVA_Value *make() const
   {
      switch (kind)
      {
         case Null: return new ORVA_Value();
         case Text: return new ORVA_Value(text.c_str(), static_cast<uint32_t>(text.size()));
         case Int: return new ORVA_Value(static_cast<int32_t>(integer));
         case Int64: return new ORVA_Value(static_cast<int64_t>(integer));
         case UInt32: return new ORVA_Value(static_cast<uint32_t>(integer));
         case UInt64: return new ORVA_Value(static_cast<uint64_t>(integer));
         case Real: return new ORVA_Value(number);
         case Array: return new ORVA_Value(new ORVA_Array());
      }
      return nullptr;
   }
};

// The outcome of one call: the return code and, when a result was stored, its type and text.
struct Outcome
{
   int rc = 0;
   bool hasResult = false;
   int type = -1;
   std::wstring text;
   double real = 0;
};

std::wstring textOf(ORVA_Value *value)
{
   uint32_t length = 0;
   const wchar_t *text = value->getValueAsString(&length);
   return text != nullptr ? std::wstring(text, length) : std::wstring();
}

// Calls the handler with fresh argument values and checks that it left them as they were
// (same type, same text): handlers read their arguments, never change or adopt them.
Outcome call(ORVA_Handler handler, const std::vector<Arg> &args, ORVA_Program *program = nullptr)
{
   std::vector<ORVA_Value *> values;
   for (const Arg &arg : args)
      values.push_back(arg.make());
   std::vector<int> typesBefore;
   for (ORVA_Value *value : values)
      typesBefore.push_back(value->getDataType());

   Outcome outcome;
   ORVA_Value *result = nullptr;
   outcome.rc = handler(static_cast<int>(values.size()), values.data(), &result, program);
   if (result != nullptr)
   {
      outcome.hasResult = true;
      outcome.type = result->getDataType();
      outcome.text = textOf(result);
      outcome.real = result->getValueAsReal();
      for (ORVA_Value *value : values)
         EXPECT_NE(value, result) << "a handler returned one of its arguments";
      delete result;
   }
   for (size_t i = 0; i < values.size(); i++)
   {
      EXPECT_EQ(typesBefore[i], values[i]->getDataType()) << "argument " << i << " was changed";
      delete values[i];
   }
   return outcome;
}

struct ResultCase
{
   const char *label;
   ORVA_Handler handler;
   std::vector<Arg> args;
   int type;
   std::wstring text;
};

void expectResults(const std::vector<ResultCase> &cases)
{
   for (const ResultCase &c : cases)
   {
      Outcome outcome = call(c.handler, c.args);
      EXPECT_EQ(0, outcome.rc) << c.label;
      EXPECT_TRUE(outcome.hasResult) << c.label;
      EXPECT_EQ(c.type, outcome.type) << c.label;
      EXPECT_EQ(c.text, outcome.text) << c.label;
   }
}

constexpr int S = ORVA_DT_STRING;
constexpr int R = ORVA_DT_REAL;
constexpr int I32 = ORVA_DT_INT32;
constexpr int I64 = ORVA_DT_INT64;
constexpr int U32 = ORVA_DT_UINT32;
constexpr int NUL = ORVA_DT_NULL;

}  // namespace

TEST(TextBuiltins, Results)
{
   expectResults({
      { "upper", builtinUpper, { L"abc Xy1" }, S, L"ABC XY1" },
      { "upper keeps the number", builtinUpper, { L"0xff" }, I32, L"0XFF" },
      { "lower maps only 0..255", builtinLower, { L"\u0130AB\u00C0" }, S, L"\u0130ab\u00C0" },
      { "length of a number", builtinLength, { 12 }, U32, L"2" },
      { "length of a real", builtinLength, { Arg::dbl(1.5) }, U32, L"8" },
      { "length of empty", builtinLength, { L"" }, U32, L"0" },
      { "length counts zero characters", builtinLength, { std::wstring(L"a\0b", 3) }, U32, L"3" },

      { "substr from 2", builtinSubstr, { L"hello", 2 }, S, L"ello" },
      { "substr 2,2", builtinSubstr, { L"hello", 2, 2 }, S, L"el" },
      { "substr from 0", builtinSubstr, { L"hello", 0 }, S, L"hello" },
      { "substr from -3", builtinSubstr, { L"hello", -3 }, S, L"hello" },
      { "substr from 1", builtinSubstr, { L"hello", 1 }, S, L"hello" },
      { "substr past end", builtinSubstr, { L"hello", 6 }, I32, L"" },
      { "substr count 0", builtinSubstr, { L"hello", 2, 0 }, I32, L"" },
      { "substr negative count", builtinSubstr, { L"hello", 2, -4 }, I32, L"" },
      { "substr clamped count", builtinSubstr, { L"hello", 4, 10 }, S, L"lo" },
      { "substr null start", builtinSubstr, { L"hello", Arg::null(), 3 }, S, L"hel" },
      { "substr reads as number", builtinSubstr, { L"a12", 2 }, I32, L"12" },
      { "substr of a number", builtinSubstr, { 12345, 2, 3 }, I32, L"234" },
      { "substr keeps zero chars", builtinSubstr, { std::wstring(L"xa\0b", 4), 2 }, S, std::wstring(L"a\0b", 3) },

      { "d2x 255", builtinD2x, { 255 }, S, L"FF" },
      { "d2x 16 reads as int32", builtinD2x, { 16 }, I32, L"10" },
      { "d2x padded", builtinD2x, { 255, 4 }, S, L"00FF" },
      { "d2x width 0", builtinD2x, { 255, 0 }, S, L"FF" },
      { "d2x negative width", builtinD2x, { 255, -4 }, S, L"FF  " },
      { "d2x -1", builtinD2x, { -1 }, S, L"FFFFFFFF" },
      { "d2x low 32 bits", builtinD2x, { Arg::i64(0x1000000ABLL) }, S, L"AB" },
      { "d2x uint32", builtinD2x, { Arg::u32(0xDEADBEEF) }, S, L"DEADBEEF" },
      { "d2x width cut to 127", builtinD2x, { 0xAB, 1000 }, S, std::wstring(125, L'0') + L"AB" },
      { "d2x negative width cut", builtinD2x, { 0xAB, INT32_MIN }, S, L"AB" + std::wstring(125, L' ') },

      { "left pads", builtinLeft, { L"abc", 5 }, S, L"abc  " },
      { "left cuts", builtinLeft, { L"abcdef", 3 }, S, L"abc" },
      { "left pad first char", builtinLeft, { L"abc", 5, L"*-" }, S, L"abc**" },
      { "left empty pad", builtinLeft, { L"abc", 5, L"" }, S, L"abc  " },
      { "left numeric pad", builtinLeft, { L"7", 3, 0 }, I32, L"700" },
      { "left negative", builtinLeft, { L"abc", -1 }, I32, L"" },
      { "left of a number", builtinLeft, { 12345, 2 }, I32, L"12" },
      { "right pads", builtinRight, { L"abc", 5 }, S, L"  abc" },
      { "right cuts", builtinRight, { L"abcdef", 3 }, S, L"def" },
      { "right pad char", builtinRight, { L"abc", 4, L"#" }, S, L"#abc" },
      { "right zero", builtinRight, { L"abc", 0 }, I32, L"" },

      { "trim", builtinTrim, { L" \t a b\t " }, S, L"a b" },
      { "trim all blanks", builtinTrim, { L" \t \t" }, I32, L"" },
      { "trim empty", builtinTrim, { L"" }, I32, L"" },
      { "trim keeps line ends", builtinTrim, { L"\na\r\n " }, S, L"\na\r\n" },
      { "trim keeps no-break space", builtinTrim, { L"\u00A0a " }, S, L"\u00A0a" },
      { "trim to a number", builtinTrim, { L" 42 " }, I32, L"42" },
      { "rtrim", builtinRTrim, { L" \ta \t" }, S, L" \ta" },
      { "rtrim all blanks", builtinRTrim, { L"  " }, I32, L"" },
      { "ltrim", builtinLTrim, { L" \ta \t" }, S, L"a \t" },
      { "ltrim all blanks", builtinLTrim, { L"\t\t" }, I32, L"" },
   });
}

TEST(TextBuiltins, SearchPositions)
{
   struct SearchCase
   {
      ORVA_Handler handler;
      std::vector<Arg> args;
      int expected;
   };
   const SearchCase cases[] = {
      { builtinIndex, { L"hello", L"l" }, 3 },
      { builtinRIndex, { L"hello", L"l" }, 4 },
      { builtinIndex, { L"hello", L"lo" }, 4 },
      { builtinIndex, { L"hello", L"o" }, 5 },
      { builtinIndex, { L"hello", L"h" }, 1 },
      { builtinIndex, { L"hello", L"l", 4 }, 4 },
      { builtinIndex, { L"hello", L"l", 5 }, 0 },
      { builtinIndex, { L"hello", L"lo", 5 }, 0 },    // first candidate beyond h - n
      { builtinIndex, { L"hello", L"l", 99 }, 0 },
      { builtinIndex, { L"hello", L"l", 0 }, 3 },     // 0 or less: no start
      { builtinIndex, { L"hello", L"l", -7 }, 3 },
      { builtinRIndex, { L"hello", L"l", 3 }, 3 },
      { builtinRIndex, { L"hello", L"l", 2 }, 0 },
      { builtinRIndex, { L"hello", L"l", 99 }, 4 },   // start beyond the last candidate
      { builtinRIndex, { L"hello", L"h", 1 }, 1 },
      { builtinRIndex, { L"hello", L"l", 0 }, 4 },
      { builtinIndex, { L"hello", L"x" }, 0 },
      { builtinRIndex, { L"hello", L"x" }, 0 },
      { builtinIndex, { L"hello", L"L" }, 0 },        // case matters
      { builtinIndex, { L"abc", L"" }, 0 },
      { builtinIndex, { L"", L"" }, 0 },
      { builtinIndex, { L"abc", L"abc", 2 }, 1 },     // equal lengths ignore the start
      { builtinRIndex, { L"abc", L"abd" }, 0 },
      { builtinIndex, { L"ab", L"abc" }, 0 },
      { builtinIndex, { 12345, 34 }, 3 },
      { builtinIndex, { std::wstring(L"a\0b\0c", 5), std::wstring(L"\0c", 2) }, 4 },
   };
   for (const SearchCase &c : cases)
   {
      Outcome outcome = call(c.handler, c.args);
      std::string label = (c.handler == builtinIndex ? "index #" : "rindex #") + std::to_string(&c - cases);
      EXPECT_EQ(0, outcome.rc) << label;
      EXPECT_EQ(I32, outcome.type) << label;
      EXPECT_EQ(std::to_wstring(c.expected), outcome.text) << label;
   }
}

TEST(TextBuiltins, UpperKeepsTypeAndNumber)
{
   ORVA_Value argument(L"0xff");
   ORVA_Value *arg = &argument;
   ORVA_Value *result = nullptr;
   ASSERT_EQ(0, builtinUpper(1, &arg, &result, nullptr));
   EXPECT_EQ(255, result->getValueAsInt32());
   EXPECT_STREQ(L"0xff", argument.getValueAsCString());
   delete result;

   ORVA_Value unsignedArg(static_cast<uint32_t>(7));
   arg = &unsignedArg;
   ASSERT_EQ(0, builtinLower(1, &arg, &result, nullptr));
   EXPECT_EQ(U32, result->getDataType());
   delete result;
}

// Every argument check, in the order the checks are made: where two arguments are bad, the
// code of the first check wins.
TEST(Builtins, ArgumentErrors)
{
   const Arg arr = Arg::array();
   const Arg nul = Arg::null();
   const Arg r = Arg::dbl(1.5);
   struct ErrorCase
   {
      const char *label;
      ORVA_Handler handler;
      std::vector<Arg> args;
      int code;
   };
   const ErrorCase cases[] = {
      { "upper array", builtinUpper, { arr }, 17 },
      { "lower null", builtinLower, { nul }, 17 },
      { "length array", builtinLength, { arr }, 17 },
      { "trim null", builtinTrim, { nul }, 17 },
      { "rtrim array", builtinRTrim, { arr }, 17 },
      { "ltrim null", builtinLTrim, { nul }, 17 },

      { "substr 1 arg", builtinSubstr, { L"a" }, 12 },
      { "substr 4 args", builtinSubstr, { L"a", 1, 1, 1 }, 12 },
      { "substr text", builtinSubstr, { arr, r }, 17 },
      { "substr real start", builtinSubstr, { L"hello", Arg::dbl(1.0) }, 19 },
      { "substr text start", builtinSubstr, { L"hello", L"x" }, 19 },
      { "substr null count", builtinSubstr, { L"hello", 1, nul }, 19 },
      { "substr real count", builtinSubstr, { L"hello", 1, r }, 19 },

      { "d2x no args", builtinD2x, {}, 12 },
      { "d2x 3 args", builtinD2x, { 1, 1, 1 }, 12 },
      { "d2x real", builtinD2x, { r }, 19 },
      { "d2x text", builtinD2x, { L"abc" }, 19 },
      { "d2x real digits", builtinD2x, { 1, r }, 19 },

      { "left 1 arg", builtinLeft, { L"a" }, 12 },
      { "left 4 args", builtinLeft, { L"a", 1, L"x", 1 }, 12 },
      { "left length before text", builtinLeft, { arr, r }, 19 },
      { "left text", builtinLeft, { arr, 2 }, 17 },
      { "left pad", builtinLeft, { L"abc", 5, arr }, 17 },
      { "right null length", builtinRight, { L"abc", nul }, 19 },
      { "right text", builtinRight, { nul, 2 }, 17 },
      { "right pad", builtinRight, { L"abc", 5, nul }, 17 },

      { "index 1 arg", builtinIndex, { L"a" }, 12 },
      { "index 4 args", builtinIndex, { L"a", L"a", 1, 1 }, 12 },
      { "index text", builtinIndex, { arr, L"a", r }, 17 },
      { "index searched", builtinIndex, { L"a", nul, r }, 17 },
      { "index start", builtinIndex, { L"abc", L"b", r }, 19 },
      { "rindex text", builtinRIndex, { nul, L"a" }, 17 },
      { "rindex searched", builtinRIndex, { L"a", arr }, 17 },
      { "rindex start", builtinRIndex, { L"abc", L"b", L"x" }, 19 },

      { "classof number", builtinClassof, { 5 }, 14 },
      { "classof null", builtinClassof, { nul }, 14 },
      { "abs text", builtinAbs, { L"abc" }, 4 },
      { "abs null", builtinAbs, { nul }, 4 },
      { "pow first", builtinPow, { L"x", 1 }, 4 },
      { "pow second", builtinPow, { 1, L"x" }, 4 },
      { "log", builtinLog, { L"x" }, 4 },
      { "log10", builtinLog10, { nul }, 4 },
      { "exp", builtinExp, { arr }, 4 },
      { "min none", builtinMin, {}, 12 },
      { "max none", builtinMax, {}, 12 },
      { "min text first", builtinMin, { L"x" }, 4 },
      { "min text later", builtinMin, { 1, L"x" }, 4 },
      { "max text later", builtinMax, { 1, L"x" }, 4 },
      { "max text first", builtinMax, { L"x", 1 }, 4 },
      { "random low", builtinRandom, { r, 2 }, 19 },
      { "random high", builtinRandom, { 1, Arg::dbl(2.0) }, 19 },
      { "_exit two", builtinExit, { 1, 2 }, 12 },
      { "trace level", builtinTrace, { r, L"x" }, 19 },
      { "trace text", builtinTrace, { 1, arr }, 17 },
      { "sleep real", builtinSleep, { r }, 19 },

      { "strftime none", builtinStrftime, {}, 12 },
      { "strftime four", builtinStrftime, { L"%Y", 0, 0, 0 }, 12 },
      { "strftime format", builtinStrftime, { arr }, 17 },
      { "strftime format first", builtinStrftime, { nul, L"x", r }, 17 },
      { "strftime time", builtinStrftime, { L"%Y", L"abc" }, 4 },
      { "strftime time array", builtinStrftime, { L"%Y", arr, r }, 4 },
      { "strftime real flag", builtinStrftime, { L"%Y", 0, Arg::dbl(1.0) }, 3 },
      { "strftime null flag", builtinStrftime, { L"%Y", 0, nul }, 3 },
      { "localtime two", builtinLocaltime, { 1, 2 }, 12 },
      { "localtime real", builtinLocaltime, { r }, 19 },
      { "gmtime text", builtinGmtime, { L"x" }, 19 },
      { "gmtime two", builtinGmtime, { r, r }, 12 },

      { "AddrInRange first", builtinAddrInRange, { arr, L"1.1.1.1", L"1.1.1.1" }, 17 },
      { "AddrInRange last", builtinAddrInRange, { L"1.1.1.1", L"1.1.1.1", nul }, 17 },
      { "AddrInSubnet middle", builtinAddrInSubnet, { L"1.1.1.1", arr, L"1.1.1.1" }, 17 },
      { "SecondsToUptime text", builtinSecondsToUptime, { L"abc" }, 4 },
      { "SecondsToUptime null", builtinSecondsToUptime, { nul }, 4 },
   };
   for (const ErrorCase &c : cases)
   {
      Outcome outcome = call(c.handler, c.args);
      EXPECT_EQ(c.code, outcome.rc) << c.label;
      EXPECT_FALSE(outcome.hasResult) << c.label << ": an error stores no result";
   }
}

TEST(MathBuiltins, Results)
{
   expectResults({
      { "typeof null", builtinTypeof, { Arg::null() }, S, L"null" },
      { "typeof numeric text", builtinTypeof, { L"123" }, S, L"int32" },
      { "typeof text", builtinTypeof, { L"abc" }, S, L"string" },
      { "typeof array", builtinTypeof, { Arg::array() }, S, L"array" },
      { "typeof real", builtinTypeof, { Arg::dbl(1) }, S, L"real" },
      { "typeof uint64", builtinTypeof, { Arg::u64(1) }, S, L"uint64" },

      { "abs -5", builtinAbs, { -5 }, I32, L"5" },
      { "abs 5 keeps text", builtinAbs, { L"0x5" }, I32, L"0x5" },
      { "abs -2.5", builtinAbs, { Arg::dbl(-2.5) }, R, L"2.500000" },
      { "abs uint32", builtinAbs, { Arg::u32(4000000000u) }, U32, L"4000000000" },
      { "abs int64", builtinAbs, { Arg::i64(-7) }, I64, L"7" },
      { "abs smallest int32", builtinAbs, { INT32_MIN }, I32, L"-2147483648" },
      { "abs smallest int64", builtinAbs, { Arg::i64(INT64_MIN) }, I64, L"-9223372036854775808" },
      { "abs negated drops text", builtinAbs, { L"-0x5" }, I32, L"5" },
      { "abs smallest int32 drops text", builtinAbs, { L"-0x80000000" }, I32, L"-2147483648" },

      { "pow", builtinPow, { 2, 10 }, R, L"1024.000000" },
      { "exp 0", builtinExp, { 0 }, R, L"1.000000" },
      { "log10", builtinLog10, { 1000 }, R, L"3.000000" },

      { "max first of ties", builtinMax, { 3, L"7", L"0x7" }, I32, L"7" },
      { "min first of ties", builtinMin, { 3, L"1", L"0x1" }, I32, L"1" },
      { "max keeps its type", builtinMax, { 1, Arg::dbl(2.5), 2 }, R, L"2.500000" },
      { "min of one", builtinMin, { 2 }, I32, L"2" },
      { "min mixed types", builtinMin, { Arg::u32(5), Arg::i64(-1), 0 }, I64, L"-1" },
      { "max ignores NaN", builtinMax, { 1, Arg::dbl(NAN), 0 }, I32, L"1" },

      { "sleep 0", builtinSleep, { 0 }, NUL, L"" },
      { "trace without program", builtinTrace, { 1, L"x" }, NUL, L"" },
   });
}

TEST(MathBuiltins, LogarithmsFollowTheCLibrary)
{
   Outcome zero = call(builtinLog, { 0 });
   EXPECT_EQ(R, zero.type);
   EXPECT_TRUE(std::isinf(zero.real) && zero.real < 0);
   Outcome negative = call(builtinLog, { -1 });
   EXPECT_TRUE(std::isnan(negative.real));
}

TEST(MathBuiltins, ExitStopsWithItsValue)
{
   Outcome none = call(builtinExit, {});
   EXPECT_EQ(-1, none.rc);
   EXPECT_EQ(L"0", none.text);
   Outcome seven = call(builtinExit, { 7 });
   EXPECT_EQ(-1, seven.rc);
   EXPECT_EQ(I32, seven.type);
   EXPECT_EQ(L"7", seven.text);
   Outcome text = call(builtinExit, { L"bye" });
   EXPECT_EQ(-1, text.rc);
   EXPECT_EQ(S, text.type);
   EXPECT_EQ(L"bye", text.text);
}

TEST(MathBuiltins, ClassofReadsAtMostTheNameBuffer)
{
   // A host class may fill all 64 characters of its name without a terminator.
   struct FullName : ORVA_Class
   {
      FullName() { wmemset(name, L'x', 64); }
   } full;
   ORVA_Value object(new ORVA_Object(&full, nullptr));
   ORVA_Value *argv[] = {&object};
   ORVA_Value *result = nullptr;
   ASSERT_EQ(0, builtinClassof(1, argv, &result, nullptr));
   ASSERT_NE(nullptr, result);
   EXPECT_EQ(std::wstring(64, L'x'), result->getValueAsCString());
   delete result;
}

TEST(MathBuiltins, RandomStaysInRange)
{
   struct RangeCase
   {
      int low, high;
      int64_t min, max;
   };
   const RangeCase cases[] = {
      { 1, 6, 1, 6 },
      { 5, 5, 5, 5 },
      { 10, 5, 10, 13 },        // negative divisor: low + (r rem -4)
      { 0, 100000, 0, 32767 },
      { 7, 6, 7, 7 },           // high = low - 1: zero divisor gives low
      { INT32_MIN, INT32_MAX, INT32_MIN, INT32_MIN },   // the divisor wraps to 0 too
      { INT32_MAX, INT32_MAX - 5, INT32_MIN, INT32_MAX },   // the sum wraps, never overflows
   };
   srand(12345);
   for (const RangeCase &c : cases)
   {
      int64_t seenMin = INT64_MAX, seenMax = INT64_MIN;
      for (int i = 0; i < 2000; i++)
      {
         Outcome outcome = call(builtinRandom, { c.low, c.high });
         ASSERT_EQ(0, outcome.rc);
         ASSERT_EQ(I32, outcome.type);
         int64_t value = std::stoll(outcome.text);
         seenMin = std::min(seenMin, value);
         seenMax = std::max(seenMax, value);
      }
      EXPECT_GE(seenMin, c.min) << c.low << ".." << c.high;
      EXPECT_LE(seenMax, c.max) << c.low << ".." << c.high;
   }
   // Over 2000 draws the whole small range shows up.
   int64_t seen[7] = {};
   for (int i = 0; i < 2000; i++)
      seen[std::stoll(call(builtinRandom, { 1, 6 }).text)]++;
   for (int face = 1; face <= 6; face++)
      EXPECT_GT(seen[face], 0) << face;
}

TEST(TimeBuiltins, TimeIsNow)
{
   time_t before = time(nullptr);
   Outcome now = call(builtinTime, {});
   time_t after = time(nullptr);
   EXPECT_EQ(U32, now.type);
   EXPECT_GE(std::stoll(now.text), static_cast<int64_t>(static_cast<uint32_t>(before)));
   EXPECT_LE(std::stoll(now.text), static_cast<int64_t>(static_cast<uint32_t>(after)));
}

TEST(TimeBuiltins, Strftime)
{
   expectResults({
      { "epoch UTC", builtinStrftime, { L"%Y-%m-%d %H:%M:%S", 0, 0 }, S, L"1970-01-01 00:00:00" },
      { "year reads as int32", builtinStrftime, { L"%Y", 0, 0 }, I32, L"1970" },
      { "before the epoch", builtinStrftime, { L"%Y-%m-%d", -1, 0 }, S, L"1969-12-31" },
      { "real time", builtinStrftime, { L"%H:%M", Arg::dbl(90061.9), 0 }, S, L"01:01" },
      { "empty format", builtinStrftime, { L"" }, I32, L"" },
      { "too long for the buffer", builtinStrftime, { std::wstring(600, L'x'), 0, 0 }, I32, L"" },
      { "fits the buffer", builtinStrftime, { std::wstring(511, L'x'), 0, 0 }, S, std::wstring(511, L'x') },
      { "cannot be broken down", builtinStrftime, { L"%Y", Arg::i64(INT64_MAX), 0 }, I32, L"" },
   });

   // A null time and a missing time both mean now.
   char today[32];
   time_t now = time(nullptr);
   struct tm broken;
   strftime(today, sizeof(today), "%Y-%m-%d", gmtime_r(&now, &broken));
   std::wstring expected(today, today + strlen(today));
   Outcome withNull = call(builtinStrftime, { L"%Y-%m-%d", Arg::null(), 0 });
   EXPECT_EQ(expected, withNull.text);
   localtime_r(&now, &broken);
   strftime(today, sizeof(today), "%Y-%m-%d", &broken);
   expected.assign(today, today + strlen(today));
   EXPECT_EQ(expected, call(builtinStrftime, { L"%Y-%m-%d" }).text);
}

namespace {

ORVA_Value *callForValue(ORVA_Handler handler, ORVA_Value *argument)
{
   ORVA_Value *result = nullptr;
   EXPECT_EQ(0, handler(argument != nullptr ? 1 : 0, &argument, &result, nullptr));
   return result;
}

int32_t attribute(ORVA_Value *time, const wchar_t *name)
{
   ORVA_Object *object = time->getValueAsObject();
   ORVA_Value *value = object->getClass()->getAttr(object, name);
   EXPECT_NE(nullptr, value) << "attribute";
   if (value == nullptr)
      return INT32_MIN;
   EXPECT_EQ(I32, value->getDataType());
   int32_t number = value->getValueAsInt32();
   delete value;
   return number;
}

}  // namespace

TEST(TimeBuiltins, GmtimeOfZeroInBothSpellings)
{
   ORVA_Value zero(static_cast<int32_t>(0));
   ORVA_Value *time = callForValue(builtinGmtime, &zero);
   ASSERT_NE(nullptr, time);
   ASSERT_TRUE(time->isObject(L"TIME"));
   struct Field
   {
      const wchar_t *shortName, *longName;
      int32_t expected;
   };
   const Field fields[] = {
      { L"year", L"tm_year", 1970 }, { L"mon", L"tm_mon", 0 },   { L"mday", L"tm_mday", 1 },
      { L"hour", L"tm_hour", 0 },    { L"min", L"tm_min", 0 },   { L"sec", L"tm_sec", 0 },
      { L"wday", L"tm_wday", 4 },    { L"yday", L"tm_yday", 0 }, { L"isdst", L"tm_isdst", 0 },
   };
   for (const Field &field : fields)
   {
      EXPECT_EQ(field.expected, attribute(time, field.shortName)) << field.shortName;
      EXPECT_EQ(field.expected, attribute(time, field.longName)) << field.longName;
   }

   ORVA_Object *object = time->getValueAsObject();
   ORVA_Class *timeClass = object->getClass();
   for (const wchar_t *unknown : { L"Year", L"years", L"", L"tm_" })
      EXPECT_EQ(nullptr, timeClass->getAttr(object, unknown));
   ORVA_Value newYear(2000);
   EXPECT_EQ(0, timeClass->setAttr(object, L"year", &newYear));
   EXPECT_EQ(1970, attribute(time, L"year"));

   ORVA_Value *result = nullptr;
   ASSERT_EQ(0, builtinClassof(1, &time, &result, nullptr));
   EXPECT_STREQ(L"TIME", result->getValueAsCString());
   EXPECT_EQ(S, result->getDataType());
   delete result;
   delete time;
}

TEST(TimeBuiltins, NegativeTimeIsReadAsUnsigned32Bits)
{
   ORVA_Value minusOne(-1);
   ORVA_Value *time = callForValue(builtinGmtime, &minusOne);
   ASSERT_NE(nullptr, time);
   EXPECT_EQ(2106, attribute(time, L"year"));
   EXPECT_EQ(1, attribute(time, L"mon"));
   EXPECT_EQ(7, attribute(time, L"mday"));
   EXPECT_EQ(6, attribute(time, L"hour"));
   EXPECT_EQ(28, attribute(time, L"min"));
   EXPECT_EQ(15, attribute(time, L"sec"));
   delete time;
}

TEST(TimeBuiltins, LocaltimeFollowsTheTimeZone)
{
   const char *saved = getenv("TZ");
   std::string savedValue = saved != nullptr ? saved : "";
   setenv("TZ", "XYZ-2", 1);   // two hours east of UTC, no daylight saving
   tzset();

   ORVA_Value zero(static_cast<int32_t>(0));
   ORVA_Value *local = callForValue(builtinLocaltime, &zero);
   ASSERT_NE(nullptr, local);
   EXPECT_EQ(2, attribute(local, L"hour"));
   EXPECT_EQ(1970, attribute(local, L"year"));
   delete local;
   EXPECT_EQ(L"02", call(builtinStrftime, { L"%H", 0 }).text);
   EXPECT_EQ(L"02", call(builtinStrftime, { L"%H", 0, 5 }).text);
   EXPECT_EQ(L"00", call(builtinStrftime, { L"%H", 0, 0 }).text);

   ORVA_Value *current = callForValue(builtinLocaltime, nullptr);
   ASSERT_NE(nullptr, current);
   EXPECT_GE(attribute(current, L"year"), 2024);
   delete current;

   if (saved != nullptr)
      setenv("TZ", savedValue.c_str(), 1);
   else
      unsetenv("TZ");
   tzset();
}

TEST(TimeBuiltins, CopiesShareTheRecordUntilTheLastGoes)
{
   ORVA_Value zero(static_cast<int32_t>(0));
   ORVA_Value *original = callForValue(builtinGmtime, &zero);
   ASSERT_NE(nullptr, original);
   auto *copy = new ORVA_Value(original);
   auto *second = new ORVA_Value(copy);
   delete original;
   EXPECT_EQ(1970, attribute(copy, L"year"));
   delete copy;
   EXPECT_EQ(4, attribute(second, L"wday"));
   delete second;   // frees the record; the sanitizer build reports a leak or a double free
}

TEST(NetworkBuiltins, Addresses)
{
   struct AddressCase
   {
      ORVA_Handler handler;
      const wchar_t *address, *second, *third;
      int expected;
   };
   const AddressCase cases[] = {
      { builtinAddrInRange, L"10.0.0.5", L"10.0.0.1", L"10.0.0.10", 1 },
      { builtinAddrInRange, L"10.0.0.1", L"10.0.0.1", L"10.0.0.10", 1 },
      { builtinAddrInRange, L"10.0.0.10", L"10.0.0.1", L"10.0.0.10", 1 },
      { builtinAddrInRange, L"10.0.1.0", L"10.0.0.1", L"10.0.0.10", 0 },
      { builtinAddrInRange, L"10.0.0.5", L"10.0.0.10", L"10.0.0.1", 0 },   // first above last
      { builtinAddrInRange, L"9.255.255.255", L"10.0.0.0", L"10.255.255.255", 0 },
      { builtinAddrInRange, L"200.0.0.1", L"10.0.0.0", L"199.0.0.0", 0 },   // compared unsigned
      { builtinAddrInRange, L"bad", L"1.0.0.0", L"255.255.255.255", 1 },    // bad text is 0xFFFFFFFF
      { builtinAddrInSubnet, L"192.168.1.77", L"192.168.1.0", L"255.255.255.0", 1 },
      { builtinAddrInSubnet, L"192.168.1.77", L"192.168.1.5", L"255.255.255.0", 0 },
      { builtinAddrInSubnet, L"192.168.2.77", L"192.168.1.0", L"255.255.255.0", 0 },
      { builtinAddrInSubnet, L"8.8.8.8", L"0.0.0.0", L"0.0.0.0", 1 },
      { builtinAddrInSubnet, L"10.1.2.3", L"10.0.0.0", L"255.0.0.0", 1 },
   };
   for (const AddressCase &c : cases)
   {
      Outcome outcome = call(c.handler, { c.address, c.second, c.third });
      EXPECT_EQ(0, outcome.rc);
      EXPECT_EQ(I32, outcome.type);
      EXPECT_EQ(std::to_wstring(c.expected), outcome.text) << c.address << " " << c.second << " " << c.third;
   }
}

TEST(NetworkBuiltins, Uptime)
{
   expectResults({
      { "0", builtinSecondsToUptime, { 0 }, S, L"0 days,  0:00" },
      { "59", builtinSecondsToUptime, { 59 }, S, L"0 days,  0:01" },
      { "60", builtinSecondsToUptime, { 60 }, S, L"0 days,  0:01" },
      { "61", builtinSecondsToUptime, { 61 }, S, L"0 days,  0:02" },
      { "3599", builtinSecondsToUptime, { 3599 }, S, L"0 days,  0:60" },
      { "3600", builtinSecondsToUptime, { 3600 }, S, L"0 days,  1:00" },
      { "86399", builtinSecondsToUptime, { 86399 }, S, L"0 days, 23:60" },
      { "86400", builtinSecondsToUptime, { 86400 }, S, L"1 days,  0:00" },
      { "90061", builtinSecondsToUptime, { 90061 }, S, L"1 days,  1:02" },
      { "90061.9", builtinSecondsToUptime, { Arg::dbl(90061.9) }, S, L"1 days,  1:02" },
      { "numeric text", builtinSecondsToUptime, { L"90061" }, S, L"1 days,  1:02" },
      { "49711 days", builtinSecondsToUptime, { Arg::i64(4295030400LL) }, S, L"49711 days,  0:00" },
      { "49711 days and more", builtinSecondsToUptime, { Arg::i64(4295030400LL + 3661) }, S, L"49711 days,  1:02" },
      { "largest", builtinSecondsToUptime, { Arg::u64(UINT64_MAX) }, S, L"213503982334601 days,  7:01" },
      { "negative is unsigned", builtinSecondsToUptime, { -1 }, S, L"213503982334601 days,  7:01" },
   });
}
