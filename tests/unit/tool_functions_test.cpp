// ORVARegisterToolFunctions: the functions for tool scripts are opt-in, come after the
// host's own functions, and readline reads the environment's input stream.
#include <gtest/gtest.h>

#include <orva.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

int hostSplit(int, ORVA_Value **, ORVA_Value **result, ORVA_Program *)
{
   *result = new ORVA_Value("host");
   return 0;
}

// Runs `source` in `environment` (which the run takes over); the printed output, or the
// error text.
std::string run(const wchar_t *source, ORVA_Environment *environment)
{
   ORVA_Program *program = ORVACompile(source, nullptr, 0);
   EXPECT_NE(program, nullptr);
   char *buffer = nullptr;
   size_t size = 0;
   FILE *out = open_memstream(&buffer, &size);
   environment->setIO(environment->getStdIn(), out);
   std::string result;
   if (program->run(environment, 0, nullptr) != 0)
   {
      const wchar_t *error = program->getErrorText();
      result.assign(error, error + wcslen(error));
   }
   fclose(out);
   result = std::string(buffer, size) + result;
   free(buffer);
   delete program;
   return result;
}

TEST(ToolFunctions, AreNotPartOfTheDefaultTable)
{
   ORVA_Environment environment;
   for (const wchar_t *name : {L"readline", L"format", L"round", L"split", L"join", L"replace", L"count", L"keys"})
      EXPECT_EQ(environment.findFunction(name), nullptr) << name;
   EXPECT_EQ(run(L"println count(1);", new ORVA_Environment()), "Error 11 in line 1: Function not found");
}

TEST(ToolFunctions, HostFunctionOfTheSameNameWins)
{
   auto *environment = new ORVA_Environment();
   ORVA_ExtFunction functions[] = {{L"split", hostSplit, 2}};
   environment->registerFunctionSet(1, functions);
   ORVARegisterToolFunctions(environment);
   EXPECT_EQ(run(L"println split(\"a,b\", \",\") . \" \" . count(keys(array_of()));"
                 L"sub array_of() { array a; a[3] = 1; return a; }",
                 environment),
             "host 1\n");
}

TEST(ToolFunctions, ReadlineReadsTheEnvironmentsInputUntilItsEnd)
{
   // The empty line reads as the int32 0, as every empty text does.
   std::string input = "one\r\ntwo\n\n3";
   FILE *in = fmemopen(input.data(), input.size(), "r");
   auto *environment = new ORVA_Environment();
   environment->setIO(in, nullptr);
   ORVARegisterToolFunctions(environment);
   EXPECT_EQ(run(L"while (typeof(l = readline()) != \"null\") print \"[\" . l . \"]\" . typeof(l); println;",
                 environment),
             "[one]string[two]string[]int32[3]int32\n");
   fclose(in);

   auto *noInput = new ORVA_Environment();
   ORVARegisterToolFunctions(noInput);
   EXPECT_EQ(run(L"println typeof(readline());", noInput), "null\n");
}

}  // namespace
