// The engine's per-instruction lookup cache must always find what a fresh search finds:
// constants, then globals, then locals, first match in creation order, while variables
// appear at any time (a host function creating a global, other constant or local sets
// from run to run, duplicate names in a host's set).
#include <gtest/gtest.h>

#include "compile_script.h"

#include <string>

#include <orva.h>

namespace {

std::wstring resultText(ORVA_Program *program)
{
   ORVA_Value *result = program->getResult();
   if (result == nullptr || result->isNull())
      return L"<null>";
   return result->getValueAsCString();
}

ORVA_VariableSystem *setOf(std::initializer_list<std::pair<const wchar_t *, const wchar_t *>> variables,
                           bool constant = false)
{
   auto *set = new ORVA_VariableSystem(constant);
   for (const auto &variable : variables)
      set->create(variable.first, new ORVA_Value(variable.second));
   return set;
}

// Creates the global "x" holding "host" while the script runs.
int handlerMakeGlobal(int, ORVA_Value **, ORVA_Value **, ORVA_Program *program)
{
   program->setGlobalVariable(L"x", new ORVA_Value(L"host"));
   return 0;
}

TEST(LookupCache, OrderConstantsGlobalsLocals)
{
   ORVA_Program *program = compile(L"s = \"\"; for (i = 0; i < 3; i++) s .= a . b . c; return s;");
   program->setGlobalVariable(L"a", new ORVA_Value(L"G"));
   program->setGlobalVariable(L"b", new ORVA_Value(L"G"));
   ORVA_VariableSystem *constants = setOf({{L"a", L"C"}}, true);
   ASSERT_EQ(program->run(nullptr, 0, nullptr, setOf({{L"a", L"L"}, {L"b", L"L"}, {L"c", L"L"}}), nullptr,
                          constants),
             0);
   EXPECT_EQ(resultText(program), L"CGLCGLCGL");
   delete constants;
   delete program;
}

TEST(LookupCache, GlobalCreatedByHostAfterLocal)
{
   static const ORVA_ExtFunction functions[] = {{L"makeglobal", handlerMakeGlobal, 0}};
   ORVA_Program *program = compile(L"sub f() { x = 1; return x; } f(); f(); makeglobal(); f(); return x;");
   auto *environment = new ORVA_Environment();
   environment->registerFunctionSet(1, functions);
   ASSERT_EQ(program->run(environment, 0, nullptr), 0);
   EXPECT_EQ(resultText(program), L"1");  // f assigned the new global
   delete program;
}

TEST(LookupCache, GlobalAppearsInALoopWithoutScriptCalls)
{
   // The loop's instructions keep the local "x" they found until a global of that name
   // appears: made by a host function, or by a script function's declaration.
   static const ORVA_ExtFunction functions[] = {{L"makeglobal", handlerMakeGlobal, 0}};
   const wchar_t *sources[] = {
      L"s = \"\"; for (i = 0; i < 3; i++) { s .= typeof(x) . \",\"; if (i == 1) makeglobal(); } return s;",
      L"sub g() { global x = \"host\"; }\ns = \"\"; for (i = 0; i < 3; i++) { s .= typeof(x) . \",\"; if (i == 1) g(); } return s;",
   };
   for (const wchar_t *source : sources)
   {
      ORVA_Program *program = compile(source);
      auto *environment = new ORVA_Environment();
      environment->registerFunctionSet(1, functions);
      ASSERT_EQ(program->run(environment, 0, nullptr), 0);
      EXPECT_EQ(resultText(program), L"null,null,string,");
      delete program;
   }
}

TEST(LookupCache, GlobalAppearsBetweenCallsOfAFunction)
{
   // A call that takes up the lookups of the function's last call must still see a global
   // that appeared in between and now hides the parameter.
   const wchar_t *sources[] = {
      L"sub f(a) { return a; }\nsub g() { global a = \"G\"; }\nr = \"\"; for (i = 0; i < 3; i++) { r .= f(i); if (i == 1) g(); } return r;",
      L"sub g() { global a = \"G\"; return \"\"; }\nsub f(a, b) { if (b) return a . g(); return a; }\nr = \"\"; for (i = 0; i < 3; i++) r .= f(i, i == 1); return r;",
   };
   for (const wchar_t *source : sources)
   {
      ORVA_Program *program = compile(source);
      ASSERT_EQ(program->run(nullptr, 0, nullptr), 0);
      EXPECT_EQ(resultText(program), L"01G");
      delete program;
   }
}

TEST(LookupCache, SetsChangeBetweenRuns)
{
   ORVA_Program *program = compile(L"r = \"\"; if (z != null) r = z; r .= \"/\"; if (w != null) r .= w; return r;");
   struct Run { const wchar_t *constant; const wchar_t *local; const wchar_t *expected; };
   const Run runs[] = {
      {L"z", L"w", L"C/L"},
      {L"y", L"w", L"/L"},     // as many constants as before, but no z among them
      {L"w", L"z", L"L/C"},
      {nullptr, nullptr, L"/"},
   };
   for (const Run &run : runs)
   {
      ORVA_VariableSystem *constants = (run.constant != nullptr) ? setOf({{run.constant, L"C"}}, true) : nullptr;
      ORVA_VariableSystem *locals = (run.local != nullptr) ? setOf({{run.local, L"L"}}) : nullptr;
      ASSERT_EQ(program->run(nullptr, 0, nullptr, locals, nullptr, constants), 0);
      EXPECT_EQ(resultText(program), run.expected) << run.expected;
      delete constants;
   }
   program->setGlobalVariable(L"w", new ORVA_Value(L"G"));
   ASSERT_EQ(program->run(nullptr, 0, nullptr, setOf({{L"w", L"L"}})), 0);
   EXPECT_EQ(resultText(program), L"/G");
   delete program;
}

TEST(LookupCache, DuplicateNamesInAHostSet)
{
   ORVA_Program *program = compile(L"s = \"\"; for (i = 0; i < 3; i++) s .= v; return s;");
   ORVA_VariableSystem *locals = setOf({{L"v", L"first"}, {L"v", L"second"}});
   ASSERT_EQ(program->run(nullptr, 0, nullptr, locals), 0);
   EXPECT_EQ(resultText(program), L"firstfirstfirst");
   delete program;
}

TEST(LookupCache, FirstAtConfirmsOnlyTheFirstOfAName)
{
   ORVA_VariableSystem set;
   for (const wchar_t *name : {L"a", L"b", L"a", L"c"})
      set.create(name, nullptr);
   EXPECT_EQ(set.firstAt(0, L"a"), set.getByIndex(0));
   EXPECT_EQ(set.firstAt(1, L"b"), set.getByIndex(1));
   EXPECT_EQ(set.firstAt(1, L"a"), nullptr);   // another name there
   EXPECT_EQ(set.firstAt(2, L"a"), nullptr);   // an older "a" wins
   EXPECT_EQ(set.firstAt(3, L"c"), nullptr);   // past the first duplicate: not confirmed
   EXPECT_EQ(set.firstAt(9, L"a"), nullptr);
   EXPECT_EQ(set.indexOf(L"c"), 3u);
   EXPECT_EQ(set.indexOf(L"d"), 0xFFFFFFFFu);

   // A set large enough for its hash index finds duplicates the same way.
   ORVA_VariableSystem large;
   wchar_t name[8];
   for (int i = 0; i < 40; i++)
   {
      swprintf(name, 8, L"n%d", i % 30);
      large.create(name, nullptr);
   }
   EXPECT_NE(large.firstAt(29, L"n29"), nullptr);
   EXPECT_EQ(large.firstAt(30, L"n0"), nullptr);
   EXPECT_EQ(large.indexOf(L"n5"), 5u);
}

}  // namespace

