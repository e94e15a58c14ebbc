// Operator dispatch: the common numeric type, the string path, null and type errors,
// wildcard and regular-expression matching with captures, CASE and the unary operators.
#include <gtest/gtest.h>

#include <string>

#include <orva.h>

#include "vm_builder.h"

namespace {

ORVA_Value *I32(int32_t n) { return new ORVA_Value(n); }
ORVA_Value *I64(int64_t n) { return new ORVA_Value(n); }
ORVA_Value *U32(uint32_t n) { return new ORVA_Value(n); }
ORVA_Value *U64(uint64_t n) { return new ORVA_Value(n); }
ORVA_Value *R(double n) { return new ORVA_Value(n); }
ORVA_Value *S(const wchar_t *text) { return new ORVA_Value(text); }
ORVA_Value *Null() { return new ORVA_Value(); }

// left op right, result returned.
Outcome binary(int opcode, ORVA_Value *left, ORVA_Value *right)
{
   CodeBuilder code;
   code.push(left).push(right).line(5).op(opcode).op(RET);
   return runOnce(code);
}

Outcome unary(int opcode, ORVA_Value *operand)
{
   CodeBuilder code;
   code.push(operand).line(5).op(opcode).op(RET);
   return runOnce(code);
}

TEST(Promotion, IntegerPairsFollowTheTable)
{
   // Rows: left type; columns: right type; int32, int64, uint32, uint64.
   auto make = [](int type) -> ORVA_Value * {
      switch (type)
      {
         case ORVA_DT_INT32: return I32(1);
         case ORVA_DT_INT64: return I64(1);
         case ORVA_DT_UINT32: return U32(1);
         default: return U64(1);
      }
   };
   const int types[] = {ORVA_DT_INT32, ORVA_DT_INT64, ORVA_DT_UINT32, ORVA_DT_UINT64};
   const int expected[4][4] = {
      {ORVA_DT_INT32, ORVA_DT_INT64, ORVA_DT_INT32, ORVA_DT_INT64},
      {ORVA_DT_INT64, ORVA_DT_INT64, ORVA_DT_INT64, ORVA_DT_INT64},
      {ORVA_DT_INT32, ORVA_DT_INT64, ORVA_DT_UINT32, ORVA_DT_UINT64},
      {ORVA_DT_INT64, ORVA_DT_INT64, ORVA_DT_UINT64, ORVA_DT_UINT64},
   };
   for (int l = 0; l < 4; l++)
      for (int r = 0; r < 4; r++)
      {
         Outcome outcome = binary(ADD, make(types[l]), make(types[r]));
         EXPECT_EQ(outcome.resultType, expected[l][r]) << l << "," << r;
         EXPECT_EQ(outcome.result, L"2");
         // Division is real whatever the operands, and uint64 does not convert to real.
         const bool refused = types[l] == ORVA_DT_UINT64 || types[r] == ORVA_DT_UINT64;
         Outcome quotient = binary(DIV, make(types[l]), make(types[r]));
         if (refused)
            EXPECT_EQ(quotient.error, L"Error 13 in line 5: Cannot do automatic type cast");
         else
            EXPECT_EQ(quotient.resultType, ORVA_DT_REAL);
      }
}

TEST(Dispatch, ComparisonsOfEveryNumericPair)
{
   // Each comparison of every pair of numeric types (int32 pairs take a path of their own,
   // the others are converted first), with the left operand below, equal to and above the
   // right one, and negative signed operands against unsigned ones: the answer is always
   // the mathematical one, except that uint64 and real have no common type.
   const int types[] = {ORVA_DT_INT32, ORVA_DT_INT64, ORVA_DT_UINT32, ORVA_DT_UINT64, ORVA_DT_REAL};
   auto make = [](int type, int n) -> ORVA_Value * {
      switch (type)
      {
         case ORVA_DT_INT32: return I32(n);
         case ORVA_DT_INT64: return I64(n);
         case ORVA_DT_UINT32: return U32(static_cast<uint32_t>(n));
         case ORVA_DT_UINT64: return U64(static_cast<uint64_t>(n));
         default: return R(n);
      }
   };
   struct Comparison { int opcode; const char *name; bool (*holds)(int, int); };
   const Comparison comparisons[] = {
      {EQ, "==", [](int a, int b) { return a == b; }}, {NE, "!=", [](int a, int b) { return a != b; }},
      {LT, "<", [](int a, int b) { return a < b; }},   {LE, "<=", [](int a, int b) { return a <= b; }},
      {GT, ">", [](int a, int b) { return a > b; }},   {GE, ">=", [](int a, int b) { return a >= b; }},
   };
   const int leftValues[] = {-1, 1, 2, 3};
   const int rightValues[] = {-1, 2};
   auto isUnsigned = [](int type) { return type == ORVA_DT_UINT32 || type == ORVA_DT_UINT64; };
   for (int left : types)
      for (int right : types)
         for (const Comparison &c : comparisons)
            for (int a : leftValues)
               for (int b : rightValues)
               {
                  if ((a < 0 && isUnsigned(left)) || (b < 0 && isUnsigned(right)))
                     continue;
                  const std::string label = std::to_string(a) + " " + c.name + " " + std::to_string(b) +
                                            " as types " + std::to_string(left) + "," + std::to_string(right);
                  Outcome outcome = binary(c.opcode, make(left, a), make(right, b));
                  const bool noCommonType = (left == ORVA_DT_UINT64 && right == ORVA_DT_REAL) ||
                                            (left == ORVA_DT_REAL && right == ORVA_DT_UINT64);
                  if (noCommonType)
                  {
                     EXPECT_EQ(outcome.error, L"Error 13 in line 5: Cannot do automatic type cast") << label;
                     continue;
                  }
                  EXPECT_EQ(outcome.resultType, ORVA_DT_INT32) << label;
                  EXPECT_EQ(outcome.result, c.holds(a, b) ? L"1" : L"0") << label;
               }
}

struct BinaryCase
{
   const char *what;
   int opcode;
   ORVA_Value *left;
   ORVA_Value *right;
   int type;                // expected result type, or -1 for an error
   const wchar_t *expected; // result text, or the error message
};

TEST(Dispatch, BinaryOperators)
{
   const int32_t kMin32 = -2147483647 - 1;
   const int64_t kMin64 = INT64_MIN;
   const BinaryCase cases[] = {
      {"7 / 2", DIV, I32(7), I32(2), ORVA_DT_REAL, L"3.500000"},
      {"6 / 3", DIV, I32(6), I32(3), ORVA_DT_REAL, L"2.000000"},
      {"integer / 0 is real infinity", DIV, I32(1), I32(0), ORVA_DT_REAL, L"inf"},
      {"min32 / -1 is real", DIV, I32(kMin32), I32(-1), ORVA_DT_REAL, L"2147483648.000000"},
      {"int32 + uint32", ADD, I32(5), U32(3), ORVA_DT_INT32, L"8"},
      {"uint32 + uint64", ADD, U32(5), U64(3), ORVA_DT_UINT64, L"8"},
      {"int64 + uint32", ADD, I64(1), U32(1), ORVA_DT_INT64, L"2"},
      {"int32 + real", ADD, I32(1), R(0.5), ORVA_DT_REAL, L"1.500000"},
      {"uint64 + real is refused", ADD, U64(1), R(0.5), -1, L"Cannot do automatic type cast"},
      {"sub", SUB, I32(3), I32(5), ORVA_DT_INT32, L"-2"},
      {"mul", MUL, I64(3), I32(5), ORVA_DT_INT64, L"15"},
      {"rem", REM, I32(-7), I32(2), ORVA_DT_INT32, L"-1"},
      {"rem of a mixed pair has the dividend's sign", REM, I32(-7), U32(2), ORVA_DT_INT32, L"-1"},
      {"int64 rem has the dividend's sign", REM, I64(7), I32(-2), ORVA_DT_INT64, L"1"},
      {"rem by zero", REM, I32(7), I32(0), -1, L"Divide by zero"},
      {"rem by uint64 zero", REM, U64(7), U64(0), -1, L"Divide by zero"},
      {"min32 rem -1", REM, I32(kMin32), I32(-1), ORVA_DT_INT32, L"0"},
      {"min64 rem -1", REM, I64(kMin64), I64(-1), ORVA_DT_INT64, L"0"},
      {"rem with a real", REM, I32(5), R(2.0), -1, L"Invalid operation with real numbers"},
      {"bitand with a real", BITAND, R(1.5), I32(1), -1, L"Invalid operation with real numbers"},
      {"lshift with a real", LSHIFT, I32(1), R(1.0), -1, L"Invalid operation with real numbers"},
      {"bitor", BITOR, I32(12), I32(3), ORVA_DT_INT32, L"15"},
      {"bitxor", BITXOR, U32(6), U32(3), ORVA_DT_UINT32, L"5"},
      {"lshift", LSHIFT, I64(1), I32(32), ORVA_DT_INT64, L"4294967296"},
      {"rshift", RSHIFT, I32(-8), I32(1), ORVA_DT_INT32, L"-4"},
      {"lt signed", LT, I32(-1), I32(0), ORVA_DT_INT32, L"1"},
      {"ge", GE, R(2.0), I32(2), ORVA_DT_INT32, L"1"},
      {"gt", GT, I32(1), I32(2), ORVA_DT_INT32, L"0"},
      {"le", LE, I32(2), I32(2), ORVA_DT_INT32, L"1"},
      {"ne numeric", NE, I32(2), R(2.0), ORVA_DT_INT32, L"0"},
      {"and", AND, I32(1), I32(0), ORVA_DT_INT32, L"0"},
      {"or", OR, I32(0), R(0.5), ORVA_DT_INT32, L"1"},
      {"string + int", ADD, S(L"abc"), I32(1), -1, L"Bad arithmetic conversion"},
      {"string < string", LT, S(L"a"), S(L"b"), -1, L"Bad arithmetic conversion"},
      {"null + int", ADD, Null(), I32(1), -1, L"Invalid operation with NULL value"},
      {"null == null", EQ, Null(), Null(), ORVA_DT_INT32, L"1"},
      {"null == 0", EQ, Null(), I32(0), ORVA_DT_INT32, L"0"},
      {"null != abc", NE, Null(), S(L"abc"), ORVA_DT_INT32, L"1"},
      {"abc == ABC", EQ, S(L"abc"), S(L"ABC"), ORVA_DT_INT32, L"0"},
      {"abc == abc", EQ, S(L"abc"), S(L"abc"), ORVA_DT_INT32, L"1"},
      {"5x == 5", EQ, S(L"5x"), I32(5), ORVA_DT_INT32, L"0"},
      {"concat numbers", CONCAT, I32(1), I32(2), ORVA_DT_INT32, L"12"},
      {"concat text", CONCAT, I32(12), S(L"abc"), ORVA_DT_STRING, L"12abc"},
      {"concat null", CONCAT, S(L"a"), Null(), -1, L"Invalid operation with NULL value"},
      {"like", LIKE, S(L"Hello"), S(L"Hello"), ORVA_DT_INT32, L"1"},
      {"like is case-sensitive", LIKE, S(L"Hello"), S(L"hello"), ORVA_DT_INT32, L"0"},
      {"ilike", ILIKE, S(L"Hello"), S(L"hello"), ORVA_DT_INT32, L"1"},
      {"like wildcards", LIKE, S(L"Hello"), S(L"H?l*"), ORVA_DT_INT32, L"1"},
      {"like a number", LIKE, I32(123), S(L"1*"), ORVA_DT_INT32, L"1"},
      {"like with null", LIKE, Null(), S(L"*"), -1, L"Invalid operation with NULL value"},
      {"match numbers as text", MATCH, I32(123), I32(12), ORVA_DT_INT32, L"1"},
      {"match fails", MATCH, S(L"abc"), S(L"^b"), ORVA_DT_INT32, L"0"},
      {"imatch", IMATCH, S(L"ABC"), S(L"^ab"), ORVA_DT_INT32, L"1"},
      {"match is case-sensitive", MATCH, S(L"ABC"), S(L"^ab"), ORVA_DT_INT32, L"0"},
      {"invalid expression", MATCH, S(L"abc"), S(L"("), -1, L"Invalid regular expression"},
      // Bounds are digits, a comma and blanks; anything else there (the matching library's
      // approximate-matching costs, which crash it inside a repeated group) is refused.
      {"bounds", MATCH, S(L"aab{1}"), S(L"^(a{1,2}){1 }b{1,}[{+]?"), ORVA_DT_INT32, L"1"},
      {"escaped brace", MATCH, S(L"a{+1}"), S(L"a\\{\\+1}"), ORVA_DT_INT32, L"1"},
      {"insertion cost", MATCH, S(L"aa"), S(L"(a{+1}){2}"), -1, L"Invalid regular expression"},
      {"deletion cost", MATCH, S(L"aa"), S(L"(a{-1}){2}"), -1, L"Invalid regular expression"},
      {"substitution cost", IMATCH, S(L"aa"), S(L"(a{#1}){2}"), -1, L"Invalid regular expression"},
      {"error count", MATCH, S(L"aa"), S(L"(a{~1}){2}"), -1, L"Invalid regular expression"},
      {"cost limit", MATCH, S(L"aa"), S(L"(a{1<2}){2}"), -1, L"Invalid regular expression"},
      {"signed upper bound", MATCH, S(L"aa"), S(L"a{1,+2}"), -1, L"Invalid regular expression"},
   };
   for (const BinaryCase &c : cases)
   {
      Outcome outcome = binary(c.opcode, c.left, c.right);
      if (c.type < 0)
      {
         const std::wstring suffix = std::wstring(L" in line 5: ") + c.expected;
         EXPECT_EQ(outcome.rc, -1) << c.what;
         ASSERT_GE(outcome.error.size(), suffix.size()) << c.what;
         EXPECT_EQ(outcome.error.substr(outcome.error.size() - suffix.size()), suffix) << c.what;
      }
      else
      {
         EXPECT_EQ(outcome.rc, 0) << c.what << ": " << std::string(outcome.error.begin(), outcome.error.end());
         EXPECT_EQ(outcome.resultType, c.type) << c.what;
         EXPECT_EQ(outcome.result, c.expected) << c.what;
      }
   }
}

TEST(Dispatch, ErrorCodes)
{
   struct Case
   {
      int opcode;
      ORVA_Value *left;
      ORVA_Value *right;
      int code;
   };
   CountingClass objects;
   const Case cases[] = {
      {ADD, S(L"a"), I32(1), 4},
      {ADD, Null(), I32(1), 5},
      {MUL, I32(1), Null(), 5},
      {REM, I32(1), I32(0), 9},
      {REM, I32(1), R(1.0), 10},
      {ADD, U64(1), R(1.0), 13},
      {CONCAT, new ORVA_Value(new ORVA_Object(&objects, nullptr)), S(L"a"), 20},
      {CONCAT, S(L"a"), new ORVA_Value(new ORVA_Object(&objects, nullptr)), 20},
      {LIKE, new ORVA_Value(new ORVA_Array()), S(L"*"), 17},
      {MATCH, S(L"a"), new ORVA_Value(new ORVA_Object(&objects, nullptr)), 17},
      {MATCH, S(L"a"), S(L"a["), 18},
   };
   for (const Case &c : cases)
   {
      Outcome outcome = binary(c.opcode, c.left, c.right);
      EXPECT_EQ(outcome.rc, -1);
      EXPECT_EQ(outcome.error.rfind(L"Error " + std::to_wstring(c.code) + L" in line 5: ", 0), 0u)
         << std::string(outcome.error.begin(), outcome.error.end());
   }
   EXPECT_EQ(objects.released, 3);  // the operands of failed operators are released too
}

TEST(Dispatch, UnderflowAndObjectsCompareAsEmptyText)
{
   CodeBuilder one;
   one.push(I32(1)).line(2).op(ADD);
   EXPECT_EQ(runOnce(one).error, L"Error 1 in line 2: Data stack underflow");
   CodeBuilder none;
   none.line(2).op(EQ);
   EXPECT_EQ(runOnce(none).error, L"Error 1 in line 2: Data stack underflow");

   CountingClass objects;
   EXPECT_EQ(binary(EQ, new ORVA_Value(new ORVA_Object(&objects, nullptr)),
                    new ORVA_Value(new ORVA_Object(&objects, nullptr))).result, L"1");
   EXPECT_EQ(binary(EQ, new ORVA_Value(new ORVA_Object(&objects, nullptr)), new ORVA_Value(new ORVA_Array())).result,
             L"1");
   // The empty text reads as int32 0 but keeps "" as its text, the same as an array's.
   EXPECT_EQ(binary(EQ, new ORVA_Value(new ORVA_Array()), S(L"")).result, L"1");
   EXPECT_EQ(objects.released, 3);
}

TEST(Dispatch, UnaryOperators)
{
   struct Case
   {
      int opcode;
      ORVA_Value *operand;
      int type;
      const wchar_t *expected;  // result text or error message
   };
   const Case cases[] = {
      {NEG, R(1.5), ORVA_DT_REAL, L"-1.500000"},
      {NEG, U32(5), ORVA_DT_INT32, L"-5"},
      {NOT, I32(0), ORVA_DT_INT32, L"1"},
      {NOT, I64(7), ORVA_DT_INT32, L"0"},
      {NOT, R(1.5), -1, L"Error 10 in line 5: Invalid operation with real numbers"},
      {BITNOT, U32(0), ORVA_DT_UINT32, L"4294967295"},
      {BITNOT, R(1.0), -1, L"Error 10 in line 5: Invalid operation with real numbers"},
      {NEG, S(L"abc"), -1, L"Error 4 in line 5: Bad arithmetic conversion"},
      {NOT, Null(), -1, L"Error 4 in line 5: Bad arithmetic conversion"},
   };
   for (const Case &c : cases)
   {
      Outcome outcome = unary(c.opcode, c.operand);
      if (c.type < 0)
      {
         EXPECT_EQ(outcome.error, c.expected);
      }
      else
      {
         EXPECT_EQ(outcome.resultType, c.type);
         EXPECT_EQ(outcome.result, c.expected);
      }
   }
   CodeBuilder empty;
   empty.line(5).op(NEG);
   EXPECT_EQ(runOnce(empty).error, L"Error 1 in line 5: Data stack underflow");
}

TEST(Matching, CapturesLandInDollarVariables)
{
   CodeBuilder code;
   code.push(S(L"abc-123")).push(S(L"([a-z]+)-([0-9]+)")).op(MATCH);
   code.var("$1").var("$2").line(7).op(ADD);  // "abc" + 123: proves $2 is a number and $1 text
   ORVA_Program *program = code.build();
   EXPECT_EQ(runProgram(program).error, L"Error 4 in line 7: Bad arithmetic conversion");
   delete program;

   CodeBuilder typed;
   typed.push(S(L"abc-123")).push(S(L"([a-z]+)-([0-9]+)")).op(MATCH);
   typed.var("$2").push(I32(1)).op(ADD).var("$1").op(CONCAT).op(CONCAT).op(RET);
   EXPECT_EQ(runOnce(typed).result, L"1124abc");

   // Group 1 took no part: nothing is stored, even though group 2 matched.
   CodeBuilder gap;
   gap.push(S(L"b")).push(S(L"(x)?(b)")).op(MATCH).var("$2").push(Null()).op(EQ).op(CONCAT).op(RET);
   EXPECT_EQ(runOnce(gap).result, L"11");

   // A second match with fewer groups leaves the higher captures of the first.
   CodeBuilder twice;
   twice.push(S(L"a-b")).push(S(L"(a)-(b)")).op(MATCH).count(POP, 1);
   twice.push(S(L"xy")).push(S(L"(x)y")).op(IMATCH).count(POP, 1);
   twice.var("$1").var("$2").op(CONCAT).op(RET);
   EXPECT_EQ(runOnce(twice).result, L"xb");

   // IMATCH captures keep the text's own case; a failed match stores nothing.
   CodeBuilder icase;
   icase.push(S(L"HeLLo")).push(S(L"h(el+)o")).op(IMATCH).var("$1").op(CONCAT);
   icase.push(S(L"zzz")).push(S(L"(q)")).op(MATCH).op(CONCAT).var("$1").op(CONCAT).op(RET);
   EXPECT_EQ(runOnce(icase).result, L"1eLL0eLL");
}

TEST(Matching, CapturesOverwriteArgumentVariables)
{
   CodeBuilder code;
   code.push(S(L"k=v")).push(S(L"(.)=(.)")).op(MATCH).count(POP, 1).var("$1").var("$2").op(CONCAT).op(RET);
   EXPECT_EQ(runOnce(code, {S(L"arg1"), S(L"arg2")}).result, L"kv");
}

TEST(Case, ComparesAndConvertsItsConstantForGood)
{
   // switch value real 1.0 against case int32 1: equal, and the constant is now real.
   CodeBuilder code;
   code.push(R(1.0)).constant(CASE, I32(1)).op(RET);
   ORVA_Program *program = code.build();
   EXPECT_EQ(runProgram(program).result, L"1");
   EXPECT_EQ(program->getInstruction(1)->getConstant()->getDataType(), ORVA_DT_REAL);
   delete program;

   // CASE leaves the switch value on the stack and compares text on the string path.
   CodeBuilder text;
   text.push(S(L"abc")).constant(CASE, S(L"abc")).op(CONCAT).constant(CASE, S(L"x")).op(CONCAT).op(RET);
   EXPECT_EQ(runOnce(text).result, L"abc10");
   CodeBuilder null;
   null.push(Null()).constant(CASE, Null()).op(RET);
   EXPECT_EQ(runOnce(null).result, L"1");
   CodeBuilder empty;
   empty.line(5).constant(CASE, I32(1));
   EXPECT_EQ(runOnce(empty).error, L"Error 1 in line 5: Data stack underflow");
}

}  // namespace
