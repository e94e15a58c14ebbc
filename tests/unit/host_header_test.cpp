// orva.h in a host that has short names of its own: <resolv.h> defines ADD, DELETE, ...
// as macros, and hosts have enumerators such as NAME or GLOBAL. Such a host keeps the
// opcodes out of its namespace and reaches them through theirs. Also the conveniences a
// host reaches for first: a null value from nullptr, and UTF-8 text in and out without a
// locale.
#include <resolv.h>

enum HostWords { NAME, GLOBAL, AND, OR, PRINT, CASE };

#define ORVA_NO_GLOBAL_OPCODES
#include <orva.h>

#include <gtest/gtest.h>

#include <string>

TEST(HostHeader, OpcodesLiveInTheirNamespace)
{
   EXPECT_EQ(NAME, 0);
   EXPECT_EQ(ORVA_Op::PUSH_CONST, 5);
   EXPECT_EQ(ORVA_Op::NAME, 52);
   EXPECT_EQ(ORVA_Op::GARRAY, 56);
   EXPECT_EQ(ORVA_OPCODE_COUNT, 57);
   ORVA_Instruction push(1, ORVA_Op::PUSH_CONST, new ORVA_Value(nullptr));
   EXPECT_TRUE(push.getConstant()->isNull());
}

TEST(HostHeader, NullptrMakesANullValue)
{
   ORVA_Value fromNullptr(nullptr);
   EXPECT_EQ(fromNullptr.getDataType(), ORVA_DT_NULL);
   // A null text pointer stays the empty text, which reads as 0.
   ORVA_Value fromNullText(static_cast<const wchar_t *>(nullptr));
   EXPECT_EQ(fromNullText.getDataType(), ORVA_DT_INT32);
}

TEST(HostHeader, Utf8InAndOut)
{
   struct Case { std::string utf8; int type; std::wstring wide; };
   const Case cases[] = {
      {"Grüße", ORVA_DT_STRING, L"Gr\u00fc\u00dfe"},
      {"42", ORVA_DT_INT32, L"42"},
      {std::string("a\0b", 3), ORVA_DT_STRING, std::wstring(L"a\0b", 3)},
      {"\xff" "x", ORVA_DT_STRING, L"\ufffdx"},
      {"", ORVA_DT_INT32, L""},
   };
   for (const Case &c : cases)
   {
      ORVA_Value value(c.utf8);
      EXPECT_EQ(value.getDataType(), c.type) << c.utf8;
      uint32_t length = 0;
      const wchar_t *text = value.getValueAsString(&length);
      EXPECT_EQ(std::wstring(text, length), c.wide);
      EXPECT_EQ(ORVAFromUtf8(c.utf8), c.wide);
   }
   ORVA_Value greeting(std::string("Grüße"));
   EXPECT_EQ(greeting.getValueAsUtf8(), "Grüße");
   ORVA_Value number(1.5);
   EXPECT_EQ(number.getValueAsUtf8(), "1.500000");
   ORVA_Value none;
   EXPECT_EQ(none.getValueAsUtf8(), "");
   EXPECT_EQ(ORVAToUtf8(L"\u20ac 5"), "\xe2\x82\xac 5");
   EXPECT_EQ(ORVAToUtf8(nullptr), "");
}
