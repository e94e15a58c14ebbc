// ORVA_Program::clone: programs that share one compiled code and have everything else of
// their own. (Clones on several threads at once: threads_test.cpp.)
#include <orva.h>

#include <gtest/gtest.h>

#include "compile_script.h"

#include <cstring>
#include <memory>

namespace {

int32_t resultOf(ORVA_Program *program)
{
   return program->getResult() != nullptr ? program->getResult()->getValueAsInt32() : -1000;
}

ORVA_Program *s_running = nullptr;
ORVA_Program *s_cloneDuringRun = nullptr;

int cloneRunning(int, ORVA_Value **, ORVA_Value **result, ORVA_Program *)
{
   s_cloneDuringRun = s_running->clone();
   *result = new ORVA_Value(static_cast<int32_t>(s_cloneDuringRun == nullptr));
   return 0;
}

// The first CASE constant of a program.
const ORVA_Value *firstCaseConstant(const ORVA_Program *program)
{
   for (uint32_t i = 0; i < program->getCodeSize(); i++)
      if (program->getInstruction(i)->getOpcode() == CASE)
         return program->getInstruction(i)->getConstant();
   return nullptr;
}

}  // namespace

TEST(Clone, SharesTheCodeAndHasItsOwnGlobalsResultsAndErrors)
{
   std::unique_ptr<ORVA_Program> original(compile(L"sub f(n) { return 100 / n + g + 0 % n; } return f($1);"));
   ASSERT_NE(original, nullptr);
   original->setGlobalVariable(L"g", new ORVA_Value(static_cast<int32_t>(7)));
   ORVA_RunLimits limits;
   limits.maxSteps = 1000;
   original->setRunLimits(limits);

   std::unique_ptr<ORVA_Program> clone(original->clone());
   ASSERT_NE(clone, nullptr);
   ASSERT_EQ(clone->getCodeSize(), original->getCodeSize());
   for (uint32_t i = 0; i < clone->getCodeSize(); i++)
      EXPECT_EQ(clone->getInstruction(i), original->getInstruction(i)) << i;
   EXPECT_EQ(clone->getFunctionCount(), original->getFunctionCount());
   EXPECT_EQ(clone->getRunLimits().maxSteps, 1000u);

   // Globals set on one after cloning stay its own.
   clone->setGlobalVariable(L"g", new ORVA_Value(static_cast<int32_t>(100)));
   ORVA_Value *two[] = {new ORVA_Value(static_cast<int32_t>(2))};
   ASSERT_EQ(clone->run(nullptr, 1, two), 0);
   ORVA_Value *zero[] = {new ORVA_Value(static_cast<int32_t>(0))};
   EXPECT_EQ(original->run(nullptr, 1, zero), -1);
   EXPECT_EQ(resultOf(clone.get()), 150);
   EXPECT_EQ(original->getErrorInfo().code, ORVA_ERR_DIVIDE_BY_ZERO);
   EXPECT_EQ(clone->getErrorInfo().code, 0);
   EXPECT_STREQ(clone->getErrorText(), L"");
   ORVA_Value *five[] = {new ORVA_Value(static_cast<int32_t>(5))};
   ASSERT_EQ(original->run(nullptr, 1, five), 0);
   EXPECT_EQ(resultOf(original.get()), 27);
   EXPECT_EQ(resultOf(clone.get()), 150);

   // A clone of a clone shares the same code; the original may go first.
   std::unique_ptr<ORVA_Program> second(clone->clone());
   ASSERT_NE(second, nullptr);
   const ORVA_Instruction *first = original->getInstruction(0);
   original.reset();
   EXPECT_EQ(second->getInstruction(0), first);
   ORVA_Value *one[] = {new ORVA_Value(static_cast<int32_t>(1))};
   ASSERT_EQ(second->run(nullptr, 1, one), 0);
   EXPECT_EQ(resultOf(second.get()), 200);
}

TEST(Clone, SharedCodeCannotBeBuiltOn)
{
   std::unique_ptr<ORVA_Program> original(compile(L"sub f() { return 1; } return f();"));
   ASSERT_NE(original, nullptr);
   std::unique_ptr<ORVA_Program> clone(original->clone());
   ASSERT_NE(clone, nullptr);
   const uint32_t size = original->getCodeSize();
   const uint32_t functions = original->getFunctionCount();
   for (ORVA_Program *program : {original.get(), clone.get()})
   {
      program->addInstruction(new ORVA_Instruction(1, NOP));
      program->createJumpAt(0, 0);
      program->removeInstructions(0, 1);
      program->optimize();
      char error[64] = "";
      EXPECT_EQ(program->addFunction("g", 0, error, sizeof error), 0);
      program->addPreload(strdup("missing"));
      EXPECT_EQ(program->getCodeSize(), size);
      EXPECT_EQ(program->getFunctionCount(), functions);
      EXPECT_EQ(program->getPreloadCount(), 0u);
      ASSERT_EQ(program->run(nullptr, 0, nullptr), 0);
      EXPECT_EQ(resultOf(program), 1);
   }
}

// A host function of a run cannot clone the program under way; a clone made between runs
// can be.
TEST(Clone, NotDuringARunOfTheProgram)
{
   static const ORVA_ExtFunction functions[] = {{L"cloneRunning", cloneRunning, 0}};
   std::unique_ptr<ORVA_Program> program(compile(L"return cloneRunning();"));
   ASSERT_NE(program, nullptr);
   s_running = program.get();
   auto *environment = new ORVA_Environment();
   environment->registerFunctionSet(1, functions);
   ASSERT_EQ(program->run(environment, 0, nullptr), 0);
   EXPECT_EQ(resultOf(program.get()), 1);
   EXPECT_EQ(s_cloneDuringRun, nullptr);
   std::unique_ptr<ORVA_Program> clone(program->clone());
   EXPECT_NE(clone, nullptr);
}

// A CASE converts its constant to the type of the value switched on, and the constant keeps
// that type in later runs of the program. A program that shares its code does that to a
// copy of its own: the shared instruction stays as compiled, and other clones do not see it.
TEST(Clone, CaseConversionsStayWithTheProgramThatMadeThem)
{
   const wchar_t *source = L"switch ($1) { case 1: return 1; default: return 0; }";
   std::unique_ptr<ORVA_Program> alone(compile(source));
   std::unique_ptr<ORVA_Program> original(compile(source));
   ASSERT_NE(alone, nullptr);
   ASSERT_NE(original, nullptr);
   std::unique_ptr<ORVA_Program> clone(original->clone());
   ASSERT_NE(clone, nullptr);
   for (ORVA_Program *program : {alone.get(), clone.get()})
   {
      ORVA_Value *real[] = {new ORVA_Value(1.0)};
      ASSERT_EQ(program->run(nullptr, 1, real), 0);
      EXPECT_EQ(resultOf(program), 1);
   }
   EXPECT_EQ(firstCaseConstant(alone.get())->getDataType(), ORVA_DT_REAL);
   EXPECT_EQ(firstCaseConstant(original.get())->getDataType(), ORVA_DT_INT32);
   for (ORVA_Program *program : {original.get(), clone.get()})
   {
      ORVA_Value *integer[] = {new ORVA_Value(static_cast<int32_t>(1))};
      ASSERT_EQ(program->run(nullptr, 1, integer), 0);
      EXPECT_EQ(resultOf(program), 1);
   }
}