// A run may start from the positions an earlier run found: each is confirmed against the
// sets of this run, which differ in what was made before the name and in what the host
// handed over.
TEST(LookupCache, PositionsFromEarlierRunsAreConfirmedInEachRun)
{
   ORVA_Program *program =
      compile(L"if ($1 == 1) a = \"A\"; if (b == null) b = \"\"; b = b . \"B\"; return typeof(a) . \":\" . b;");
   using Variables = std::initializer_list<std::pair<const wchar_t *, const wchar_t *>>;
   struct Run
   {
      int32_t argument;
      Variables locals;
      Variables constants;
      const wchar_t *expected;
   };
   const Run runs[] = {
      {0, {}, {}, L"null:B"},
      {1, {}, {}, L"string:B"},                          // "a" now where "b" was
      {0, {}, {}, L"null:B"},
      {0, {{L"b", L"host"}}, {}, L"null:hostB"},         // the host's "b" comes first
      {0, {{L"x", L"1"}, {L"b", L"1"}, {L"b", L"2"}}, {}, L"null:1B"},
      {0, {}, {{L"a", L"C"}}, L"string:B"},              // a constant "a"
      {0, {{L"b", L"L"}}, {}, L"null:LB"},
      {0, {{L"b", L"L"}}, {{L"b", L"C"}}, nullptr},      // the constant, not the local there
      {0, {}, {}, L"null:B"},
   };
   for (const Run &run : runs)
   {
      ORVA_VariableSystem *constants = (run.constants.size() > 0) ? setOf(run.constants, true) : nullptr;
      ORVA_Value *argv[] = {new ORVA_Value(run.argument)};
      const int rc = program->run(nullptr, 1, argv, run.locals.size() > 0 ? setOf(run.locals) : nullptr, nullptr,
                                  constants);
      delete constants;
      if (run.expected == nullptr)
      {
         EXPECT_EQ(program->getErrorInfo().code, ORVA_ERR_ASSIGNMENT_TO_CONSTANT);
         continue;
      }
      ASSERT_EQ(rc, 0) << run.expected;
      EXPECT_EQ(resultText(program), run.expected);
   }

   // A global that appears between runs hides the local at the position found before.
   program->setGlobalVariable(L"b", new ORVA_Value(L"G"));
   ORVA_Value *argv[] = {new ORVA_Value(0)};
   ASSERT_EQ(program->run(nullptr, 1, argv, setOf({{L"b", L"L"}})), 0);
   EXPECT_EQ(resultText(program), L"null:GB");
   delete program;
}

