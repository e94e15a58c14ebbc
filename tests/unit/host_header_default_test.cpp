// orva.h as most hosts include it: after <resolv.h>, whose macros share names with opcodes,
// and with the opcodes written as they stand, the way hand-built programs always wrote them.
#include <resolv.h>

#include <orva.h>

#include <gtest/gtest.h>

TEST(HostHeader, OpcodesKeepTheirBareNamesByDefault)
{
   EXPECT_EQ(PUSH_CONST, ORVA_Op::PUSH_CONST);
   EXPECT_EQ(GARRAY, 56);
   ORVA_Program program;
   char error[256];
   ASSERT_EQ(program.addFunction("$main", 0, error), 1) << error;
   program.addInstruction(new ORVA_Instruction(1, PUSH_CONST, new ORVA_Value(7)));
   program.addInstruction(new ORVA_Instruction(1, RET));
   ASSERT_EQ(program.run(nullptr, 0, nullptr), 0);
   EXPECT_EQ(program.getResult()->getValueAsInt32(), 7);
}
