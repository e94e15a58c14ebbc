// What a host learns about a failed run beside the error text: the code, the line, the
// module that holds it and the script call stack, and what the error is about.
#include <orva.h>

#include <gtest/gtest.h>

#include "compile_script.h"

#include <string>
#include <vector>

namespace {

struct Frame
{
   std::wstring function;
   std::wstring module;
   int line;
};

std::vector<Frame> framesOf(const ORVA_ErrorInfo &info)
{
   std::vector<Frame> frames;
   for (const ORVA_StackFrame &frame : info.callStack)
      frames.push_back({frame.function, frame.module, frame.line});
   return frames;
}

bool operator==(const Frame &a, const Frame &b)
{
   return a.function == b.function && a.module == b.module && a.line == b.line;
}

}  // namespace

TEST(ErrorInfo, ErrorInModuleCodeNamesTheModuleAndTheCalls)
{
   ORVA_Library library;
   ASSERT_EQ(library.addScript(1, L"helpers", compile(L"sub fail(x)\n{\n   return x + \"abc\";\n}\n")), 1);
   ORVA_Program *program = compile(L"use Helpers;\nsub outer()\n{\n   return fail(1);\n}\nx = 1;\nouter();\n");
   ORVA_Environment *environment = new ORVA_Environment();
   environment->setLibrary(&library);
   ASSERT_EQ(program->run(environment, 0, nullptr), -1);

   EXPECT_STREQ(program->getErrorText(), L"Error 4 in line 3: Bad arithmetic conversion");
   const ORVA_ErrorInfo &info = program->getErrorInfo();
   EXPECT_EQ(info.code, ORVA_ERR_BAD_ARITHMETIC_CONVERSION);
   EXPECT_EQ(info.line, 3);
   EXPECT_EQ(info.module, L"Helpers");
   const std::vector<Frame> expected = {{L"fail", L"Helpers", 3}, {L"outer", L"", 4}, {L"$main", L"", 7}};
   EXPECT_EQ(framesOf(info), expected);
   delete program;
}

TEST(ErrorInfo, NamesWhatTheErrorIsAbout)
{
   struct Case { const wchar_t *source; const wchar_t *entry; int code; const wchar_t *name; int line; size_t frames; };
   const Case cases[] = {
      {L"x = 1;\nnosuch(2);", nullptr, ORVA_ERR_FUNCTION_NOT_FOUND, L"nosuch", 2, 1},
      {L"sub main() { return g(); }\nsub g()\n{\n   return substr(\"abc\", 1.5);\n}", nullptr,
       ORVA_ERR_NOT_AN_INTEGER, L"substr", 4, 2},
      {L"return abs(1, 2);", nullptr, ORVA_ERR_INVALID_ARGUMENT_COUNT, L"abs", 1, 1},
      {L"t = gmtime(0);\nreturn t->Year;", nullptr, ORVA_ERR_UNKNOWN_ATTRIBUTE, L"Year", 2, 1},
      {L"return 1;", L"zz", ORVA_ERR_NO_MAIN, L"zz", 0, 0},
      {L"use no_such_module_here;\nreturn 1;", nullptr, ORVA_ERR_MODULE_NOT_FOUND, L"no_such_module_here", 0, 0},
      {L"x = 1;\nreturn x + \"a\";", nullptr, ORVA_ERR_BAD_ARITHMETIC_CONVERSION, L"", 2, 1},
   };
   for (const Case &c : cases)
   {
      ORVA_Program *program = compile(c.source);
      ASSERT_EQ(program->run(nullptr, 0, nullptr, nullptr, nullptr, nullptr, c.entry), -1) << c.source;
      const ORVA_ErrorInfo &info = program->getErrorInfo();
      EXPECT_EQ(info.code, c.code) << c.source;
      EXPECT_EQ(info.name, c.name) << c.source;
      EXPECT_EQ(info.line, c.line) << c.source;
      EXPECT_EQ(info.module, L"") << c.source;
      EXPECT_EQ(info.callStack.size(), c.frames) << c.source;
      delete program;
   }
}

