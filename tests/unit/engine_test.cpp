// The execution engine: run and its clean-up, opcode stack effects and errors, calls,
// variable sets across runs, runtime error texts. Programs are written instruction by
// instruction with CodeBuilder.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include <orva.h>

#include "vm/errors.h"
#include "vm_builder.h"

namespace {

ORVA_Value *I(int32_t n) { return new ORVA_Value(n); }
ORVA_Value *S(const wchar_t *text) { return new ORVA_Value(text); }
ORVA_Value *Null() { return new ORVA_Value(); }

TEST(RuntimeErrors, MessageTableAndTextFormat)
{
   struct Case { int code; const wchar_t *message; };
   const Case cases[] = {
      {1, L"Data stack underflow"},
      {2, L"Control stack underflow"},
      {3, L"Condition value is not a number"},
      {4, L"Bad arithmetic conversion"},
      {5, L"Invalid operation with NULL value"},
      {6, L"Internal error"},
      {7, L"main() function not presented"},
      {8, L"Control stack overflow"},
      {9, L"Divide by zero"},
      {10, L"Invalid operation with real numbers"},
      {11, L"Function not found"},
      {12, L"Invalid number of function's arguments"},
      {13, L"Cannot do automatic type cast"},
      {14, L"Function or operation argument is not an object"},
      {15, L"Unknown object's attribute"},
      {16, L"Requested module not found or cannot be loaded"},
      {17, L"Argument is not of string type and cannot be converted to string"},
      {18, L"Invalid regular expression"},
      {19, L"Function or operation argument is not a whole number"},
      {20, L"Invalid operation on object"},
      {21, L"Bad (or incompatible) object class"},
      {22, L"Variable already exist"},
      {23, L"Array index is not an integer"},
      {24, L"Attempt to use array element access operation on non-array"},
      {25, L"Cannot assign to a variable that is constant"},
      {26, L"Named parameter required"},
      {0, L"Unknown error code"},
      {27, L"Unknown error code"},
      {-1, L"Unknown error code"},
   };
   for (const Case &c : cases)
      EXPECT_STREQ(GetRuntimeErrorMessage(c.code), c.message) << c.code;

   wchar_t text[kErrorTextSize];
   FormatRuntimeError(text, kErrorTextSize, 11, 3);
   EXPECT_STREQ(text, L"Error 11 in line 3: Function not found");
   FormatRuntimeError(text, kErrorTextSize, -2147483647 - 1, -5);
   EXPECT_STREQ(text, L"Error -2147483648 in line -5: Unknown error code");

   // A text that does not fit is cut and stays terminated.
   wchar_t small[12];
   wmemset(small, L'#', 12);
   EXPECT_EQ(FormatRuntimeError(small, 10, 11, 3), 9u);
   EXPECT_STREQ(small, L"Error 11 ");
   EXPECT_EQ(small[10], L'#');
}

TEST(Run, WithoutEntryFunctionReportsLineZero)
{
   CodeBuilder code;
   code.withoutMain().push(I(1)).op(RET);
   Outcome outcome = runOnce(code);
   EXPECT_EQ(outcome.rc, -1);
   EXPECT_EQ(outcome.error, L"Error 7 in line 0: main() function not presented");
   EXPECT_EQ(outcome.resultType, -1);
}

TEST(Run, EntrySelection)
{
   // $main returns 1, main returns 2, f returns 3.
   CodeBuilder code;
   code.push(I(1)).op(RET);
   code.function("main").push(I(2)).op(RET);
   code.function("f").push(I(3)).op(RET);
   ORVA_Program *program = code.build();
   EXPECT_EQ(runProgram(program).result, L"2");
   EXPECT_EQ(runProgram(program, {}, nullptr, L"f").result, L"3");
   EXPECT_EQ(runProgram(program, {}, nullptr, L"$main").result, L"1");
   Outcome missing = runProgram(program, {}, nullptr, L"nosuch");
   EXPECT_EQ(missing.rc, -1);
   EXPECT_EQ(missing.error, L"Error 7 in line 0: main() function not presented");
   delete program;
}

TEST(Run, ResultOfTopLevelEnd)
{
   CodeBuilder returns;
   returns.push(I(5)).op(RET).push(I(6));
   Outcome five = runOnce(returns);
   EXPECT_EQ(five.rc, 0);
   EXPECT_EQ(five.result, L"5");

   CodeBuilder nret;
   nret.push(I(5)).count(POP, 1).op(NRET);
   EXPECT_EQ(runOnce(nret).resultType, ORVA_DT_NULL);

   CodeBuilder runsOut;
   runsOut.op(NOP);
   Outcome none = runOnce(runsOut);
   EXPECT_EQ(none.rc, 0);
   EXPECT_EQ(none.resultType, -1);
}

TEST(Run, ArgumentsBecomeDollarVariablesAndParameters)
{
   CodeBuilder code;
   code.var("$2").var("$1").op(CONCAT).op(RET);
   EXPECT_EQ(runOnce(code, {S(L"a"), S(L"b")}).result, L"ba");

   // An entry function with two parameters receives the arguments through BIND.
   CodeBuilder params;
   params.function("main").name(BIND, "x").name(BIND, "y").var("y").var("x").op(CONCAT).op(RET);
   EXPECT_EQ(runOnce(params, {S(L"p"), S(L"q")}).result, L"qp");
}

// One row per behaviour: a program and either its result text or its error text.
struct OpcodeCase
{
   const char *what;
   std::function<void(CodeBuilder &)> program;
   const wchar_t *expected;  // result text, or the full error text when it starts "Error"
};

TEST(Opcodes, StackEffectsAndErrors)
{
   const OpcodeCase cases[] = {
      {"POP discards, and ignores an empty stack",
       [](CodeBuilder &c) { c.push(I(1)).push(I(2)).push(I(3)).count(POP, 2).count(POP, 5).push(I(7)).op(RET); }, L"7"},
      {"POP leaves what is below", [](CodeBuilder &c) { c.push(I(1)).push(I(2)).count(POP, 1).op(RET); }, L"1"},
      {"SET keeps the value on the stack",
       [](CodeBuilder &c) { c.push(I(4)).name(SET, "x").count(POP, 1).var("x").op(RET); }, L"4"},
      {"SET on an empty stack", [](CodeBuilder &c) { c.line(3).name(SET, "x"); }, L"Error 1 in line 3: Data stack underflow"},
      {"PUSH_VAR of an unknown name is null",
       [](CodeBuilder &c) { c.var("nothing").push(Null()).op(EQ).op(RET); }, L"1"},
      {"EXIT on an empty stack", [](CodeBuilder &c) { c.line(9).op(EXIT); }, L"Error 1 in line 9: Data stack underflow"},
      {"EXIT ends the run with the top",
       [](CodeBuilder &c) { c.push(I(1)).push(I(8)).op(EXIT).push(I(2)).op(RET); }, L"8"},
      {"JZ jumps on zero",
       [](CodeBuilder &c) { c.push(I(0)).jump(JZ, "L").push(I(1)).op(RET).label("L").push(I(2)).op(RET); }, L"2"},
      {"JNZ jumps on non-zero",
       [](CodeBuilder &c) { c.push(S(L"10")).jump(JNZ, "L").push(I(1)).op(RET).label("L").push(I(2)).op(RET); }, L"2"},
      {"JZ on a string", [](CodeBuilder &c) { c.line(4).push(S(L"abc")).jump(JZ, "L").label("L"); },
       L"Error 3 in line 4: Condition value is not a number"},
      {"JZ on an empty stack", [](CodeBuilder &c) { c.jump(JZ, "L").label("L"); }, L"Error 1 in line 1: Data stack underflow"},
      {"JMP past the end ends the run",
       [](CodeBuilder &c) { c.push(I(3)).jump(JMP, "end").push(I(4)).label("end"); }, L"3"},
      {"PRINT on an empty stack", [](CodeBuilder &c) { c.op(PRINT); }, L"Error 1 in line 1: Data stack underflow"},
      {"INC pushes the old value", [](CodeBuilder &c) { c.push(I(5)).name(SET, "i").name(INC, "i").op(RET); }, L"5"},
      {"INC changes the variable",
       [](CodeBuilder &c) { c.push(I(5)).name(SET, "i").name(INC, "i").var("i").op(RET); }, L"6"},
      {"DECP pushes the new value", [](CodeBuilder &c) { c.push(I(5)).name(SET, "i").name(DECP, "i").op(RET); }, L"4"},
      {"INCP on a string", [](CodeBuilder &c) { c.push(S(L"x")).name(SET, "s").name(INCP, "s"); },
       L"Error 4 in line 1: Bad arithmetic conversion"},
      {"INC on a new variable (null)", [](CodeBuilder &c) { c.name(INC, "fresh"); }, L"Error 4 in line 1: Bad arithmetic conversion"},
      {"CAST converts in place", [](CodeBuilder &c) { c.push(new ORVA_Value(2.5)).count(CAST, ORVA_DT_INT32).op(RET); }, L"2"},
      {"CAST refused", [](CodeBuilder &c) { c.push(I(1)).count(CAST, ORVA_DT_ARRAY); }, L"Error 13 in line 1: Cannot do automatic type cast"},
      {"CAST to a code that is no data type", [](CodeBuilder &c) { c.push(I(1)).count(CAST, 99); },
       L"Error 13 in line 1: Cannot do automatic type cast"},
      {"CAST on an empty stack", [](CodeBuilder &c) { c.count(CAST, ORVA_DT_INT32); }, L"Error 1 in line 1: Data stack underflow"},
      {"NAME on an empty stack", [](CodeBuilder &c) { c.name(NAME, "n"); }, L"Error 1 in line 1: Data stack underflow"},
      {"AGET on a non-object", [](CodeBuilder &c) { c.push(I(1)).name(AGET, "x"); },
       L"Error 14 in line 1: Function or operation argument is not an object"},
      {"AGET on an empty stack", [](CodeBuilder &c) { c.name(AGET, "x"); }, L"Error 1 in line 1: Data stack underflow"},
      {"ASET on a non-object", [](CodeBuilder &c) { c.push(I(1)).push(I(2)).name(ASET, "x"); },
       L"Error 14 in line 1: Function or operation argument is not an object"},
      {"ASET with one value", [](CodeBuilder &c) { c.push(I(2)).name(ASET, "x"); }, L"Error 1 in line 1: Data stack underflow"},
      {"ARRAY twice is fine",
       [](CodeBuilder &c) { c.name(ARRAY, "a").name(ARRAY, "a").var("a").push(I(1)).push(I(9)).op(ESET).op(RET); }, L"9"},
      {"ARRAY over a scalar", [](CodeBuilder &c) { c.push(I(1)).name(SET, "a").name(ARRAY, "a"); },
       L"Error 22 in line 1: Variable already exist"},
      {"EGET of a missing element is null",
       [](CodeBuilder &c) { c.name(ARRAY, "a").var("a").push(I(3)).op(EGET).push(Null()).op(EQ).op(RET); }, L"1"},
      {"EGET reads what ESET stored",
       [](CodeBuilder &c) {
          c.name(ARRAY, "a").var("a").push(I(-3)).push(S(L"v")).op(ESET).count(POP, 1);
          c.var("a").push(I(-3)).op(EGET).op(RET);
       },
       L"v"},
      {"EGET on a non-array", [](CodeBuilder &c) { c.push(I(1)).push(I(0)).op(EGET); },
       L"Error 24 in line 1: Attempt to use array element access operation on non-array"},
      {"EGET with a real index", [](CodeBuilder &c) { c.name(ARRAY, "a").var("a").push(new ORVA_Value(1.0)).op(EGET); },
       L"Error 23 in line 1: Array index is not an integer"},
      {"EGET with one value", [](CodeBuilder &c) { c.push(I(0)).op(EGET); }, L"Error 1 in line 1: Data stack underflow"},
      {"ESET checks the index first", [](CodeBuilder &c) { c.push(I(1)).push(S(L"i")).push(I(0)).op(ESET); },
       L"Error 23 in line 1: Array index is not an integer"},
      {"ESET on a non-array", [](CodeBuilder &c) { c.push(I(1)).push(I(0)).push(I(0)).op(ESET); },
       L"Error 24 in line 1: Attempt to use array element access operation on non-array"},
      {"ESET with two values", [](CodeBuilder &c) { c.push(I(0)).push(I(0)).op(ESET); }, L"Error 1 in line 1: Data stack underflow"},
      {"FOREACH over a non-array", [](CodeBuilder &c) { c.push(S(L"v")).push(I(1)).op(FOREACH); },
       L"Error 24 in line 1: Attempt to use array element access operation on non-array"},
      {"FOREACH with a null name", [](CodeBuilder &c) { c.push(Null()).name(ARRAY, "a").var("a").op(FOREACH); },
       L"Error 17 in line 1: Argument is not of string type and cannot be converted to string"},
      {"FOREACH with one value", [](CodeBuilder &c) { c.push(I(1)).op(FOREACH); }, L"Error 1 in line 1: Data stack underflow"},
      {"NEXT on a non-iterator", [](CodeBuilder &c) { c.push(I(1)).line(6).op(NEXT); }, L"Error 27 in line 6: Unknown error code"},
      {"NEXT on an empty stack", [](CodeBuilder &c) { c.op(NEXT); }, L"Error 1 in line 1: Data stack underflow"},
      {"foreach visits in index order",
       [](CodeBuilder &c) {
          c.name(ARRAY, "a");
          c.var("a").push(I(5)).push(S(L"b")).op(ESET).count(POP, 1);
          c.var("a").push(I(-3)).push(S(L"a")).op(ESET).count(POP, 1);
          c.var("a").push(I(100)).push(S(L"c")).op(ESET).count(POP, 1);
          c.push(S(L"")).name(SET, "out").count(POP, 1);
          c.push(S(L"v")).var("a").op(FOREACH);
          c.label("next").op(NEXT).jump(JZ, "end");
          c.var("out").var("v").op(CONCAT).name(SET, "out").count(POP, 1).jump(JMP, "next");
          c.label("end").count(POP, 1).var("out").var("v").push(Null()).op(EQ).op(CONCAT).op(RET);
       },
       L"abc1"},
      {"GLOBAL with an initial value",
       [](CodeBuilder &c) { c.push(I(3)).name(GLOBAL, "g", 1).var("g").op(RET); }, L"3"},
      {"GLOBAL again drops the new initial value",
       [](CodeBuilder &c) { c.push(I(3)).name(GLOBAL, "g", 1).push(I(1)).push(I(4)).name(GLOBAL, "g", 1).var("g").op(ADD).op(RET); },
       L"4"},
      {"GLOBAL over a local", [](CodeBuilder &c) { c.push(I(1)).name(SET, "x").count(POP, 1).name(GLOBAL, "x", 0); },
       L"Error 22 in line 1: Variable already exist"},
      {"GLOBAL with its initial value missing", [](CodeBuilder &c) { c.name(GLOBAL, "g", 1); },
       L"Error 1 in line 1: Data stack underflow"},
      {"GARRAY over a global scalar", [](CodeBuilder &c) { c.name(GLOBAL, "g", 0).name(GARRAY, "g"); },
       L"Error 22 in line 1: Variable already exist"},
      {"GARRAY twice is fine", [](CodeBuilder &c) { c.name(GARRAY, "g").name(GARRAY, "g").push(I(1)).op(RET); }, L"1"},
      {"GARRAY over a local", [](CodeBuilder &c) { c.name(ARRAY, "g").name(GARRAY, "g"); },
       L"Error 22 in line 1: Variable already exist"},
      {"unknown opcode", [](CodeBuilder &c) { c.op(99); }, L"Error 6 in line 1: Internal error"},
      {"CALL of an unknown function", [](CodeBuilder &c) { c.line(3).call("nosuch", 0); }, L"Error 11 in line 3: Function not found"},
   };
   for (const OpcodeCase &c : cases)
   {
      CodeBuilder code;
      c.program(code);
      Outcome outcome = runOnce(code);
      std::wstring expected = c.expected;
      if (expected.rfind(L"Error", 0) == 0)
      {
         EXPECT_EQ(outcome.rc, -1) << c.what;
         EXPECT_EQ(outcome.error, expected) << c.what;
      }
      else
      {
         EXPECT_EQ(outcome.rc, 0) << c.what << ": " << std::string(outcome.error.begin(), outcome.error.end());
         EXPECT_EQ(outcome.result, expected) << c.what;
      }
   }
}

TEST(Opcodes, PrintGoesToTheEnvironment)
{
   CodeBuilder code;
   code.push(S(L"a")).op(PRINT).push(I(7)).op(PRINT).push(Null()).op(PRINT).op(NRET);
   std::wstring output;
   runOnce(code, {}, &output);
   EXPECT_EQ(output, L"a7(null)");
}

TEST(Opcodes, ArrayAssignmentCopiesAndPushSharesTheArray)
{
   // b = a copies: a change through b leaves a alone. Pushing a and storing through the
   // pushed value changes a.
   CodeBuilder code;
   code.name(ARRAY, "a").var("a").push(I(0)).push(S(L"old")).op(ESET).count(POP, 1);
   code.var("a").name(SET, "b").count(POP, 1);
   code.var("b").push(I(0)).push(S(L"new")).op(ESET).count(POP, 1);
   code.var("a").push(I(0)).op(EGET);
   code.var("a").push(I(1)).push(S(L"x")).op(ESET).count(POP, 1);
   code.var("a").push(I(1)).op(EGET).op(CONCAT);
   code.var("b").push(I(0)).op(EGET).op(CONCAT).op(RET);
   EXPECT_EQ(runOnce(code).result, L"oldxnew");
}

TEST(Opcodes, ObjectAttributes)
{
   CountingClass objects;
   CodeBuilder code;
   code.var("$1").name(AGET, "x");
   code.var("$1").push(I(7)).name(ASET, "x").op(ADD).op(RET);
   Outcome outcome = runOnce(code, {new ORVA_Value(new ORVA_Object(&objects, nullptr))});
   EXPECT_EQ(outcome.result, L"49");
   EXPECT_EQ(objects.stored, 7);
   EXPECT_EQ(objects.released, 1);

   CodeBuilder unknown;
   unknown.var("$1").line(2).name(AGET, "y");
   EXPECT_EQ(runOnce(unknown, {new ORVA_Value(new ORVA_Object(&objects, nullptr))}).error,
             L"Error 15 in line 2: Unknown object's attribute");
   CodeBuilder unknownSet;
   unknownSet.var("$1").push(I(1)).line(4).name(ASET, "y");
   EXPECT_EQ(runOnce(unknownSet, {new ORVA_Value(new ORVA_Object(&objects, nullptr))}).error,
             L"Error 15 in line 4: Unknown object's attribute");
   EXPECT_EQ(objects.released, 3);
}

// f(n): returns f(n - 1) while n is not zero, else 0.
void addCountdown(CodeBuilder &code)
{
   code.function("f").name(BIND, "n").var("n").jump(JZ, "bottom");
   code.var("n").push(I(1)).op(SUB).call("f", 1).op(RET);
   code.label("bottom").push(I(0)).op(RET);
}

TEST(Calls, NestingLimit)
{
   // main -> f(32767) -> ... -> f(0) is 32768 nested calls; one more overflows.
   for (int32_t start : {32767, 32768})
   {
      CodeBuilder code;
      code.var("$1").line(2).call("f", 1).op(RET);
      code.line(5);
      addCountdown(code);
      Outcome outcome = runOnce(code, {I(start)});
      if (start == 32767)
      {
         EXPECT_EQ(outcome.rc, 0);
         EXPECT_EQ(outcome.result, L"0");
      }
      else
      {
         EXPECT_EQ(outcome.error, L"Error 8 in line 5: Control stack overflow");
      }
   }
}

TEST(Calls, MissingExtraAndNamedArguments)
{
   // g(a, b) returns a . "," . b . "," . $3 . "," . $x with null shown as "-".
   auto body = [](CodeBuilder &c) {
      c.function("g").name(BIND, "a").name(BIND, "b");
      for (const char *name : {"a", "b", "$3", "$x"})
      {
         c.var(name).push(Null()).op(EQ).jump(JZ, name);
         c.push(S(L"-")).name(SET, name).count(POP, 1);
         c.label(name);
      }
      c.var("a").push(S(L",")).op(CONCAT).var("b").op(CONCAT).push(S(L",")).op(CONCAT);
      c.var("$3").op(CONCAT).push(S(L",")).op(CONCAT).var("$x").op(CONCAT).op(RET);
   };
   CodeBuilder one;
   one.push(S(L"p")).call("g", 1).op(RET);
   body(one);
   EXPECT_EQ(runOnce(one).result, L"p,-,-,-");

   CodeBuilder three;
   three.push(S(L"p")).push(S(L"q")).name(NAME, "x").push(S(L"r")).call("g", 3).op(RET);
   body(three);
   EXPECT_EQ(runOnce(three).result, L"p,q,r,q");
}

TEST(Calls, ArgumentsRunningOutRaiseUnderflow)
{
   CodeBuilder code;
   code.line(2).call("f", 2).op(RET).function("f").push(I(1)).op(RET);
   EXPECT_EQ(runOnce(code).error, L"Error 1 in line 2: Data stack underflow");
}

TEST(Calls, ReturnInsideSwitchOrForeachLeavesOnlyTheResult)
{
   // pick(v): switch (v) { case 1: return "one"; } return "other";
   // loop(): foreach (e : [x]) { return e; }
   // main: v = 1; return v . " " . pick(v) . loop();
   CodeBuilder code;
   code.push(I(1)).name(SET, "v").count(POP, 1);
   code.var("v").push(S(L" ")).op(CONCAT).var("v").call("pick", 1).op(CONCAT).call("loop", 0).op(CONCAT).op(RET);
   code.function("pick").name(BIND, "v").var("v").constant(CASE, I(1)).jump(JZ, "other");
   code.push(S(L"one")).op(RET);
   code.label("other").count(POP, 1).push(S(L"other")).op(RET);
   code.function("loop").name(ARRAY, "a").var("a").push(I(0)).push(S(L"!")).op(ESET).count(POP, 1);
   code.push(S(L"e")).var("a").op(FOREACH).label("next").op(NEXT).jump(JZ, "end");
   code.var("e").op(RET).jump(JMP, "next");
   code.label("end").count(POP, 1).op(NRET);
   EXPECT_EQ(runOnce(code).result, L"1 one!");
}

TEST(Calls, ReturnWithoutSwitchKeepsTheCallersStack)
{
   // The caller's own values below the call survive: 10 - f() with f returning 3.
   CodeBuilder code;
   code.push(I(10)).call("f", 0).op(SUB).op(RET);
   code.function("f").push(I(3)).op(RET);
   EXPECT_EQ(runOnce(code).result, L"7");
}

int32_t s_handlerCalls = 0;

int handlerSum(int argc, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *)
{
   s_handlerCalls++;
   int32_t sum = 0;
   for (int i = 0; i < argc; i++)
      sum += argv[i]->getValueAsInt32() * (i + 1);
   *result = new ORVA_Value(sum);
   return 0;
}

int handlerStop(int, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *)
{
   *result = new ORVA_Value(argv[0]);
   return -1;
}

int handlerNothing(int, ORVA_Value **, ORVA_Value **, ORVA_Program *)
{
   return 0;
}

int handlerFails(int, ORVA_Value **, ORVA_Value **result, ORVA_Program *)
{
   *result = new ORVA_Value(static_cast<int32_t>(1));  // stored despite the error: must not leak
   return 19;
}

Outcome runWithHostFunctions(CodeBuilder &code)
{
   static const ORVA_ExtFunction functions[] = {
      {L"sum", handlerSum, -1},
      {L"sum2", handlerSum, 2},
      {L"stop", handlerStop, 1},
      {L"nothing", handlerNothing, 0},
      {L"fails", handlerFails, 0},
   };
   ORVA_Program *program = code.build();
   auto *environment = new HostEnvironment();
   environment->registerFunctionSet(5, functions);
   int rc = program->run(environment, 0, nullptr);
   Outcome outcome{rc, program->getErrorText(), textOf(program->getResult()),
                   program->getResult() ? program->getResult()->getDataType() : -1};
   delete program;
   return outcome;
}

TEST(Calls, HostFunctions)
{
   CodeBuilder sum;
   sum.push(I(100)).push(I(1)).push(I(2)).push(I(3)).call("sum", 3).op(ADD).op(RET);
   EXPECT_EQ(runWithHostFunctions(sum).result, L"114");  // arguments in order, removed

   CodeBuilder wrongCount;
   s_handlerCalls = 0;
   wrongCount.push(I(1)).push(I(2)).push(I(3)).line(4).call("sum2", 3);
   EXPECT_EQ(runWithHostFunctions(wrongCount).error, L"Error 12 in line 4: Invalid number of function's arguments");
   EXPECT_EQ(s_handlerCalls, 0);

   CodeBuilder underflow;
   underflow.push(I(1)).call("sum2", 2);
   EXPECT_EQ(runWithHostFunctions(underflow).error, L"Error 1 in line 1: Data stack underflow");

   CodeBuilder stop;
   stop.push(I(1)).push(I(2)).call("g", 1).push(I(3)).op(RET);
   stop.function("g").push(S(L"deep")).call("stop", 1).push(I(4)).op(RET);
   Outcome stopped = runWithHostFunctions(stop);
   EXPECT_EQ(stopped.rc, 0);
   EXPECT_EQ(stopped.result, L"deep");

   CodeBuilder nothing;
   nothing.call("nothing", 0).op(RET);
   Outcome null = runWithHostFunctions(nothing);
   EXPECT_EQ(null.rc, 0);
   EXPECT_EQ(null.resultType, ORVA_DT_NULL);

   CodeBuilder fails;
   fails.line(7).call("fails", 0);
   EXPECT_EQ(runWithHostFunctions(fails).error,
             L"Error 19 in line 7: Function or operation argument is not a whole number");
}

// Runs the program it was called from again, handing over an environment, an argument and
// a local set; returns what run answered.
int s_nestedDeletions = 0;
int handlerRunAgain(int, ORVA_Value **, ORVA_Value **result, ORVA_Program *program)
{
   ORVA_Value *arguments[] = {new ORVA_Value(static_cast<int32_t>(1))};
   auto *locals = new ORVA_VariableSystem(false);
   locals->create(L"x", new ORVA_Value(static_cast<int32_t>(2)));
   *result = new ORVA_Value(static_cast<int32_t>(
      program->run(new HostEnvironment(&s_nestedDeletions), 1, arguments, locals)));
   return 0;
}

TEST(Calls, AProgramDoesNotRunInsideItsOwnRun)
{
   // A run is refused while the program runs: run answers -1, releases what it was handed
   // (the environment here; the argument and the set show under the sanitizers) and the
   // outer run goes on undisturbed.
   static const ORVA_ExtFunction functions[] = {{L"again", handlerRunAgain, 0}};
   CodeBuilder code;
   code.push(I(5)).call("again", 0).op(CONCAT).op(RET);
   ORVA_Program *program = code.build();
   auto *environment = new HostEnvironment();
   environment->registerFunctionSet(1, functions);
   s_nestedDeletions = 0;
   EXPECT_EQ(program->run(environment, 0, nullptr), 0);
   EXPECT_EQ(textOf(program->getResult()), L"5-1");
   EXPECT_EQ(s_nestedDeletions, 1);
   delete program;
}

TEST(Calls, ExitTwoCallsDeepEndsTheRun)
{
   CodeBuilder code;
   code.call("a", 0).push(I(1)).op(RET);
   code.function("a").name(ARRAY, "local").call("b", 0).push(I(2)).op(RET);
   code.function("b").push(S(L"bye")).op(EXIT);
   Outcome outcome = runOnce(code);
   EXPECT_EQ(outcome.rc, 0);
   EXPECT_EQ(outcome.result, L"bye");
}

TEST(Lifecycle, CleanUpReleasesEverythingTheRunHeld)
{
   // An object sits in an argument, on the data stack, and in the local sets of two calls
   // that never return because the innermost one fails.
   CountingClass objects;
   int environmentDeletions = 0;
   CodeBuilder code;
   code.var("$1").var("$1").call("f", 1);
   code.function("f").var("$1").call("g", 1);
   code.function("g").push(S(L"x")).push(I(1)).line(12).op(ADD);
   ORVA_Program *program = code.build();
   ORVA_Value *argument = new ORVA_Value(new ORVA_Object(&objects, nullptr));
   int rc = program->run(new HostEnvironment(&environmentDeletions), 1, &argument);
   EXPECT_EQ(rc, -1);
   EXPECT_STREQ(program->getErrorText(), L"Error 4 in line 12: Bad arithmetic conversion");
   EXPECT_EQ(program->getResult(), nullptr);
   EXPECT_EQ(environmentDeletions, 1);
   EXPECT_EQ(objects.released, 1);
   EXPECT_EQ(program->getEnvironment(), nullptr);

   // The program stays runnable from a clean state, and the error text survives a run
   // that ends normally.
   int rc2 = program->run(new HostEnvironment(&environmentDeletions), 0, nullptr, nullptr, nullptr, nullptr, L"f");
   EXPECT_EQ(rc2, -1);  // f with no argument: g adds "x" + 1 again
   EXPECT_EQ(environmentDeletions, 2);
   delete program;

   CodeBuilder ok;
   ok.push(I(1)).op(RET);
   ORVA_Program *fine = ok.build();
   fine->run(new HostEnvironment(&environmentDeletions), 0, nullptr);
   EXPECT_EQ(environmentDeletions, 3);
   EXPECT_EQ(fine->run(nullptr, 0, nullptr), 0);  // a default environment is made and dropped
   delete fine;
}

TEST(Lifecycle, SecondRunReplacesAndReleasesTheFirstResult)
{
   CountingClass objects;
   CodeBuilder code;
   code.var("$1").op(RET);
   ORVA_Program *program = code.build();
   ORVA_Value *first = new ORVA_Value(new ORVA_Object(&objects, nullptr));
   ASSERT_EQ(program->run(nullptr, 1, &first), 0);
   EXPECT_TRUE(program->getResult()->isObject());
   EXPECT_EQ(objects.released, 0);
   ORVA_Value *second = new ORVA_Value(static_cast<int32_t>(2));
   ASSERT_EQ(program->run(nullptr, 1, &second), 0);
   EXPECT_EQ(objects.released, 1);
   EXPECT_EQ(textOf(program->getResult()), L"2");
   delete program;
}

// A run that ends well keeps the error text of an earlier failed run, as hosts have always
// read it; the error details describe the last run only.
TEST(Lifecycle, ErrorTextSurvivesALaterNormalRunAndTheDetailsDoNot)
{
   CodeBuilder code;
   code.var("$1").jump(JZ, "fail").push(I(1)).op(RET).label("fail").line(3).op(PRINT).op(PRINT);
   ORVA_Program *program = code.build();
   ORVA_Value *zero = new ORVA_Value(static_cast<int32_t>(0));
   EXPECT_EQ(program->run(nullptr, 1, &zero), -1);
   EXPECT_STREQ(program->getErrorText(), L"Error 1 in line 3: Data stack underflow");
   EXPECT_EQ(program->getErrorInfo().code, ORVA_ERR_DATA_STACK_UNDERFLOW);
   ORVA_Value *one = new ORVA_Value(static_cast<int32_t>(1));
   EXPECT_EQ(program->run(nullptr, 1, &one), 0);
   EXPECT_STREQ(program->getErrorText(), L"Error 1 in line 3: Data stack underflow");
   EXPECT_EQ(program->getErrorInfo().code, 0);
   EXPECT_EQ(program->getErrorInfo().line, 0);
   delete program;
}

TEST(VariableSets, GlobalsSurviveOnlyThroughSetGlobalVariable)
{
   // g = g + 1; return g;
   CodeBuilder code;
   code.var("g").push(I(1)).op(ADD).name(SET, "g").op(RET);
   ORVA_Program *program = code.build();
   program->setGlobalVariable(L"g", new ORVA_Value(static_cast<int32_t>(10)));
   EXPECT_EQ(runProgram(program).result, L"11");
   EXPECT_EQ(runProgram(program).result, L"11");  // the script's change was discarded
   EXPECT_EQ(textOf(program->findGlobalVariable(L"g")->getValue()), L"10");

   ORVA_VariableSystem *globals = nullptr;
   ASSERT_EQ(program->run(nullptr, 0, nullptr, nullptr, &globals), 0);
   ASSERT_NE(globals, nullptr);
   EXPECT_EQ(textOf(globals->find(L"g")->getValue()), L"11");
   delete globals;
   EXPECT_EQ(textOf(program->findGlobalVariable(L"g")->getValue()), L"10");
   delete program;
}

TEST(VariableSets, LookupOrderAndHostSets)
{
   // Constants come first, then globals, then locals.
   ORVA_VariableSystem constants(true);
   constants.create(L"k", new ORVA_Value(L"constant"));
   auto *locals = new ORVA_VariableSystem();
   locals->create(L"k", new ORVA_Value(L"local"));
   locals->create(L"l", new ORVA_Value(L"local"));

   CodeBuilder code;
   code.var("k").var("l").op(CONCAT).op(RET);
   ORVA_Program *program = code.build();
   ASSERT_EQ(program->run(nullptr, 0, nullptr, locals, nullptr, &constants), 0);
   EXPECT_EQ(textOf(program->getResult()), L"constantlocal");
   delete program;

   // An assignment to a constant fails, and the merged constants last for one run only.
   CodeBuilder assign;
   assign.var("k").push(I(1)).line(2).name(SET, "k");
   ORVA_Program *second = assign.build();
   EXPECT_EQ(second->run(nullptr, 0, nullptr, nullptr, nullptr, &constants), -1);
   EXPECT_STREQ(second->getErrorText(), L"Error 25 in line 2: Cannot assign to a variable that is constant");
   EXPECT_EQ(second->run(nullptr, 0, nullptr), 0);  // without the constant, k is a local again
   ASSERT_NE(constants.find(L"k"), nullptr);           // the host's set is untouched
   delete second;

   // Nor can foreach step a constant through an array.
   wchar_t errorText[256] = L"";
   ORVA_Program *loop = ORVACompile(L"array a; a[0] = 1;\nforeach (k : a) x = k;\n", errorText, 256);
   ASSERT_NE(loop, nullptr) << errorText;
   EXPECT_EQ(loop->run(nullptr, 0, nullptr, nullptr, nullptr, &constants), -1);
   EXPECT_STREQ(loop->getErrorText(), L"Error 25 in line 2: Cannot assign to a variable that is constant");
   delete loop;
}

TEST(VariableSets, HostVariableWithoutValueReadsAsNull)
{
   CodeBuilder code;
   code.name(INC, "g");
   ORVA_Program *program = code.build();
   program->setGlobalVariable(L"g", nullptr);
   EXPECT_EQ(runProgram(program).error, L"Error 4 in line 1: Bad arithmetic conversion");
   delete program;
}

TEST(Modules, MissingModuleFailsBeforeAnyCode)
{
   CodeBuilder code;
   code.push(S(L"ran")).op(PRINT).op(NRET);
   ORVA_Program *program = code.build();
   program->addPreload(strdup("no_such_module_for_engine_test"));
   std::wstring output;
   Outcome outcome = runProgram(program, {}, &output);
   EXPECT_EQ(outcome.error, L"Error 16 in line 0: Requested module not found or cannot be loaded");
   EXPECT_EQ(output, L"");
   delete program;
}

}  // namespace
