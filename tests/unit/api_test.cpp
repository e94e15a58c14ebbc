// The public header reads naturally from host code: literals of every integer width pick the
// constructor a host means, and no call that a host is likely to write is ambiguous.
#include <orva.h>

using namespace ORVA_Op;

#include <gtest/gtest.h>

TEST(PublicApi, ValueConstructorsFollowTheLiteralType)
{
   struct Case { ORVA_Value value; int type; };
   const Case cases[] = {
      {ORVA_Value(5), ORVA_DT_INT32},     {ORVA_Value(5u), ORVA_DT_UINT32},
      {ORVA_Value(5L), ORVA_DT_INT64},    {ORVA_Value(5UL), ORVA_DT_UINT64},
      {ORVA_Value(5LL), ORVA_DT_INT64},   {ORVA_Value(5ULL), ORVA_DT_UINT64},
      {ORVA_Value(1.5), ORVA_DT_REAL},    {ORVA_Value(1.5f), ORVA_DT_REAL},
      {ORVA_Value("12"), ORVA_DT_INT32},  {ORVA_Value(L"x"), ORVA_DT_STRING},
   };
   for (const Case &c : cases)
      EXPECT_EQ(c.value.getDataType(), c.type);
}

TEST(PublicApi, InstructionOperandsFollowTheArgumentType)
{
   ORVA_Instruction jumpUL(1, JMP, 5UL), jumpU(1, JMP, 5u), open(1, JMP, ORVA_INVALID_ADDRESS);
   ORVA_Instruction pop(1, POP, 2), cast(1, CAST, ORVA_DT_INT32);
   EXPECT_EQ(jumpUL.getAddress(), 5u);
   EXPECT_EQ(jumpU.getAddress(), 5u);
   EXPECT_EQ(open.getAddress(), ORVA_INVALID_ADDRESS);
   EXPECT_EQ(pop.getIntOperand(), 2);
   EXPECT_EQ(cast.getIntOperand(), ORVA_DT_INT32);
}

TEST(PublicApi, LibraryIdsAndNamesAreNotAmbiguous)
{
   ORVA_Library library;
   library.addScript(0, L"zero", new ORVA_Program());
   library.addScript(7, L"seven", new ORVA_Program());
   library.addScript(9UL, L"nine", new ORVA_Program());
   library.addScript(11, L"eleven", new ORVA_Program());
   library.deleteScript(0);
   EXPECT_EQ(library.findScript(L"zero"), nullptr);
   library.deleteScript(L"SEVEN");
   library.deleteScript(9UL);
   EXPECT_EQ(library.findScript(L"nine"), nullptr);
   size_t id = 11;
   library.deleteScript(id);
   EXPECT_EQ(library.getCount(), 0u);
}

TEST(PublicApi, FunctionLookupGivesARecordOfTheTable)
{
   ORVA_Environment environment;
   ORVA_ExtFunction *found = environment.findFunction(L"abs");
   const ORVA_Environment &view = environment;
   const ORVA_ExtFunction *seen = view.findFunction(L"abs");
   ASSERT_NE(found, nullptr);
   EXPECT_EQ(found, seen);
   EXPECT_EQ(found->numArgs, 1);
   EXPECT_EQ(environment.findFunction(L"Abs"), nullptr);
   EXPECT_EQ(view.findFunction(L"Abs"), nullptr);
}
