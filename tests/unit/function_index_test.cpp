// The function table's hash index: it must answer exactly as a walk of the table from the
// start would, for thousands of functions, for repeated and cut names, and after the table
// has been cut back.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include <orva.h>

#include "vm/function_index.h"
#include "vm/opcodes.h"

namespace {

class ProgramProbe : public ORVA_Program
{
public:
   using ORVA_Program::getFunctionAddress;
};

ORVA_FunctionEntry entry(const std::wstring &name, uint32_t address)
{
   ORVA_FunctionEntry result;
   memset(&result, 0, sizeof(result));
   wcsncpy(result.name, name.c_str(), 63);
   result.address = address;
   return result;
}

TEST(FunctionIndex, FindsTheFirstEntryOfEachNameAmongThousands)
{
   std::vector<ORVA_FunctionEntry> table;
   for (uint32_t i = 0; i < 5000; i++)
      table.push_back(entry(L"f" + std::to_wstring(i), i));
   table.push_back(entry(L"f17", 9999));   // a later entry of a name already there
   ORVA_FunctionIndex index;
   ASSERT_TRUE(index.update(table.data(), static_cast<uint32_t>(table.size())));
   EXPECT_EQ(index.coveredCount(), table.size());
   for (uint32_t i = 0; i < 5000; i += 7)
      EXPECT_EQ(index.find(table.data(), (L"f" + std::to_wstring(i)).c_str()), i);
   EXPECT_EQ(index.find(table.data(), L"f17"), 17u);
   EXPECT_EQ(index.find(table.data(), L"f5000"), ORVA_INVALID_ADDRESS);
   EXPECT_EQ(index.find(table.data(), L""), ORVA_INVALID_ADDRESS);
   EXPECT_EQ(index.find(table.data(), L"F1"), ORVA_INVALID_ADDRESS);
}

TEST(FunctionIndex, FollowsATableThatGrowsAndShrinks)
{
   std::vector<ORVA_FunctionEntry> table = {entry(L"a", 1), entry(L"b", 2)};
   ORVA_FunctionIndex index;
   EXPECT_EQ(index.find(table.data(), L"a"), ORVA_INVALID_ADDRESS);   // nothing covered yet
   ASSERT_TRUE(index.update(table.data(), 2));
   table.push_back(entry(L"c", 3));   // may move the table
   ASSERT_TRUE(index.update(table.data(), 3));
   EXPECT_EQ(index.find(table.data(), L"c"), 2u);
   EXPECT_EQ(index.find(table.data(), L"a"), 0u);

   // Cut back to one entry, then a different second entry appended.
   table.resize(1);
   table.push_back(entry(L"d", 4));
   ASSERT_TRUE(index.update(table.data(), 1));
   EXPECT_EQ(index.coveredCount(), 1u);
   EXPECT_EQ(index.find(table.data(), L"b"), ORVA_INVALID_ADDRESS);
   ASSERT_TRUE(index.update(table.data(), 2));
   EXPECT_EQ(index.find(table.data(), L"d"), 1u);
   EXPECT_EQ(index.find(table.data(), L"c"), ORVA_INVALID_ADDRESS);
}

// Names are stored cut to 63 characters and compared whole: a longer name is registered
// under its first 63 characters, a call by the longer name finds nothing, a call by the
// 63 characters finds it.
TEST(FunctionIndex, ProgramKeepsTheCutNameRulesWithManyFunctions)
{
   ProgramProbe program;
   char message[256];
   for (int i = 0; i < 3000; i++)
   {
      std::string name = "fn" + std::to_string(i);
      ASSERT_EQ(program.addFunction(name.c_str(), static_cast<uint32_t>(i), message, sizeof(message)), 1);
   }
   std::string longName(70, 'g');
   ASSERT_EQ(program.addFunction(longName.c_str(), 7000, message, sizeof(message)), 1);
   EXPECT_EQ(program.addFunction(longName.c_str(), 7001, message, sizeof(message)), 1);   // 70 != 63 characters
   EXPECT_EQ(program.addFunction(longName.substr(0, 63).c_str(), 7002, message, sizeof(message)), 0);
   EXPECT_STREQ(message, ("Duplicate function name: \"" + longName.substr(0, 63) + "\"").c_str());
   EXPECT_EQ(program.addFunction("fn2999", 1, message, sizeof(message)), 0);
   EXPECT_STREQ(message, "Duplicate function name: \"fn2999\"");

   EXPECT_EQ(program.getFunctionAddress(L"fn1234"), 1234u);
   EXPECT_EQ(program.getFunctionAddress(std::wstring(63, L'g').c_str()), 7000u);
   EXPECT_EQ(program.getFunctionAddress(std::wstring(70, L'g').c_str()), ORVA_INVALID_ADDRESS);
   EXPECT_EQ(program.getFunctionAddress(L"length"), ORVA_INVALID_ADDRESS);
   EXPECT_EQ(program.getFunctionCount(), 3002u);
}

TEST(FunctionIndex, CompiledCallsBindToTheirFunctions)
{
   std::wstring source;
   for (int i = 0; i < 2000; i++)
      source += L"sub f" + std::to_wstring(i) + L"() { return " + std::to_wstring(i) + L"; }\n";
   source += L"x = f1999() + f0() + length(\"abc\") + g();\n";
   wchar_t error[256];
   ORVA_Program *program = ORVACompile(source.c_str(), error, 256);
   ASSERT_NE(program, nullptr) << error;
   std::vector<std::wstring> unbound;
   std::vector<uint32_t> bound;
   for (uint32_t i = 0; i < program->getCodeSize(); i++)
   {
      ORVA_Instruction *instruction = program->getInstruction(i);
      if (instruction->getOpcode() == CALL_ADDR)
         bound.push_back(instruction->getAddress());
      else if (instruction->getOpcode() == CALL_NAME)
         unbound.push_back(instruction->getNameOperand());
   }
   ASSERT_EQ(bound.size(), 2u);
   EXPECT_EQ(bound[0], program->getFunction(1999)->address);
   EXPECT_EQ(bound[1], program->getFunction(0)->address);
   EXPECT_EQ(unbound, (std::vector<std::wstring>{L"length", L"g"}));
   delete program;
}

}  // namespace
