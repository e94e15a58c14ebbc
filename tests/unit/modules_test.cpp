// Module linking: ORVA_Program::useModule inspected directly (code, relocated addresses,
// function entries), ORVA_Environment::useModule finding modules in a library or a file,
// and modules used by running scripts.
#include <gtest/gtest.h>

#include "compile_script.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <string>
#include <vector>

#include <orva.h>

using namespace ORVA_Op;

namespace {

char *dupName(const char *name)
{
   return strdup(name);
}

// A module of five instructions: "$main" at 0, f at 2, with a resolved call, a jump, an
// unresolved call and a constant.
ORVA_Program *makeModule()
{
   auto *module = new ORVA_Program();
   module->addInstruction(new ORVA_Instruction(1, CALL_ADDR, static_cast<uint32_t>(2)));
   module->addInstruction(new ORVA_Instruction(2, NRET));
   module->addInstruction(new ORVA_Instruction(3, JZ, static_cast<uint32_t>(4)));
   module->addInstruction(new ORVA_Instruction(4, CALL_NAME, dupName("helper"), 1));
   module->addInstruction(new ORVA_Instruction(5, PUSH_CONST, new ORVA_Value(L"text")));
   module->addFunction("$main", 0, nullptr, 0);
   module->addFunction("f", 2, nullptr, 0);
   return module;
}

// A program of three instructions with "$main" at 0 and g at 1.
void fillProgram(ORVA_Program &program)
{
   program.addInstruction(new ORVA_Instruction(1, NOP));
   program.addInstruction(new ORVA_Instruction(2, JMP, static_cast<uint32_t>(0)));
   program.addInstruction(new ORVA_Instruction(3, NRET));
   program.addFunction("$main", 0, nullptr, 0);
   program.addFunction("g", 1, nullptr, 0);
}

TEST(ProgramUseModule, AppendsRelocatedCodeAndFunctionEntries)
{
   ORVA_Program program;
   fillProgram(program);
   ORVA_Program *module = makeModule();
   program.useModule(module, L"Util");
   delete module;   // linking copied everything

   ASSERT_EQ(program.getCodeSize(), 8u);
   EXPECT_EQ(program.getInstruction(1)->getAddress(), 0u);   // the program's own code stays
   EXPECT_EQ(program.getInstruction(3)->getOpcode(), CALL_ADDR);
   EXPECT_EQ(program.getInstruction(3)->getAddress(), 5u);
   EXPECT_EQ(program.getInstruction(3)->getLine(), 1);
   EXPECT_EQ(program.getInstruction(5)->getAddress(), 7u);
   EXPECT_STREQ(program.getInstruction(6)->getNameOperand(), L"helper");
   EXPECT_EQ(program.getInstruction(6)->getIntOperand(), 1);
   EXPECT_STREQ(program.getInstruction(7)->getConstant()->getValueAsCString(), L"text");

   ASSERT_EQ(program.getFunctionCount(), 4u);
   EXPECT_STREQ(program.getFunction(2)->name, L"$main");
   EXPECT_EQ(program.getFunction(2)->address, 3u);
   EXPECT_STREQ(program.getFunction(3)->name, L"f");
   EXPECT_EQ(program.getFunction(3)->address, 5u);
}

TEST(ProgramUseModule, LinksEachNameOnceIgnoringCase)
{
   ORVA_Program program;
   fillProgram(program);
   ORVA_Program *first = makeModule();
   ORVA_Program *second = makeModule();
   program.useModule(first, L"Util");
   program.useModule(first, L"UTIL");
   EXPECT_EQ(program.getCodeSize(), 8u);
   EXPECT_EQ(program.getFunctionCount(), 4u);

   program.useModule(second, L"other");
   EXPECT_EQ(program.getCodeSize(), 13u);
   EXPECT_EQ(program.getInstruction(8)->getAddress(), 10u);   // relocated by its own start
   program.useModule(first, L"util");   // the first entry is still there
   EXPECT_EQ(program.getCodeSize(), 13u);
   EXPECT_EQ(program.getFunctionCount(), 6u);
   delete first;
   delete second;
}

TEST(ProgramUseModule, AnOpenAddressStaysOpen)
{
   ORVA_Program program;
   fillProgram(program);
   ORVA_Program module;
   module.addInstruction(new ORVA_Instruction(1, JNZ, ORVA_INVALID_ADDRESS));
   program.useModule(&module, L"m");
   EXPECT_EQ(program.getInstruction(3)->getAddress(), ORVA_INVALID_ADDRESS);
}

TEST(ProgramUseModule, AProgramCanLinkItself)
{
   ORVA_Program program;
   fillProgram(program);
   for (int i = 0; i < 40; i++)   // enough to make the code array grow while copying
      program.addInstruction(new ORVA_Instruction(4, JMP, static_cast<uint32_t>(i)));
   program.useModule(&program, L"self");
   ASSERT_EQ(program.getCodeSize(), 86u);
   EXPECT_EQ(program.getInstruction(43 + 1)->getAddress(), 43u);
   EXPECT_EQ(program.getInstruction(85)->getAddress(), 39u + 43u);
   ASSERT_EQ(program.getFunctionCount(), 4u);
   EXPECT_EQ(program.getFunction(3)->address, 44u);
}

TEST(EnvironmentUseModule, TakesTheLibraryScriptFirst)
{
   ORVA_Library library;
   library.addScript(1, L"Util", makeModule());
   ORVA_Environment environment;
   environment.setLibrary(&library);

   ORVA_Program program;
   fillProgram(program);
   EXPECT_EQ(environment.useModule(&program, L"util"), 1);
   EXPECT_EQ(program.getCodeSize(), 8u);
   EXPECT_EQ(library.findScript(L"util")->getCodeSize(), 5u);   // the library keeps its program
   EXPECT_EQ(environment.useModule(&program, L"UTIL"), 1);      // already linked
   EXPECT_EQ(program.getCodeSize(), 8u);
}

TEST(EnvironmentUseModule, MissingOrOverlongNamesAreNotFound)
{
   ORVA_Environment environment;
   ORVA_Program program;
   fillProgram(program);
   EXPECT_EQ(environment.useModule(&program, L"no_such_module_here"), 0);
   std::wstring longName(300, L'm');
   EXPECT_EQ(environment.useModule(&program, longName.c_str()), 0);
   std::wstring edge(255, L'e');   // 255 + ".orva" does not fit in 260 with the terminator
   EXPECT_EQ(environment.useModule(&program, edge.c_str()), 0);
   EXPECT_EQ(program.getCodeSize(), 3u);
}

// Writes a module file into a fresh directory and returns the module name (the path
// without ".orva"), which the environment resolves as written.
class ModuleFiles : public testing::Test
{
protected:
   void SetUp() override
   {
      char pattern[] = "/tmp/orva_modules_XXXXXX";
      ASSERT_NE(mkdtemp(pattern), nullptr);
      m_directory = pattern;
   }
   void TearDown() override
   {
      for (const std::string &file : m_files)
         unlink(file.c_str());
      rmdir(m_directory.c_str());
   }
   std::wstring writeModule(const std::string &name, const std::string &text)
   {
      std::string path = m_directory + "/" + name + ".orva";
      FILE *file = fopen(path.c_str(), "wb");
      fputs(text.c_str(), file);
      fclose(file);
      m_files.push_back(path);
      std::string base = m_directory + "/" + name;
      return std::wstring(base.begin(), base.end());
   }