namespace {

// Runs `entry` of the program with one integer argument and no local set of the host's
// (so each run takes up the local set of the run before): the result as text, or
// "error N".
std::wstring runWith(ORVA_Program *program, const wchar_t *entry, int32_t argument,
                     ORVA_VariableSystem *constants = nullptr)
{
   ORVA_Value *argv[] = {new ORVA_Value(argument)};
   if (program->run(nullptr, 1, argv, nullptr, nullptr, constants, entry) != 0)
      return L"error " + std::to_wstring(program->getErrorInfo().code);
   return resultText(program);
}

}  // namespace

// A run takes a local straight from the position where the run before found it only while
// that is where the search would find it: the same local set with the same names up to
// there, and no constant or global of the name (a parameter is made even when a global
// of its name exists, and then the global is what its name reaches).
TEST(LookupCache, LocalsAreTakenFromTheRunBeforeOnlyWhereTheyStillAre)
{
   // The handler names "$1", so that the instruction loop, whose cache this is, runs it.
   ORVA_Program *program =
      compile(L"sub onEvent(id) { if (0) id = $1; if (id == 1) a = \"A\"; b = \"B\"; if (id == 1) return a . b . id; return b . id; }");
   struct Run
   {
      int32_t argument;
      const wchar_t *constantName;   // a constant holding "K", or none
      const wchar_t *newGlobal;      // a global holding "G" made before the run, or none
      const wchar_t *expected;
   };
   const Run runs[] = {
      {0, nullptr, nullptr, L"B0"},
      {1, nullptr, nullptr, L"AB1"},   // "a" now stands where "b" stood
      {0, nullptr, nullptr, L"B0"},
      {0, L"b", nullptr, L"error 25"}, // "b" is a constant in this run: no assignment
      {0, L"id", nullptr, L"BK"},      // the constant hides the parameter
      {0, nullptr, nullptr, L"B0"},
      {1, nullptr, L"id", L"BG"},      // the global hides the parameter from now on
      {1, nullptr, nullptr, L"BG"},
   };
   for (const Run &run : runs)
   {
      if (run.newGlobal != nullptr)
         program->setGlobalVariable(run.newGlobal, new ORVA_Value(L"G"));
      ORVA_VariableSystem *constants = (run.constantName != nullptr) ? setOf({{run.constantName, L"K"}}, true) : nullptr;
      EXPECT_EQ(runWith(program, L"onEvent", run.argument, constants), run.expected) << run.expected;
      delete constants;
   }
   delete program;
}

// What a run learnt about an instruction describes the code as it was: after an edit,
// another name may stand at that address.
TEST(LookupCache, EditedCodeIsLookedAtAgain)
{
   // f names "$1", so that the instruction loop, whose cache this is, runs it.
   ORVA_Program *program = compile(L"sub f(x) { if (0) x = $1; a = \"A\"; b = \"B\"; return a; return b; }");
   EXPECT_EQ(runWith(program, L"f", 0), L"A");
   uint32_t returnOfA = 0;
   while (program->getInstruction(returnOfA)->getOpcode() != ORVA_Op::RET)
      returnOfA++;
   // The PUSH of b moves to where the PUSH of a stood.
   program->removeInstructions(returnOfA - 1, 2);
   EXPECT_EQ(runWith(program, L"f", 0), L"B");
   EXPECT_EQ(runWith(program, L"f", 0), L"B");
   delete program;
}

// Module code is linked anew for each run, so another module's instruction may stand
// where one of the run before did.
TEST(LookupCache, ModuleCodeOfTheRunBeforeIsNotTrusted)
{
   ORVA_Library first;
   first.addScript(1, L"Util", compile(L"sub f(x) { a = \"A\"; b = \"B\"; return a; }"));
   ORVA_Library second;
   second.addScript(1, L"Util", compile(L"sub f(x) { a = \"A\"; b = \"B\"; return b; }"));
   ORVA_Program *program = compile(L"use util; return 0;");
   for (const auto &step : {std::make_pair(&first, L"A"), std::make_pair(&second, L"B"), std::make_pair(&first, L"A")})
   {
      auto *environment = new ORVA_Environment();
      environment->setLibrary(step.first);
      ORVA_Value *argv[] = {new ORVA_Value(0)};
      ASSERT_EQ(program->run(environment, 1, argv, nullptr, nullptr, nullptr, L"f"), 0);
      EXPECT_EQ(resultText(program), step.second);
   }
   delete program;
}
