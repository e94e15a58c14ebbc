// What the calls by name of a program reach is kept from run to run, while hosts make a
// new environment for each run: every run must still reach the functions of its own
// environment, as they are at the moment of each call.
#include <orva.h>

#include <gtest/gtest.h>

#include "compile_script.h"

#include <string>
#include <vector>

namespace {

ORVA_ExtFunction record(const wchar_t *name, ORVA_Handler handler, int numArgs = 0)
{
   ORVA_ExtFunction function = {};
   wcsncpy(function.name, name, 63);
   function.handler = handler;
   function.numArgs = numArgs;
   return function;
}

int text(ORVA_Value **result, const wchar_t *value)
{
   *result = new ORVA_Value(value);
   return 0;
}

int f1(int, ORVA_Value **, ORVA_Value **result, ORVA_Program *) { return text(result, L"F1"); }
int f2(int, ORVA_Value **, ORVA_Value **result, ORVA_Program *) { return text(result, L"F2"); }
int g1(int, ORVA_Value **, ORVA_Value **result, ORVA_Program *) { return text(result, L"G1"); }
int g2(int, ORVA_Value **, ORVA_Value **result, ORVA_Program *) { return text(result, L"G2"); }
int hostAbs(int, ORVA_Value **, ORVA_Value **result, ORVA_Program *) { return text(result, L"A"); }

// The run's result as text, or "error N".
std::wstring outcome(ORVA_Program *program, ORVA_Environment *environment, const wchar_t *entry = nullptr)
{
   if (program->run(environment, 0, nullptr, nullptr, nullptr, nullptr, entry) != 0)
      return L"error " + std::to_wstring(program->getErrorInfo().code);
   return program->getResult()->getValueAsCString();
}

}  // namespace

// One program runs in a sequence of environments, each new. Records that differ in order,
// in handler, in name, in number, or a table made the environment's own, must each be
// found again.
TEST(CallTargets, EachRunReachesTheFunctionsOfItsOwnEnvironment)
{
   using Setup = void (*)(ORVA_Environment *);
   struct Case
   {
      const char *label;
      Setup setup;
      const wchar_t *expected;
   };
   static const ORVA_ExtFunction fg[] = {record(L"f", f1), record(L"g", g1)};
   const Case cases[] = {
      {"f and g", [](ORVA_Environment *e) { e->registerFunctionSet(2, fg); }, L"F1G13"},
      {"the same again", [](ORVA_Environment *e) { e->registerFunctionSet(2, fg); }, L"F1G13"},
      {"f's handler under another name",
       [](ORVA_Environment *e) {
          const ORVA_ExtFunction r[] = {record(L"h", f1), record(L"g", g1)};
          e->registerFunctionSet(2, r);
       },
       L"error 11"},
      {"g before f",
       [](ORVA_Environment *e) {
          const ORVA_ExtFunction r[] = {record(L"g", g1), record(L"f", f1)};
          e->registerFunctionSet(2, r);
       },
       L"F1G13"},
      {"another handler for f",
       [](ORVA_Environment *e) {
          const ORVA_ExtFunction r[] = {record(L"f", f2), record(L"g", g1)};
          e->registerFunctionSet(2, r);
       },
       L"F2G13"},
      {"a host abs before them does not hide the built-in",
       [](ORVA_Environment *e) {
          const ORVA_ExtFunction r[] = {record(L"abs", hostAbs, 1), record(L"f", f1), record(L"g", g2)};
          e->registerFunctionSet(3, r);
       },
       L"F1G23"},
      {"abs replaced",
       [](ORVA_Environment *e) {
          e->registerFunctionSet(2, fg);
          e->replaceFunction(record(L"abs", hostAbs, 1));
       },
       L"F1G1A"},
      {"records registered one by one", [](ORVA_Environment *e) {
          e->registerFunctionSet(1, &fg[0]);
          e->registerFunctionSet(1, &fg[1]);
       },
       L"F1G13"},
      {"g missing", [](ORVA_Environment *e) { e->registerFunctionSet(1, fg); }, L"error 11"},
      {"no host records", [](ORVA_Environment *) {}, L"error 11"},
      {"f and g once more", [](ORVA_Environment *e) { e->registerFunctionSet(2, fg); }, L"F1G13"},
   };
   ORVA_Program *program = compile(L"return f() . g() . abs(-3);");
   ASSERT_NE(nullptr, program);
   for (int round = 0; round < 2; round++)
   {
      for (const Case &c : cases)
      {
         auto *environment = new ORVA_Environment;
         c.setup(environment);
         EXPECT_EQ(c.expected, outcome(program, environment)) << c.label << ", round " << round;
      }
   }
   delete program;
}