   std::string m_directory;
   std::vector<std::string> m_files;
};

TEST_F(ModuleFiles, CompilesAModuleFile)
{
   std::wstring name = writeModule("m", "sub triple(x) { return x * 3; }\n");
   ORVA_Environment environment;
   ORVA_Program program;
   fillProgram(program);
   EXPECT_EQ(environment.useModule(&program, name.c_str()), 1);
   EXPECT_GT(program.getCodeSize(), 3u);
   bool found = false;
   for (uint32_t i = 2; i < program.getFunctionCount(); i++)
      found = found || wcscmp(program.getFunction(i)->name, L"triple") == 0;
   EXPECT_TRUE(found);

   // Linked once: the same name in other letter case is not looked up as a file again.
   uint32_t codeSize = program.getCodeSize();
   std::wstring upper = name;
   for (wchar_t &c : upper)
      c = static_cast<wchar_t>(towupper(c));
   EXPECT_TRUE(program.hasModule(upper.c_str()));
   EXPECT_FALSE(program.hasModule(L"other"));
   EXPECT_EQ(environment.useModule(&program, upper.c_str()), 1);
   EXPECT_EQ(program.getCodeSize(), codeSize);
}

TEST_F(ModuleFiles, AModuleWithASyntaxErrorIsNotLinked)
{
   std::wstring name = writeModule("bad", "sub broken( { \n");
   ORVA_Environment environment;
   ORVA_Program program;
   fillProgram(program);
   EXPECT_EQ(environment.useModule(&program, name.c_str()), 0);
   EXPECT_EQ(program.getCodeSize(), 3u);
}

TEST(ModulesInARun, LibraryModulesAreLinkedForEachRunAndRemovedAfterIt)
{
   ORVA_Library library;
   library.addScript(1, L"Util", compile(L"sub f(x) { return x * 10 + g(); } sub g() { return 1; }"));
   ORVA_Program *program = compile(L"use util; use UTIL; sub g() { return 5; } return f(4) + g();");
   ASSERT_NE(program, nullptr);
   uint32_t codeSize = program->getCodeSize();
   uint32_t functionCount = program->getFunctionCount();

   for (int run = 0; run < 2; run++)
   {
      auto *environment = new ORVA_Environment();
      environment->setLibrary(&library);
      ASSERT_EQ(program->run(environment, 0, nullptr), 0) << run;
      // The module's own call to g reaches the module's g (41); the script's g gives 5.
      EXPECT_EQ(program->getResult()->getValueAsInt32(), 46);
      EXPECT_EQ(program->getCodeSize(), codeSize);
      EXPECT_EQ(program->getFunctionCount(), functionCount);
   }
   delete program;
}

TEST(ModulesInARun, AMissingModuleStopsTheRunBeforeAnyCode)
{
   ORVA_Program *program = compile(L"global ran = 1; use nowhere_to_be_found; return 1;");
   ASSERT_NE(program, nullptr);
   ORVA_VariableSystem *globals = nullptr;
   EXPECT_EQ(program->run(nullptr, 0, nullptr, nullptr, &globals), -1);
   EXPECT_STREQ(program->getErrorText(), L"Error 16 in line 0: Requested module not found or cannot be loaded");
   ASSERT_NE(globals, nullptr);
   EXPECT_EQ(globals->find(L"ran"), nullptr);
   delete globals;
   delete program;
}

}  // namespace
