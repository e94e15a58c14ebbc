// The program image: instruction records, building operations, the function table and
// the bytecode listing.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include <orva.h>

#include "vm/opcodes.h"

namespace {

// Exposes the protected lookups the tests check.
class ProgramProbe : public ORVA_Program
{
public:
   using ORVA_Program::getFunctionAddress;
};

char *dupName(const char *name)
{
   return strdup(name);
}

std::string dumpOf(ORVA_Program &program)
{
   char *buffer = nullptr;
   size_t size = 0;
   FILE *stream = open_memstream(&buffer, &size);
   program.dump(stream);
   fclose(stream);
   std::string text(buffer, size);
   free(buffer);
   return text;
}

TEST(OpcodeTable, HasOneRowPerOpcodeWithItsMnemonic)
{
   ASSERT_EQ(kOpcodeTableSize, 57);
   EXPECT_STREQ(mnemonicOf(NOP), "NOP");
   EXPECT_STREQ(mnemonicOf(CALL_ADDR), "CALL");
   EXPECT_STREQ(mnemonicOf(CALL_NAME), "CALL");
   EXPECT_STREQ(mnemonicOf(PUSH_CONST), "PUSH");
   EXPECT_STREQ(mnemonicOf(PUSH_VAR), "PUSH");
   EXPECT_STREQ(mnemonicOf(FOREACH), "FOREACH");
   EXPECT_STREQ(mnemonicOf(GARRAY), "GARRAY");
   int addressCarriers = 0;
   int owners = 0;
   for (int op = 0; op < kOpcodeTableSize; op++)
   {
      EXPECT_LE(strlen(mnemonicOf(op)), 7u) << op;
      if (carriesAddress(op))
         addressCarriers++;
      ORVA_OperandKind kind = operandKindOf(op);
      if (kind == ORVA_OperandKind::Name || kind == ORVA_OperandKind::Constant)
         owners++;
   }
   EXPECT_EQ(addressCarriers, 4);   // JMP, JZ, JNZ, CALL_ADDR
   EXPECT_EQ(owners, 16);           // the opcodes whose instructions own a name or constant
   EXPECT_EQ(operandKindOf(-1), ORVA_OperandKind::None);
   EXPECT_EQ(operandKindOf(57), ORVA_OperandKind::None);
}

TEST(Instruction, ConstructorsFillTheirOperands)
{
   ORVA_Instruction plain(3, NOP);
   EXPECT_EQ(plain.getLine(), 3);
   EXPECT_EQ(plain.getOpcode(), NOP);
   EXPECT_EQ(plain.getIntOperand(), 0);

   ORVA_Instruction named(4, SET, dupName("gr\xC3\xBC\xC3\x9F"));
   EXPECT_STREQ(named.getNameOperand(), L"gr\u00FC\u00DF");
   EXPECT_EQ(named.getIntOperand(), 0);

   ORVA_Instruction call(5, CALL_NAME, dupName("f"), 2);
   EXPECT_STREQ(call.getNameOperand(), L"f");
   EXPECT_EQ(call.getIntOperand(), 2);

   ORVA_Instruction jump(6, JMP, static_cast<uint32_t>(0x12345));
   EXPECT_EQ(jump.getAddress(), 0x12345u);

   ORVA_Instruction pop(7, POP, 3);
   EXPECT_EQ(pop.getIntOperand(), 3);

   ORVA_Instruction push(8, PUSH_CONST, new ORVA_Value(static_cast<int32_t>(42)));
   EXPECT_EQ(push.getConstant()->getValueAsInt32(), 42);
}

TEST(Instruction, CopyOwnsItsOwnOperand)
{
   auto *source = new ORVA_Instruction(9, PUSH_CONST, new ORVA_Value(L"abc"));
   ORVA_Instruction copy(source);
   EXPECT_NE(copy.getConstant(), source->getConstant());
   delete source;
   EXPECT_EQ(copy.getLine(), 9);
   EXPECT_EQ(copy.getOpcode(), PUSH_CONST);
   EXPECT_STREQ(copy.getConstant()->getValueAsCString(), L"abc");

   auto *call = new ORVA_Instruction(10, CALL_NAME, dupName("name"), 3);
   ORVA_Instruction callCopy(call);
   EXPECT_NE(callCopy.getNameOperand(), call->getNameOperand());
   delete call;
   EXPECT_STREQ(callCopy.getNameOperand(), L"name");
   EXPECT_EQ(callCopy.getIntOperand(), 3);

   ORVA_Instruction jump(11, JZ, static_cast<uint32_t>(77));
   ORVA_Instruction jumpCopy(&jump);
   EXPECT_EQ(jumpCopy.getAddress(), 77u);
   EXPECT_EQ(jumpCopy.getOpcode(), JZ);

   ORVA_Instruction global(12, GLOBAL, dupName("g"), 1);
   ORVA_Instruction globalCopy(&global);
   EXPECT_STREQ(globalCopy.getNameOperand(), L"g");
   EXPECT_EQ(globalCopy.getIntOperand(), 1);
}

TEST(Program, StartsEmpty)
{
   ORVA_Program program;
   EXPECT_EQ(program.getCodeSize(), 0u);
   EXPECT_EQ(program.getFunctionCount(), 0u);
   EXPECT_EQ(program.getPreloadCount(), 0u);
   ASSERT_NE(program.getErrorText(), nullptr);
   EXPECT_STREQ(program.getErrorText(), L"");
   EXPECT_EQ(program.getResult(), nullptr);
   EXPECT_EQ(program.getEnvironment(), nullptr);
   program.trace(1, L"no environment: nothing happens");
   program.lock();
   program.lock();   // re-entrant
   program.unlock();
   program.unlock();
}

TEST(Program, AddInstructionAppendsManyInOrder)
{
   ORVA_Program program;
   for (int i = 0; i < 1000; i++)
      program.addInstruction(new ORVA_Instruction(i, POP, i));
   ASSERT_EQ(program.getCodeSize(), 1000u);
   for (uint32_t i = 0; i < 1000; i++)
      ASSERT_EQ(program.getInstruction(i)->getIntOperand(), static_cast<int>(i));
   EXPECT_EQ(program.getInstruction(1000), nullptr);
}

TEST(Program, ResolveLastJumpClosesOnlyTheLatestOpenJumpOfThatOpcode)
{
   ORVA_Program program;
   program.addInstruction(new ORVA_Instruction(1, JMP, ORVA_INVALID_ADDRESS));
   program.addInstruction(new ORVA_Instruction(1, JMP, ORVA_INVALID_ADDRESS));
   program.addInstruction(new ORVA_Instruction(1, JZ, ORVA_INVALID_ADDRESS));
   program.addInstruction(new ORVA_Instruction(1, JMP, static_cast<uint32_t>(0)));
   program.addInstruction(new ORVA_Instruction(1, NOP));

   program.resolveLastJump(JMP);
   EXPECT_EQ(program.getInstruction(0)->getAddress(), ORVA_INVALID_ADDRESS);
   EXPECT_EQ(program.getInstruction(1)->getAddress(), 5u);
   EXPECT_EQ(program.getInstruction(2)->getAddress(), ORVA_INVALID_ADDRESS);
   EXPECT_EQ(program.getInstruction(3)->getAddress(), 0u);

   program.resolveLastJump(JNZ);   // none open: nothing changes
   program.resolveLastJump(JZ);
   EXPECT_EQ(program.getInstruction(2)->getAddress(), 5u);

   ORVA_Program empty;
   empty.resolveLastJump(JMP);
   EXPECT_EQ(empty.getCodeSize(), 0u);
}

TEST(Program, CreateJumpAtReplacesTheInstructionKeepingItsLine)
{
   ORVA_Program program;
   program.addInstruction(new ORVA_Instruction(7, PUSH_VAR, dupName("x")));
   program.addInstruction(new ORVA_Instruction(8, NOP));
   program.createJumpAt(0, 42);
   EXPECT_EQ(program.getInstruction(0)->getOpcode(), JMP);
   EXPECT_EQ(program.getInstruction(0)->getAddress(), 42u);
   EXPECT_EQ(program.getInstruction(0)->getLine(), 7);

   program.createJumpAt(2, 1);   // beyond the code: ignored
   program.createJumpAt(ORVA_INVALID_ADDRESS, 1);
   EXPECT_EQ(program.getCodeSize(), 2u);
   EXPECT_EQ(program.getInstruction(1)->getOpcode(), NOP);
}

TEST(Program, AddFunctionRegistersAndRefusesDuplicates)
{
   ProgramProbe program;
   for (int i = 0; i < 12; i++)
      program.addInstruction(new ORVA_Instruction(1, NOP));
   char buffer[256] = "";
   EXPECT_EQ(program.addFunction("f", ORVA_INVALID_ADDRESS, buffer, sizeof(buffer)), 1);
   EXPECT_EQ(program.addFunction("g", 3, buffer, sizeof(buffer)), 1);
   EXPECT_EQ(program.getFunction(0)->address, 12u);
   EXPECT_EQ(program.getFunctionAddress(L"g"), 3u);
   EXPECT_EQ(program.getFunctionAddress(L"F"), ORVA_INVALID_ADDRESS);
   EXPECT_EQ(program.getFunctionAddress(L"h"), ORVA_INVALID_ADDRESS);

   EXPECT_EQ(program.addFunction("f", 5, buffer, sizeof(buffer)), 0);
   EXPECT_STREQ(buffer, "Duplicate function name: \"f\"");
   EXPECT_EQ(program.getFunctionCount(), 2u);
   EXPECT_EQ(program.getFunctionAddress(L"f"), 12u);

   EXPECT_EQ(program.addFunction("F", 5, nullptr, 0), 1);   // names are case-sensitive
   EXPECT_EQ(program.addFunction("F", 5, nullptr, 0), 0);   // no buffer: still refused
}

TEST(Program, LongFunctionNamesAreCutTo63Characters)
{
   ProgramProbe program;
   std::string name70(70, 'a');
   std::string other70 = std::string(65, 'a') + "bbbbb";   // differs only after 63
   char buffer[256] = "";
   EXPECT_EQ(program.addFunction(name70.c_str(), 0, buffer, sizeof(buffer)), 1);
   EXPECT_EQ(wcslen(program.getFunction(0)->name), 63u);
   EXPECT_EQ(std::wstring(program.getFunction(0)->name), std::wstring(63, L'a'));
   // The stored name is compared with the whole new name, so both are accepted.
   EXPECT_EQ(program.addFunction(other70.c_str(), 1, buffer, sizeof(buffer)), 1);
   EXPECT_EQ(program.getFunctionCount(), 2u);
   EXPECT_EQ(program.addFunction(std::string(63, 'a').c_str(), 2, buffer, sizeof(buffer)), 0);
}

TEST(Program, DuplicateMessageNeverWritesPastTheBuffer)
{
   ORVA_Program program;
   std::string longName(60, 'n');   // stored whole, message 87 bytes
   program.addFunction(longName.c_str(), 0, nullptr, 0);

   char buffer[64 + 8];
   memset(buffer, '#', sizeof(buffer));
   EXPECT_EQ(program.addFunction(longName.c_str(), 0, buffer, 64), 0);
   EXPECT_EQ(strlen(buffer), 63u);
   EXPECT_EQ(std::string(buffer, 26), "Duplicate function name: \"");
   for (size_t i = 64; i < sizeof(buffer); i++)
      EXPECT_EQ(buffer[i], '#') << i;

   // A cut never leaves half a UTF-8 character: 26 bytes of prefix, then two-byte
   // characters, so a 30-byte buffer has room for 1 whole character and 1 byte more.
   std::string umlauts;
   for (int i = 0; i < 40; i++)
      umlauts += "\xC3\xBC";
   program.addFunction(umlauts.c_str(), 0, nullptr, 0);
   char small[30];
   EXPECT_EQ(program.addFunction(umlauts.c_str(), 0, small, sizeof(small)), 0);
   EXPECT_STREQ(small, "Duplicate function name: \"\xC3\xBC");
}

TEST(Program, ResolveFunctionsBindsKnownNamesOnly)
{
   ORVA_Program program;
   program.addInstruction(new ORVA_Instruction(1, CALL_NAME, dupName("f"), 2));
   program.addInstruction(new ORVA_Instruction(2, CALL_NAME, dupName("length"), 1));
   program.addInstruction(new ORVA_Instruction(3, NRET));
   program.addInstruction(new ORVA_Instruction(4, NRET));
   program.addFunction("$main", 0, nullptr, 0);
   program.addFunction("f", 3, nullptr, 0);
   program.resolveFunctions();

   EXPECT_EQ(program.getInstruction(0)->getOpcode(), CALL_ADDR);
   EXPECT_EQ(program.getInstruction(0)->getAddress(), 3u);
   EXPECT_EQ(program.getInstruction(0)->getIntOperand(), 2);
   EXPECT_EQ(program.getInstruction(1)->getOpcode(), CALL_NAME);
   EXPECT_STREQ(program.getInstruction(1)->getNameOperand(), L"length");
   EXPECT_EQ(program.getInstruction(1)->getIntOperand(), 1);
}

TEST(Program, PreloadListKeepsSourceOrder)
{
   ORVA_Program program;
   program.addPreload(dupName("util"));
   program.addPreload(dupName("m\xC3\xA4th"));
   ASSERT_EQ(program.getPreloadCount(), 2u);
   EXPECT_STREQ(program.getPreload(0), L"util");
   EXPECT_STREQ(program.getPreload(1), L"m\u00E4th");
   EXPECT_EQ(program.getPreload(2), nullptr);
}

TEST(Program, GlobalVariablesAreSetAndReplaced)
{
   ORVA_Program program;
   EXPECT_EQ(program.findGlobalVariable(L"g"), nullptr);
   program.setGlobalVariable(L"g", new ORVA_Value(static_cast<int32_t>(1)));
   ASSERT_NE(program.findGlobalVariable(L"g"), nullptr);
   program.setGlobalVariable(L"g", new ORVA_Value(L"two"));
   EXPECT_STREQ(program.findGlobalVariable(L"g")->getValue()->getValueAsCString(), L"two");
   EXPECT_EQ(program.findGlobalVariable(L"G"), nullptr);
}

TEST(Dump, EmptyProgramWritesNothing)
{
   ORVA_Program program;
   EXPECT_EQ(dumpOf(program), "");
}

TEST(Dump, EveryListingForm)
{
   ORVA_Program program;
   program.addInstruction(new ORVA_Instruction(1, NOP));
   program.addInstruction(new ORVA_Instruction(1, SET, dupName("x")));
   program.addInstruction(new ORVA_Instruction(1, JMP, static_cast<uint32_t>(0x1A)));
   program.addInstruction(new ORVA_Instruction(1, CALL_ADDR, static_cast<uint32_t>(16)));
   program.addInstruction(new ORVA_Instruction(1, CALL_NAME, dupName("length"), 1));
   program.addInstruction(new ORVA_Instruction(1, PUSH_CONST, new ORVA_Value()));
   program.addInstruction(new ORVA_Instruction(1, PUSH_CONST, new ORVA_Value(L"a b")));
   program.addInstruction(new ORVA_Instruction(1, CASE, new ORVA_Value(static_cast<int32_t>(-5))));
   program.addInstruction(new ORVA_Instruction(1, PUSH_CONST, new ORVA_Value(new ORVA_Array())));
   program.addInstruction(new ORVA_Instruction(1, PUSH_VAR, dupName("\xC3\xA4")));
   program.addInstruction(new ORVA_Instruction(1, POP, 2));
   program.addInstruction(new ORVA_Instruction(1, CAST, static_cast<int>(ORVA_DT_INT32)));
   program.addInstruction(new ORVA_Instruction(1, FOREACH));
   program.addInstruction(new ORVA_Instruction(1, GLOBAL, dupName("g"), 1));
   program.addInstruction(new ORVA_Instruction(1, BITAND));
   program.addInstruction(new ORVA_Instruction(1, JNZ, ORVA_INVALID_ADDRESS));
   program.addInstruction(new ORVA_Instruction(1, PUSH_CONST, new ORVA_Value(1.5)));
   const char *expected =
      "0000  NOP     \n"
      "0001  SET     x\n"
      "0002  JMP     001A\n"
      "0003  CALL    0010, 0\n"
      "0004  CALL    length, 1\n"
      "0005  PUSH    <null>\n"
      "0006  PUSH    \"a b\"\n"
      "0007  CASE    \"-5\"\n"
      "0008  PUSH    \"(null)\"\n"
      "0009  PUSH    \xC3\xA4\n"
      "000A  POP     2\n"
      "000B  CAST    [int32]\n"
      "000C  FOREACH  \n"
      "000D  GLOBAL  g, 1\n"
      "000E  BITAND  \n"
      "000F  JNZ     FFFFFFFF\n"
      "0010  PUSH    \"1.500000\"\n";
   EXPECT_EQ(dumpOf(program), expected);
}

TEST(Dump, CallWithArgumentsAndAddressesBeyondFourDigits)
{
   ORVA_Program program;
   program.addInstruction(new ORVA_Instruction(1, CALL_NAME, dupName("f"), 2));
   program.addFunction("f", 16, nullptr, 0);
   program.resolveFunctions();
   for (uint32_t i = 1; i < 0x10001; i++)
      program.addInstruction(new ORVA_Instruction(1, NOP));
   program.addInstruction(new ORVA_Instruction(1, JZ, static_cast<uint32_t>(0x10002)));
   std::string text = dumpOf(program);
   EXPECT_EQ(text.substr(0, 24), "0000  CALL    0010, 2\n00");
   const std::string tail = "FFFF  NOP     \n10000  NOP     \n10001  JZ      10002\n";
   ASSERT_GE(text.size(), tail.size());
   EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
}

}  // namespace