namespace {

// The environment of the running test, which `edit` changes during the run.
ORVA_Environment *s_running = nullptr;
void (*s_edit)(ORVA_Environment *, int) = nullptr;
int s_editCalls = 0;

int edit(int, ORVA_Value **, ORVA_Value **, ORVA_Program *)
{
   s_edit(s_running, ++s_editCalls);
   return 0;
}

}  // namespace

// A host function changes the table during the run; the call of g that ran before the
// change runs again after it and must reach what the table now holds under that name.
TEST(CallTargets, ATableChangedDuringTheRunIsLookedAtAgain)
{
   struct Case
   {
      const char *label;
      void (*edit)(ORVA_Environment *, int call);
      const wchar_t *expected;
   };
   const Case cases[] = {
      {"f removed: g moves down", [](ORVA_Environment *e, int) { e->removeFunction(L"f"); }, L"G1G1G1"},
      {"g replaced", [](ORVA_Environment *e, int) { e->replaceFunction(record(L"g", g2)); }, L"G1G2G2"},
      {"g removed and registered again",
       [](ORVA_Environment *e, int) {
          e->removeFunction(L"g");
          const ORVA_ExtFunction again = record(L"g", g2);
          e->registerFunctionSet(1, &again);
       },
       L"G1G2G2"},
      {"g borrowed and changed", [](ORVA_Environment *e, int) { e->findFunction(L"g")->handler = g2; }, L"G1G2G2"},
      // The table becomes the environment's own first; g is found in it; then the lent
      // record changes its name, which no edit count can see.
      {"a record borrowed, then g renamed through its lent record",
       [](ORVA_Environment *e, int call) {
          if (call == 1)
             e->findFunction(L"abs");
          else if (call == 2)
             e->findFunction(L"g")->name[0] = L'x';
       },
       L"error 11"},
      {"g removed", [](ORVA_Environment *e, int) { e->removeFunction(L"g"); }, L"error 11"},
   };
   ORVA_Program *program = compile(L"s = \"\";\nfor (i = 0; i < 3; i++) { s .= g(); edit(); }\nreturn s;");
   ASSERT_NE(nullptr, program);
   const ORVA_ExtFunction records[] = {record(L"f", f1), record(L"g", g1), record(L"edit", edit)};
   for (int round = 0; round < 2; round++)
   {
      for (const Case &c : cases)
      {
         s_running = new ORVA_Environment;
         s_running->registerFunctionSet(3, records);
         s_edit = c.edit;
         s_editCalls = 0;
         EXPECT_EQ(c.expected, outcome(program, s_running)) << c.label << ", round " << round;
      }
   }
   delete program;
}

// Code a host builds itself: a call taken out by an edit frees its name, and a call of
// another name appended later may get the same memory at an address sharing its slot.
TEST(CallTargets, CallsOfEditedCodeAreLookedUpAgain)
{
   auto *program = new ORVA_Program();
   char message[256];
   program->addFunction("$main", 0, message, sizeof(message));
   program->addInstruction(new ORVA_Instruction(1, CALL_NAME, strdup("f"), 0));
   program->addInstruction(new ORVA_Instruction(1, RET));
   const ORVA_ExtFunction records[] = {record(L"f", f1), record(L"g", g1)};
   auto environment = [&records]() {
      auto *e = new ORVA_Environment;
      e->registerFunctionSet(2, records);
      return e;
   };
   ASSERT_EQ(L"F1", outcome(program, environment()));
   // The call of f becomes a jump to the end, where a call of g now stands at an address
   // sharing the slot of f's: 64 instructions on.
   for (uint32_t address = 2; address < 64; address++)
      program->addInstruction(new ORVA_Instruction(1, NOP));
   char *g = strdup("g");
   program->createJumpAt(0, 64);
   program->addInstruction(new ORVA_Instruction(1, CALL_NAME, g, 0));
   program->addInstruction(new ORVA_Instruction(1, RET));
   EXPECT_EQ(L"G1", outcome(program, environment()));
   delete program;
}