TEST(ErrorInfo, EntryFunctionIsTheOutermostFrame)
{
   ORVA_Program *program = compile(L"sub main()\n{\n   return g(0);\n}\nsub g(n)\n{\n   return n % 0;\n}");
   ASSERT_EQ(program->run(nullptr, 0, nullptr), -1);
   const std::vector<Frame> expected = {{L"g", L"", 7}, {L"main", L"", 3}};
   EXPECT_EQ(framesOf(program->getErrorInfo()), expected);
   delete program;
}

// A host function that runs the program it was called from: the inner run is refused with
// its own error, the outer one goes on, and its own good end clears the text.
static std::wstring s_innerError;
static int s_innerReturn = 0;

static int runAgain(int, ORVA_Value **, ORVA_Value **result, ORVA_Program *program)
{
   ORVA_Value *argv[] = {new ORVA_Value(1)};
   s_innerReturn = program->run(nullptr, 1, argv);
   s_innerError = program->getErrorText();
   *result = new ORVA_Value(static_cast<int32_t>(s_innerReturn));
   return 0;
}

TEST(ErrorInfo, RunFromItsOwnHandlerIsRefusedWithACode)
{
   ORVA_Program *program = compile(L"x = again();\nreturn x . \" done\";");
   ORVA_Environment *environment = new ORVA_Environment();
   const ORVA_ExtFunction again = {L"again", runAgain, 0};
   environment->registerFunctionSet(1, &again);
   ASSERT_EQ(program->run(environment, 0, nullptr), 0);
   EXPECT_EQ(s_innerReturn, -1);
   EXPECT_EQ(s_innerError, L"Error 33 in line 0: Program is already running");
   EXPECT_STREQ(program->getResult()->getValueAsCString(), L"-1 done");
   EXPECT_EQ(program->getErrorInfo().code, 0);   // the outer run ended well
   delete program;
}

// A program that keeps its globals: the top-level code runs once, then calls by name see
// and change the globals it set up; a failed call changes nothing.
TEST(KeepGlobals, EventHandlerCountsInAGlobal)
{
   ORVA_Program *program = compile(L"global count = 0;\nsub onEvent(step)\n{\n   count = count + step;\n   return count;\n}");
   program->setKeepGlobals(true);
   ASSERT_EQ(program->run(nullptr, 0, nullptr), 0);
   for (int32_t expected : {1, 2, 3})
   {
      ORVA_Value *argv[] = {new ORVA_Value(1)};
      ASSERT_EQ(program->call(L"onEvent", 1, argv), 0);
      EXPECT_EQ(program->getResult()->getValueAsInt32(), expected);
   }
   ORVA_Value *bad[] = {new ORVA_Value(L"x")};
   EXPECT_EQ(program->call(L"onEvent", 1, bad), -1);
   EXPECT_EQ(program->findGlobalVariable(L"count")->getValue()->getValueAsInt32(), 3);

   ORVA_VariableSystem *received = nullptr;
   ORVA_Value *argv[] = {new ORVA_Value(2)};
   ASSERT_EQ(program->run(nullptr, 1, argv, nullptr, &received, nullptr, L"onEvent"), 0);
   ASSERT_NE(received, nullptr);
   EXPECT_EQ(received->find(L"count")->getValue()->getValueAsInt32(), 5);
   EXPECT_EQ(program->findGlobalVariable(L"count")->getValue()->getValueAsInt32(), 5);
   delete received;

   EXPECT_EQ(program->call(L"noSuch", 0, nullptr), -1);
   EXPECT_EQ(program->getErrorInfo().name, L"noSuch");
   program->setKeepGlobals(false);
   ORVA_Value *once[] = {new ORVA_Value(1)};
   ASSERT_EQ(program->call(L"onEvent", 1, once), 0);
   EXPECT_EQ(program->findGlobalVariable(L"count")->getValue()->getValueAsInt32(), 5);
   delete program;
}
