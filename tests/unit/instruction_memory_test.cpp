// Instructions carved from per-thread blocks: they keep their contents however they are made
// and deleted, also when a block outlives the thread that made it or its instructions are
// deleted on other threads.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <orva.h>

#include "platform/platform.h"
#include "vm/instruction_memory.h"
#include "vm/opcodes.h"

namespace {

// Instructions with distinct contents: line i, a JMP to i.
std::vector<ORVA_Instruction *> makeJumps(uint32_t count, uint32_t first = 0)
{
   std::vector<ORVA_Instruction *> made;
   for (uint32_t i = first; i < first + count; i++)
      made.push_back(new ORVA_Instruction(static_cast<int>(i), JMP, i));
   return made;
}

void expectJumps(const std::vector<ORVA_Instruction *> &made, uint32_t first = 0)
{
   for (uint32_t i = 0; i < made.size(); i++)
   {
      ASSERT_EQ(made[i]->getLine(), static_cast<int>(first + i));
      ASSERT_EQ(made[i]->getAddress(), first + i);
      ASSERT_EQ(reinterpret_cast<uintptr_t>(made[i]) % alignof(ORVA_Instruction), 0u);
   }
}

void deleteAll(const std::vector<ORVA_Instruction *> &made)
{
   for (ORVA_Instruction *instruction : made)
      delete instruction;
}

TEST(InstructionMemory, ManyInstructionsKeepTheirContentsThroughMixedDeletes)
{
   std::vector<ORVA_Instruction *> made = makeJumps(20000);
   expectJumps(made);
   // Delete every other one, make more, and check that nothing was overwritten.
   std::vector<ORVA_Instruction *> kept;
   for (size_t i = 0; i < made.size(); i++)
   {
      if (i % 2 == 0)
         delete made[i];
      else
         kept.push_back(made[i]);
   }
   std::vector<ORVA_Instruction *> more = makeJumps(20000, 100000);
   for (size_t i = 0; i < kept.size(); i++)
      ASSERT_EQ(kept[i]->getAddress(), 2 * i + 1);
   expectJumps(more, 100000);
   deleteAll(kept);
   deleteAll(more);
}

TEST(InstructionMemory, OwnedOperandsAreReleasedWithTheInstruction)
{
   auto *named = new ORVA_Instruction(3, PUSH_VAR, strdup("name"));
   auto *constant = new ORVA_Instruction(4, PUSH_CONST, new ORVA_Value(7));
   EXPECT_STREQ(named->getNameOperand(), L"name");
   EXPECT_EQ(constant->getConstant()->getValueAsInt32(), 7);
   delete named;
   delete constant;
   delete static_cast<ORVA_Instruction *>(nullptr);
}

// Constants the compiler makes share their instruction's piece: each reads as made, a copy
// (a module linked into a program) is a constant of its own, deleting the instruction ends
// the constant without handing its memory to the value pool, and a constant whose
// instruction is never made is discarded alone.
TEST(InstructionMemory, CompiledConstantsLiveAndEndWithTheirInstruction)
{
   std::vector<ORVA_Instruction *> made;
   std::vector<const ORVA_Value *> constants;
   for (int i = 0; i < 3000; i++)
   {
      ORVA_Value *constant = (i % 3 == 0)   ? newCompiledConstant(static_cast<int32_t>(i))
                             : (i % 3 == 1) ? newCompiledConstant("text of a constant")
                                            : newCompiledConstant();
      made.push_back(instructionWithCompiledConstant(i, PUSH_CONST, constant));
      constants.push_back(constant);
      if (i % 100 == 0)
         discardCompiledConstant(newCompiledConstant("never used"));
   }
   for (size_t i = 0; i < made.size(); i++)
   {
      ASSERT_EQ(made[i]->getConstant(), constants[i]);
      ASSERT_EQ(made[i]->getLine(), static_cast<int>(i));
   }
   auto *copy = new ORVA_Instruction(made[1]);
   EXPECT_NE(copy->getConstant(), made[1]->getConstant());
   EXPECT_STREQ(copy->getConstant()->getValueAsCString(), L"text of a constant");
   EXPECT_EQ(made[3]->getConstant()->getValueAsInt32(), 3);
   EXPECT_EQ(made[2]->getConstant()->getDataType(), ORVA_DT_NULL);
   for (size_t i = 0; i < made.size(); i += 2)
      delete made[i];
   delete copy;
   // Values made now come from the pool: never from where a compiled constant stood.
   std::vector<ORVA_Value *> values;
   for (int i = 0; i < 3000; i++)
      values.push_back(new ORVA_Value(i));
   for (ORVA_Value *value : values)
      for (size_t i = 0; i < constants.size(); i += 2)
         ASSERT_NE(value, constants[i]);
   for (ORVA_Value *value : values)
      delete value;
   for (size_t i = 1; i < made.size(); i += 2)
   {
      EXPECT_EQ(made[i]->getLine(), static_cast<int>(i));
      delete made[i];
   }
   discardCompiledConstant(nullptr);
}

// Names are converted into the instruction blocks; they must read exactly as the platform's
// UTF-8 conversion reads them, short, long (a block of their own) or not ASCII.
TEST(InstructionMemory, NamesReadAsThePlatformConversionReadsThem)
{
   const std::string names[] = {
      "", "x", "eight_ch", "name_of_16_chars", "caf\xC3\xA9", "\xE2\x82\xAC_euro",
      "bad\xFF\xFE" "bytes", "cut\xE2\x82", std::string(700, 'n'), std::string(5000, 'm') + "\xC3\xA9",
   };
   std::vector<ORVA_Instruction *> made;
   for (const std::string &name : names)
   {
      SCOPED_TRACE(name.substr(0, 20));
      wchar_t *expected = WideStringFromUTF8String(name.c_str());
      ASSERT_NE(expected, nullptr);
      auto *instruction = new ORVA_Instruction(1, PUSH_VAR, strdup(name.c_str()));
      auto *copy = new ORVA_Instruction(instruction);
      EXPECT_STREQ(instruction->getNameOperand(), expected);
      EXPECT_STREQ(copy->getNameOperand(), expected);
      free(expected);
      made.push_back(instruction);
      made.push_back(copy);
   }
   auto *unnamed = new ORVA_Instruction(2, SET, static_cast<char *>(nullptr));
   EXPECT_EQ(unnamed->getNameOperand(), nullptr);
   delete unnamed;
   deleteAll(made);
}

// Bulk scopes (large compilations) nest, and what they made outlives them; made on
// threads, deleted on this one.
TEST(InstructionMemory, BulkScopesNestAndTheirInstructionsOutliveThem)
{
   std::vector<ORVA_Instruction *> before = makeJumps(100);
   std::vector<ORVA_Instruction *> outer, inner, off, after;
   {
      ORVA_InstructionBulk bulk(true);
      outer = makeJumps(100000, 1000);
      {
         ORVA_InstructionBulk nested(true);
         inner = makeJumps(10, 5);
      }
      {
         ORVA_InstructionBulk disabled(false);
         off = makeJumps(10, 6);
      }
   }
   after = makeJumps(100, 9);
   deleteAll(before);
   expectJumps(outer, 1000);
   expectJumps(inner, 5);
   expectJumps(off, 6);
   expectJumps(after, 9);
   deleteAll(inner);
   deleteAll(outer);
   deleteAll(off);
   deleteAll(after);

   std::vector<ORVA_Instruction *> threaded;
   std::thread maker([&threaded] {
      ORVA_InstructionBulk bulk(true);
      threaded = makeJumps(50000, 3);
   });
   maker.join();
   expectJumps(threaded, 3);
   deleteAll(threaded);
}

// In a bulk scope, instructions of one name share it: each keeps it readable whichever of
// them goes first, before or after the scope ends, also on another thread, and names that
// only begin alike stay apart.
TEST(InstructionMemory, SharedNamesLiveAsLongAsTheirLastInstruction)
{
   std::vector<ORVA_Instruction *> made;
   {
      ORVA_InstructionBulk bulk(true);
      for (int i = 0; i < 30000; i++)
         made.push_back(new ORVA_Instruction(i, PUSH_VAR, strdup((i % 3 == 2) ? "counter2" : "counter")));
      for (size_t i = 0; i < made.size(); i += 2)
      {
         delete made[i];
         made[i] = nullptr;
      }
   }
   std::thread deleter([&made] {
      for (size_t i = 1; i < made.size(); i += 4)
      {
         delete made[i];
         made[i] = nullptr;
      }
   });
   deleter.join();
   for (size_t i = 0; i < made.size(); i++)
   {
      if (made[i] == nullptr)
         continue;
      EXPECT_STREQ(made[i]->getNameOperand(), (i % 3 == 2) ? L"counter2" : L"counter") << i;
      delete made[i];
   }
}

TEST(InstructionMemory, InstructionsOutliveTheThreadThatMadeThem)
{
   std::vector<ORVA_Instruction *> made;
   std::thread maker([&made] { made = makeJumps(5000); });
   maker.join();
   expectJumps(made);
   deleteAll(made);
}

TEST(InstructionMemory, InstructionsAreDeletedOnOtherThreadsAtOnce)
{
   std::vector<ORVA_Instruction *> made = makeJumps(40000);
   std::vector<std::thread> deleters;
   for (size_t part = 0; part < 4; part++)
   {
      deleters.emplace_back([&made, part] {
         // Interleaved, so that the threads share blocks.
         for (size_t i = part; i < made.size(); i += 4)
            delete made[i];
      });
   }
   // This thread keeps making instructions in the meantime.
   std::vector<ORVA_Instruction *> more = makeJumps(10000, 7);
   for (std::thread &deleter : deleters)
      deleter.join();
   expectJumps(more, 7);
   deleteAll(more);
}

TEST(InstructionMemory, CompiledProgramsOnThreadsAreIndependent)
{
   std::vector<ORVA_Program *> programs(4, nullptr);
   std::vector<std::thread> compilers;
   for (size_t n = 0; n < programs.size(); n++)
   {
      compilers.emplace_back([&programs, n] {
         std::wstring source;
         // Large enough (over 256 KB) to be compiled in bulk.
         for (int i = 0; i < 8000; i++)
            source += L"x = x + " + std::to_wstring(n) + L"; if (x > 3) { y = x; }\n";
         programs[n] = ORVACompile(source.c_str(), nullptr, 0);
      });
   }
   for (std::thread &compiler : compilers)
      compiler.join();
   for (size_t n = 0; n < programs.size(); n++)
   {
      ASSERT_NE(programs[n], nullptr);
      ASSERT_GT(programs[n]->getCodeSize(), 2u);
      EXPECT_EQ(programs[n]->getInstruction(1)->getConstant()->getValueAsInt32(), static_cast<int32_t>(n));
   }
   // Deleted on this thread, in another order than made.
   for (size_t n = programs.size(); n > 0; n--)
      delete programs[n - 1];
}

}  // namespace
