// A run takes up the sets and stacks the run before it left behind: nothing of that run
// may show. Each run starts with no variables but the host's, with locals that can be
// assigned, with the program's globals only, and releases its values when it ends.
#include <orva.h>

#include <gtest/gtest.h>

#include "compile_script.h"

#include <string>

namespace {

// Counts the host objects released.
class Counted : public ORVA_Class
{
public:
   Counted() { wcscpy(name, L"COUNTED"); }
   void onObjectDelete(ORVA_Object *) override { deleted++; }
   int deleted = 0;
};

Counted s_counted;

int makeCounted(int, ORVA_Value **, ORVA_Value **result, ORVA_Program *)
{
   *result = new ORVA_Value(new ORVA_Object(&s_counted, nullptr));
   return 0;
}

std::wstring runText(ORVA_Program *program, int32_t argument, ORVA_VariableSystem *locals = nullptr)
{
   static const ORVA_ExtFunction functions[] = {{L"counted", makeCounted, 0}};
   auto *environment = new ORVA_Environment();
   environment->registerFunctionSet(1, functions);
   ORVA_Value *argv[] = {new ORVA_Value(argument)};
   if (program->run(environment, 1, argv, locals) != 0)
      return std::wstring(L"error ") + std::to_wstring(program->getErrorInfo().code);
   ORVA_Value *result = program->getResult();
   return (result == nullptr || result->isNull()) ? L"<null>" : result->getValueAsCString();
}

}  // namespace

TEST(RunCache, EachRunStartsFromNothing)
{
   // Twelve locals, so that the set of a run is large enough for its hash index; which
   // of them a run makes, and in what order, depends on its argument.
   ORVA_Program *program = compile(
      L"if ($1 == 1) { a = 1; b = 2; c = 3; d = 4; e = 5; f = 6; g = 7; h = 8; i = 9; }\n"
      L"if ($1 == 2) { i = 1; h = 2; g = 3; }\n"
      L"if ($1 == 3) global a = 5;\n"
      L"s = typeof(a) . typeof(b) . typeof(g) . typeof(i) . \"|\";\n"
      L"if (i != null) s .= i;\n"
      L"return s;");
   struct Run
   {
      int32_t argument;
      const wchar_t *expected;
   };
   const Run runs[] = {
      {1, L"int32int32int32int32|9"},
      {0, L"nullnullnullnull|"},
      {2, L"nullnullint32int32|1"},
      {1, L"int32int32int32int32|9"},
      {3, L"int32nullnullnull|"},
      {0, L"nullnullnullnull|"},   // the global "a" went with its run
   };
   for (const Run &run : runs)
      EXPECT_EQ(runText(program, run.argument), run.expected) << run.argument;
   delete program;
}

TEST(RunCache, ValuesGoWhenTheirRunEnds)
{
   ORVA_Program *program = compile(L"x = counted(); global y = counted(); if ($1 == 1) exit(1); return 0;");
   s_counted.deleted = 0;
   for (int32_t argument : {0, 1, 0})
   {
      const int before = s_counted.deleted;
      runText(program, argument);
      EXPECT_EQ(s_counted.deleted - before, 2) << argument;
   }
   delete program;
}

TEST(RunCache, ALocalSetOfConstantsLeavesNoConstants)
{
   ORVA_Program *program = compile(L"x = $1; return x;");
   auto *constants = new ORVA_VariableSystem(true);
   constants->create(L"y", new ORVA_Value(1));
   EXPECT_EQ(runText(program, 5, constants), L"error 25");   // "$1" is a constant there
   EXPECT_EQ(runText(program, 6), L"6");
   EXPECT_EQ(runText(program, 7), L"7");
   delete program;
}

TEST(RunCache, SparesOfTheRunBeforeAreNoVariables)
{
   // The runs before made more variables than this one, under the same names: those
   // left over must not count as made, whether the run takes the others up in the same
   // order or in another. (xy and xyz begin alike, so that a set's quick check of the
   // first letters cannot tell that it lacks xyz.)
   ORVA_Program *program = compile(
      L"if ($1 == 2) { z = 0; }\n"
      L"a = 1; b = 2; c = 3; d = 4; e = 5; f = 6; g = 7; h = 8; i = 9; xy = 0;\n"
      L"if ($1 >= 1) xyz = 1;\n"
      L"global xyz = a + i; return xyz;");
   struct Run
   {
      int32_t argument;
      const wchar_t *expected;
   };
   const Run runs[] = {
      {1, L"error 22"},   // xyz was made as a local before "global xyz"
      {0, L"10"},
      {1, L"error 22"},
      {2, L"error 22"},   // z moves every later variable one place on
      {0, L"10"},
   };
   for (const Run &run : runs)
      EXPECT_EQ(runText(program, run.argument), run.expected) << run.argument;
   delete program;
}

TEST(RunCache, SparesTakenUpAgainAreFoundByEverySearch)
{
   // x is taken up again in every run; only the third run reads it where no run read it
   // before, by a search through the set. Before x, a few locals (a set searched one by
   // one) or many (a set with a hash index).
   const wchar_t *sources[] = {
      L"x = 5; if ($1 == 1) r = x; else r = 0; return r;",
      L"a = 1; b = 2; c = 3; d = 4; e = 5; f = 6; g = 7; h = 8; i = 9; j = 10;\n"
      L"x = 5; if ($1 == 1) r = x; else r = 0; return r;",
   };
   for (const wchar_t *source : sources)
   {
      ORVA_Program *program = compile(source);
      EXPECT_EQ(runText(program, 0), L"0");
      EXPECT_EQ(runText(program, 0), L"0");
      EXPECT_EQ(runText(program, 1), L"5") << ORVAToUtf8(source);
      delete program;
   }
}