// The entry function is found by the text of its name in each run: a host may pass one
// buffer with other names in it, the default entry, or an empty name.
TEST(CallTargets, EntryFunctionsAreFoundByTheirNameInEachRun)
{
   ORVA_Program *program = compile(
      L"sub a() { return \"a\"; }\nsub b() { return \"b\"; }\nsub main() { return \"m\"; }\nreturn \"top\";");
   ASSERT_NE(nullptr, program);
   wchar_t name[8] = L"";
   struct Run
   {
      const wchar_t *name;   // copied into the buffer; null: the default entry
      const wchar_t *expected;
   };
   const Run runs[] = {{L"a", L"a"}, {L"b", L"b"}, {nullptr, L"m"}, {L"", L"error 7"}, {L"b", L"b"},
                       {L"c", L"error 7"}, {nullptr, L"m"}, {L"main", L"m"}, {L"a", L"a"}};
   for (const Run &run : runs)
   {
      if (run.name != nullptr)
         wcscpy(name, run.name);
      EXPECT_EQ(run.expected, outcome(program, new ORVA_Environment, run.name != nullptr ? name : nullptr))
         << (run.name != nullptr ? ORVAToUtf8(run.name) : "default");
   }
   delete program;
}

// An edit that moves the code moves the entry function: the next run enters it where it
// is now.
TEST(CallTargets, AnEntryFunctionMovedByAnEditIsFoundWhereItIs)
{
   ORVA_Program *program = compile(L"sub a() { x = 1; y = 2; return \"a\"; }\nsub b() { return \"b\"; }\nreturn 0;");
   ASSERT_NE(nullptr, program);
   ASSERT_EQ(L"b", outcome(program, new ORVA_Environment, L"b"));
   auto address = [program](const wchar_t *name) {
      for (uint32_t i = 0; i < program->getFunctionCount(); i++)
      {
         if (wcscmp(program->getFunction(i)->name, name) == 0)
            return program->getFunction(i)->address;
      }
      return ORVA_INVALID_ADDRESS;
   };
   const uint32_t before = address(L"b");
   program->removeInstructions(address(L"a"), 2);
   ASSERT_EQ(before - 2, address(L"b"));
   EXPECT_EQ(L"b", outcome(program, new ORVA_Environment, L"b"));
   EXPECT_EQ(L"a", outcome(program, new ORVA_Environment, L"a"));
   delete program;
}

// An entry function that only a module has is linked anew in each run, from the module the
// library holds then: a module put in the place of another has its own code.
TEST(CallTargets, AnEntryFunctionOfAModuleIsTheOneOfEachRunsModule)
{
   ORVA_Library library;
   library.addScript(1, L"Util", compile(L"sub first() { return 1; }\nsub entry() { return f() . \"old\"; }"));
   ORVA_Program *program = compile(L"use util;\nreturn 0;");
   ASSERT_NE(nullptr, program);
   auto environment = [&library]() {
      static const ORVA_ExtFunction records[] = {record(L"f", f1)};
      auto *e = new ORVA_Environment;
      e->setLibrary(&library);
      e->registerFunctionSet(1, records);
      return e;
   };
   ASSERT_EQ(L"F1old", outcome(program, environment(), L"entry"));
   library.deleteScript(L"Util");
   library.addScript(1, L"Util", compile(L"sub entry() { return f() . \"new\"; }"));
   EXPECT_EQ(L"F1new", outcome(program, environment(), L"entry"));
   delete program;
}
