// A run's entry function gets the host's argument values as its parameters. Where the
// function cannot see "$1".."$n", they go to the parameters without those variables; a run
// that brings its own local set makes them as always. The two must not be told apart:
// results, errors and their lines, and the steps the BINDs count.
#include <orva.h>

#include <gtest/gtest.h>

#include "compile_script.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct Outcome
{
   int rc;
   std::wstring text;   // the result, or the error text

   bool operator==(const Outcome &other) const { return rc == other.rc && text == other.text; }
};

std::ostream &operator<<(std::ostream &out, const Outcome &outcome)
{
   return out << outcome.rc << " " << ORVAToUtf8(outcome.text.c_str());
}

// Runs `entry` with `argc` of the arguments 7, "line of text", 2.5, "x"; through a local
// set of the host's when `ownSet` is set.
Outcome runEntry(ORVA_Program *program, const wchar_t *entry, uint32_t argc, bool ownSet, uint64_t maxSteps = 0)
{
   ORVA_RunLimits limits;
   limits.maxSteps = maxSteps;
   program->setRunLimits(limits);
   ORVA_Value *all[] = {new ORVA_Value(int32_t{7}), new ORVA_Value(L"line of text"), new ORVA_Value(2.5),
                        new ORVA_Value(L"x")};
   for (uint32_t i = argc; i < 4; i++)
      delete all[i];
   ORVA_VariableSystem *locals = ownSet ? new ORVA_VariableSystem(false) : nullptr;
   const int rc = program->run(new ORVA_Environment(), argc, all, locals, nullptr, nullptr, entry);
   if (rc != 0)
      return {rc, program->getErrorText()};
   ORVA_Value *result = program->getResult();
   const wchar_t *text = (result != nullptr) ? result->getValueAsCString() : nullptr;
   return {rc, text != nullptr ? text : L"<none>"};
}

const wchar_t *const kHandlers =
   L"sub three(a, b, c)\n"
   L"{\n"
   L"   a .= \"!\"; b = left(b, 4);\n"
   L"   return typeof(a) . \":\" . a . \"|\" . typeof(b) . \":\" . b . \"|\" . typeof(c) . \":\" . c;\n"
   L"}\n"
   L"sub one(a) { return typeof(a) . a; }\n"
   L"sub twice(a, a) { return a; }\n"
   L"sub seen(a, b) { return a . $2 . b . $1; }\n"
   L"sub none() { return \"none\"; }\n"
   L"sub late(a,\n b)\n{\n return a . b; }\n";

}  // namespace

TEST(EntryParameters, HandedOverAsIfBound)
{
   ORVA_Program *program = compile(kHandlers);
   ASSERT_NE(program, nullptr);
   // Each function with every argument count, twice in a row and between the others, so
   // that runs also take up the sets the runs before left.
   const wchar_t *const entries[] = {L"three", L"one", L"twice", L"seen", L"none", L"late", L"three"};
   for (int round = 0; round < 2; round++)
   {
      for (const wchar_t *entry : entries)
      {
         for (uint32_t argc = 0; argc <= 4; argc++)
         {
            const Outcome bound = runEntry(program, entry, argc, true);
            EXPECT_EQ(runEntry(program, entry, argc, false), bound) << ORVAToUtf8(entry) << " " << argc;
         }
      }
   }
   EXPECT_EQ(runEntry(program, L"three", 3, false).text, L"string:7!|string:line|real:2.500000");
   EXPECT_EQ(runEntry(program, L"seen", 2, false).text, L"7line of textline of text7");
   delete program;
}

TEST(EntryParameters, StepsAndInterruptsSeeEveryBind)
{
   ORVA_Program *program = compile(kHandlers);
   ASSERT_NE(program, nullptr);
   for (const wchar_t *entry : {L"three", L"late"})
   {
      for (uint64_t limit = 1; limit <= 8; limit++)
         EXPECT_EQ(runEntry(program, entry, 3, false, limit), runEntry(program, entry, 3, true, limit))
            << ORVAToUtf8(entry) << " " << limit;
      // A request made before the run stops it at the first BIND, on the function's line.
      program->interrupt();
      const Outcome interrupted = runEntry(program, entry, 3, false);
      program->interrupt();
      EXPECT_EQ(interrupted, runEntry(program, entry, 3, true)) << ORVAToUtf8(entry);
      EXPECT_NE(interrupted.rc, 0);
   }
   // One step: the second BIND, on the line of b, is where the run stops.
   EXPECT_EQ(runEntry(program, L"late", 3, false, 1).text, L"Error 28 in line 11: Instruction limit exceeded");
   EXPECT_EQ(runEntry(program, L"late", 3, false, 2).text, L"Error 28 in line 13: Instruction limit exceeded");
   delete program;
}

TEST(EntryParameters, EditedCodeIsLookedAtAgain)
{
   // f returns its parameter; then the PUSH of its return becomes a jump into g, which
   // returns "$2". The runs after the edit must see "$2" (the code keeps its size).
   ORVA_Program *program = compile(L"sub f(a) { return a; }\nsub g() { return $2; }\n");
   ASSERT_NE(program, nullptr);
   EXPECT_EQ(runEntry(program, L"f", 2, false).text, L"7");
   uint32_t ret = 0;
   while (program->getInstruction(ret)->getOpcode() != RET)
      ret++;
   uint32_t pushOfG = ret;
   while (program->getInstruction(pushOfG)->getOpcode() != PUSH_VAR)
      pushOfG++;
   program->createJumpAt(ret - 1, pushOfG);
   EXPECT_EQ(runEntry(program, L"f", 2, false).text, L"line of text");
   EXPECT_EQ(runEntry(program, L"f", 2, true).text, L"line of text");
   delete program;
}
