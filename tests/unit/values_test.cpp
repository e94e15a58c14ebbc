// ORVA_Value: number recognition, text formation, conversion, reading, the value
// operations, and variables and variable sets.
#include "orva.h"
#include "comma_locale.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace {

using ValuePtr = std::unique_ptr<ORVA_Value>;

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

// A value of an integer type holding the given bits (low 32 for the 32-bit types).
ValuePtr integer(int type, uint64_t bits)
{
   switch (type)
   {
      case ORVA_DT_INT32: return ValuePtr(new ORVA_Value(static_cast<int32_t>(static_cast<uint32_t>(bits))));
      case ORVA_DT_UINT32: return ValuePtr(new ORVA_Value(static_cast<uint32_t>(bits)));
      case ORVA_DT_INT64: return ValuePtr(new ORVA_Value(static_cast<int64_t>(bits)));
      default: return ValuePtr(new ORVA_Value(bits));
   }
}

ValuePtr real(double number)
{
   return ValuePtr(new ORVA_Value(number));
}

ValuePtr text(const wchar_t *characters)
{
   return ValuePtr(new ORVA_Value(characters));
}

std::wstring textOf(ORVA_Value *value)
{
   const wchar_t *characters = value->getValueAsCString();
   return characters != nullptr ? characters : L"<null>";
}

std::wstring fromNarrow(const std::string &narrow)
{
   return std::wstring(narrow.begin(), narrow.end());
}

const int64_t kInt32Min = std::numeric_limits<int32_t>::min();
const int64_t kInt32Max = std::numeric_limits<int32_t>::max();
const int64_t kInt64Min = std::numeric_limits<int64_t>::min();
const int64_t kInt64Max = std::numeric_limits<int64_t>::max();
const uint64_t kAllBits = std::numeric_limits<uint64_t>::max();

}

/* ---------------------------------------------------------------------------------------
 * Number recognition and text formation
 * --------------------------------------------------------------------------------------- */

TEST(NumberRecognition, Table)
{
   struct Case
   {
      const wchar_t *text;
      int type;
      int64_t integer;   // for int32 and int64
      double real;       // for real
   } cases[] = {
      {L"0x1A", ORVA_DT_INT32, 26, 0},
      {L"", ORVA_DT_INT32, 0, 0},
      {L"2147483647", ORVA_DT_INT32, kInt32Max, 0},
      {L"-2147483648", ORVA_DT_INT32, kInt32Min, 0},
      {L"2147483648", ORVA_DT_INT64, 2147483648LL, 0},
      {L"-2147483649", ORVA_DT_INT64, -2147483649LL, 0},
      {L"-0x10", ORVA_DT_INT32, -16, 0},
      {L"+7", ORVA_DT_INT32, 7, 0},
      {L"  12", ORVA_DT_INT32, 12, 0},
      {L"010", ORVA_DT_INT32, 8, 0},
      {L"08", ORVA_DT_REAL, 0, 8.0},
      {L"1e3", ORVA_DT_REAL, 0, 1000.0},
      {L"-1.5", ORVA_DT_REAL, 0, -1.5},
      {L".5", ORVA_DT_REAL, 0, 0.5},
      {L"99999999999999999999", ORVA_DT_INT64, kInt64Max, 0},
      {L"-99999999999999999999", ORVA_DT_INT64, kInt64Min, 0},
      {L"1e999", ORVA_DT_REAL, 0, kInf},
      {L"12 ", ORVA_DT_STRING, 0, 0},
      {L"12abc", ORVA_DT_STRING, 0, 0},
      {L"abc", ORVA_DT_STRING, 0, 0},
      {L" ", ORVA_DT_STRING, 0, 0},
      {L"-", ORVA_DT_STRING, 0, 0},
      {L".", ORVA_DT_STRING, 0, 0},
      {L"0x", ORVA_DT_STRING, 0, 0},
      {L"1e", ORVA_DT_STRING, 0, 0},
      {L"1,5", ORVA_DT_STRING, 0, 0},
      {L"inf", ORVA_DT_STRING, 0, 0},
      {L"nan", ORVA_DT_STRING, 0, 0},
      {L"0x1p3", ORVA_DT_STRING, 0, 0},
      {L"10.41.7.1", ORVA_DT_STRING, 0, 0},
      {L"1.5e+", ORVA_DT_STRING, 0, 0},
      {L"1e5e5", ORVA_DT_STRING, 0, 0},
      {L" -2.5e-1", ORVA_DT_REAL, 0, -0.25},
      {L"1.5E3", ORVA_DT_REAL, 0, 1500.0},
      // Plain decimal integers and texts that start like one.
      {L"0", ORVA_DT_INT32, 0, 0},
      {L"-0", ORVA_DT_INT32, 0, 0},
      {L"7", ORVA_DT_INT32, 7, 0},
      {L"-42", ORVA_DT_INT32, -42, 0},
      {L"999999999999999999", ORVA_DT_INT64, 999999999999999999LL, 0},
      {L"-999999999999999999", ORVA_DT_INT64, -999999999999999999LL, 0},
      {L"1000000000000000000", ORVA_DT_INT64, 1000000000000000000LL, 0},
      {L"9223372036854775807", ORVA_DT_INT64, kInt64Max, 0},
      {L"9999999999999999999", ORVA_DT_INT64, kInt64Max, 0},
      {L"-9223372036854775808", ORVA_DT_INT64, kInt64Min, 0},
      {L"5e2", ORVA_DT_REAL, 0, 500.0},
      {L"12.5", ORVA_DT_REAL, 0, 12.5},
      {L"-3.", ORVA_DT_REAL, 0, -3.0},
      {L"1-2", ORVA_DT_STRING, 0, 0},
      {L"3a", ORVA_DT_STRING, 0, 0},
      {L"--1", ORVA_DT_STRING, 0, 0},
   };
   for (const Case &c : cases)
   {
      ValuePtr value = text(c.text);
      ASSERT_EQ(value->getDataType(), c.type) << c.text;
      if (c.type == ORVA_DT_REAL)
         EXPECT_EQ(value->getValueAsReal(), c.real) << c.text;
      else
         EXPECT_EQ(value->getValueAsInt64(), c.integer) << c.text;
      EXPECT_EQ(textOf(value.get()), c.text) << "the text it was made from stays";
      ValuePtr copy(new ORVA_Value(value.get()));
      EXPECT_EQ(textOf(copy.get()), c.text) << "a copy has the same text";
   }
}

TEST(NumberRecognition, TextConstructorsAgree)
{
   ORVA_Value fromNull(static_cast<const wchar_t *>(nullptr));
   EXPECT_EQ(fromNull.getDataType(), ORVA_DT_INT32);
   EXPECT_EQ(textOf(&fromNull), L"");

   ORVA_Value fromUtf8("42");
   EXPECT_EQ(fromUtf8.getDataType(), ORVA_DT_INT32);
   EXPECT_EQ(fromUtf8.getValueAsInt32(), 42);

   ORVA_Value umlaut("\xC3\xA4\xFF");
   EXPECT_EQ(umlaut.getDataType(), ORVA_DT_STRING);
   EXPECT_EQ(textOf(&umlaut), L"\u00e4\ufffd");

   ORVA_Value fromNullUtf8(static_cast<const char *>(nullptr));
   EXPECT_EQ(fromNullUtf8.getDataType(), ORVA_DT_INT32);

   // A zero character inside keeps the text a string of the full length.
   ORVA_Value withZero(L"12\0", 3);
   EXPECT_EQ(withZero.getDataType(), ORVA_DT_STRING);
   uint32_t length = 0;
   const wchar_t *characters = withZero.getValueAsString(&length);
   EXPECT_EQ(length, 3u);
   EXPECT_EQ(std::wstring(characters, 3), std::wstring(L"12\0", 3));
   EXPECT_EQ(withZero.getValueAsInt32(), 0);

   ORVA_Value zeros(nullptr, 2);
   EXPECT_EQ(zeros.getDataType(), ORVA_DT_STRING);
   zeros.getValueAsString(&length);
   EXPECT_EQ(length, 2u);

   ORVA_Value prefix(L"123456", 3);
   EXPECT_EQ(prefix.getValueAsInt32(), 123);
}

TEST(TextFormation, Table)
{
   struct Case
   {
      ValuePtr value;
      std::wstring expected;
   };
   Case cases[] = {
      {integer(ORVA_DT_INT32, static_cast<uint64_t>(-5)), L"-5"},
      {integer(ORVA_DT_INT32, 0x80000000u), L"-2147483648"},
      {integer(ORVA_DT_UINT32, 0xFFFFFFFFu), L"4294967295"},
      {integer(ORVA_DT_INT64, static_cast<uint64_t>(kInt64Min)), L"-9223372036854775808"},
      {integer(ORVA_DT_UINT64, kAllBits), L"18446744073709551615"},
      {real(1.5), L"1.500000"},
      {real(0.1), L"0.100000"},
      {real(-0.0), L"-0.000000"},
      {real(1e-7), L"0.000000"},
      {real(2.5e-6), L"0.000003"},
      {real(123456789.125), L"123456789.125000"},
      {real(kInf), L"inf"},
      {real(-kInf), L"-inf"},
      {real(kNaN), L"nan"},
      {real(-kNaN), L"nan"},
   };
   for (Case &c : cases)
      EXPECT_EQ(textOf(c.value.get()), c.expected);
}

// Reals too long for a 64-character buffer get their full "%f" text.
TEST(TextFormation, HugeRealsGetTheirFullText)
{
   for (double number : {1e300, -std::numeric_limits<double>::max(), 1e57, -1e56})
   {
      char expected[400];
      snprintf(expected, sizeof(expected), "%f", number);
      ValuePtr value = real(number);
      uint32_t length = 0;
      const wchar_t *characters = value->getValueAsString(&length);
      EXPECT_EQ(std::wstring(characters), fromNarrow(expected));
      EXPECT_EQ(length, strlen(expected));
   }
}

TEST(TextFormation, IgnoresTheHostLocale)
{
   CommaLocaleScope locale;
   if (!locale.active)
      GTEST_SKIP() << "no comma-decimal locale available";
   EXPECT_EQ(textOf(real(1.5).get()), L"1.500000");
   ValuePtr parsed = text(L"1.5");
   EXPECT_EQ(parsed->getDataType(), ORVA_DT_REAL);
   EXPECT_EQ(parsed->getValueAsReal(), 1.5);
   EXPECT_EQ(text(L"1,5")->getDataType(), ORVA_DT_STRING);
}

TEST(TextFormation, TextIsCachedUntilTheNumberChanges)
{
   ValuePtr value = text(L"0x10");
   const wchar_t *first = value->getValueAsCString();
   EXPECT_EQ(value->getValueAsCString(), first);
   EXPECT_EQ(textOf(value.get()), L"0x10");
   value->increment();
   EXPECT_EQ(textOf(value.get()), L"17");
}

TEST(TextFormation, TypesWithoutNumbers)
{
   ORVA_Value null;
   uint32_t length = 99;
   EXPECT_EQ(null.getValueAsCString(), nullptr);
   EXPECT_EQ(null.getValueAsString(&length), nullptr);
   EXPECT_EQ(length, 0u);

   ORVA_Array *array = new ORVA_Array();
   ORVA_Value arrayValue(array);
   EXPECT_EQ(arrayValue.getValueAsCString(), nullptr);

   ORVA_Class generic;
   ORVA_Value objectValue(new ORVA_Object(&generic, nullptr));
   EXPECT_EQ(objectValue.getValueAsCString(), nullptr);

   array->incRefCount();
   ORVA_Value iteratorValue(new ORVA_Iterator(L"x", array));
   EXPECT_EQ(textOf(&iteratorValue), L"");
   EXPECT_EQ(iteratorValue.getValueAsInt32(), 0);

   ORVA_Value nullString;
   EXPECT_TRUE(nullString.convert(ORVA_DT_STRING));
   EXPECT_EQ(nullString.getDataType(), ORVA_DT_STRING);
   EXPECT_EQ(textOf(&nullString), L"");
   EXPECT_EQ(nullString.getValueAsInt32(), 0);
}

/* ---------------------------------------------------------------------------------------
 * Reading and conversion
 * --------------------------------------------------------------------------------------- */

TEST(Reading, Table)
{
   struct Case
   {
      ValuePtr value;
      int32_t asInt32;
      uint32_t asUInt32;
      int64_t asInt64;
      double asReal;
   };
   Case cases[] = {
      {ValuePtr(new ORVA_Value()), 0, 0, 0, 0.0},
      {text(L"abc"), 0, 0, 0, 0.0},
      {real(2.5), 2, 2, 2, 2.5},
      {real(-2.5), -2, 0xFFFFFFFEu, -2, -2.5},
      {real(1e10), static_cast<int32_t>(kInt32Max), 1410065408u, 10000000000LL, 1e10},
      {real(-1e10), static_cast<int32_t>(kInt32Min), static_cast<uint32_t>(-1410065408), -10000000000LL, -1e10},
      {real(1e30), static_cast<int32_t>(kInt32Max), 0xFFFFFFFFu, kInt64Max, 1e30},
      {real(-kInf), static_cast<int32_t>(kInt32Min), 0, kInt64Min, -kInf},
      {integer(ORVA_DT_INT32, static_cast<uint64_t>(-1)), -1, 0xFFFFFFFFu, -1, -1.0},
      {integer(ORVA_DT_INT64, 0x180000000ull), static_cast<int32_t>(kInt32Min), 0x80000000u, 0x180000000LL, 6442450944.0},
      {integer(ORVA_DT_UINT32, 0xFFFFFFFFu), -1, 0xFFFFFFFFu, 4294967295LL, 4294967295.0},
      {integer(ORVA_DT_UINT64, kAllBits), -1, 0xFFFFFFFFu, -1, -1.0},
      {integer(ORVA_DT_UINT64, 0x8000000000000000ull), 0, 0, kInt64Min, -9223372036854775808.0},
   };
   for (Case &c : cases)
   {
      SCOPED_TRACE(g_orvaDataTypeNames[c.value->getDataType()]);
      EXPECT_EQ(c.value->getValueAsInt32(), c.asInt32);
      EXPECT_EQ(c.value->getValueAsUInt32(), c.asUInt32);
      EXPECT_EQ(c.value->getValueAsInt64(), c.asInt64);
      EXPECT_EQ(c.value->getValueAsUInt64(), static_cast<uint64_t>(c.asInt64));
      EXPECT_EQ(c.value->getValueAsReal(), c.asReal);
   }
   EXPECT_EQ(real(kNaN)->getValueAsInt32(), 0);
   EXPECT_EQ(real(kNaN)->getValueAsInt64(), 0);
}

TEST(Conversion, NumericTable)
{
   struct Case
   {
      ValuePtr value;
      int target;
      int64_t integer;   // getValueAsInt64 after an integer conversion
      double number;     // getValueAsReal after a conversion to real
   };
   Case cases[] = {
      {real(2.5), ORVA_DT_INT32, 2, 0},
      {real(-2.5), ORVA_DT_INT32, -2, 0},
      {real(2.5), ORVA_DT_UINT32, 2, 0},
      {real(-1.0), ORVA_DT_UINT32, 4294967295LL, 0},
      {real(-1.0), ORVA_DT_UINT64, -1, 0},
      {real(5e9), ORVA_DT_UINT32, 705032704, 0},
      {real(3e9), ORVA_DT_INT32, kInt32Max, 0},
      {real(-3e9), ORVA_DT_INT32, kInt32Min, 0},
      {real(kNaN), ORVA_DT_INT32, 0, 0},
      {real(kNaN), ORVA_DT_UINT64, 0, 0},
      {real(kInf), ORVA_DT_INT64, kInt64Max, 0},
      {real(1e19), ORVA_DT_UINT64, kInt64Max, 0},
      {integer(ORVA_DT_INT32, static_cast<uint64_t>(-1)), ORVA_DT_INT64, -1, 0},
      {integer(ORVA_DT_INT32, static_cast<uint64_t>(-1)), ORVA_DT_UINT64, -1, 0},
      {integer(ORVA_DT_INT32, static_cast<uint64_t>(-1)), ORVA_DT_UINT32, 4294967295LL, 0},
      {integer(ORVA_DT_INT32, static_cast<uint64_t>(-1)), ORVA_DT_REAL, 0, -1.0},
      {integer(ORVA_DT_INT64, 0x100000005ull), ORVA_DT_INT32, 5, 0},
      {integer(ORVA_DT_INT64, 0x1FFFFFFFFull), ORVA_DT_UINT32, 4294967295LL, 0},
      {integer(ORVA_DT_INT64, 0x100000005ull), ORVA_DT_REAL, 0, 4294967301.0},
      {integer(ORVA_DT_INT64, static_cast<uint64_t>(-2)), ORVA_DT_UINT64, -2, 0},
      {integer(ORVA_DT_UINT32, 0xFFFFFFFFu), ORVA_DT_INT32, -1, 0},
      {integer(ORVA_DT_UINT32, 0xFFFFFFFFu), ORVA_DT_INT64, 4294967295LL, 0},
      {integer(ORVA_DT_UINT32, 0xFFFFFFFFu), ORVA_DT_UINT64, 4294967295LL, 0},
      {integer(ORVA_DT_UINT32, 0xFFFFFFFFu), ORVA_DT_REAL, 0, 4294967295.0},
      {integer(ORVA_DT_UINT64, kAllBits), ORVA_DT_INT32, -1, 0},
      {integer(ORVA_DT_UINT64, kAllBits), ORVA_DT_INT64, -1, 0},
      {integer(ORVA_DT_UINT64, 0x1FFFFFFFFull), ORVA_DT_UINT32, 4294967295LL, 0},
      {ValuePtr(new ORVA_Value()), ORVA_DT_REAL, 0, 0.0},
      {ValuePtr(new ORVA_Value()), ORVA_DT_UINT64, 0, 0},
      {text(L"abc"), ORVA_DT_INT32, 0, 0},
      {text(L"abc"), ORVA_DT_REAL, 0, 0.0},
   };
   for (Case &c : cases)
   {
      SCOPED_TRACE(std::wstring(g_orvaDataTypeNames[c.value->getDataType()]) + L" to " + g_orvaDataTypeNames[c.target]);
      ASSERT_TRUE(c.value->convert(c.target));
      EXPECT_EQ(c.value->getDataType(), c.target);
      if (c.target == ORVA_DT_REAL)
         EXPECT_EQ(c.value->getValueAsReal(), c.number);
      else
         EXPECT_EQ(c.value->getValueAsInt64(), c.integer);
   }
}

TEST(Conversion, RefusalsAndNoOps)
{
   ValuePtr huge = integer(ORVA_DT_UINT64, kAllBits);
   EXPECT_FALSE(huge->convert(ORVA_DT_REAL));
   EXPECT_EQ(huge->getDataType(), ORVA_DT_UINT64);
   EXPECT_EQ(huge->getValueAsUInt64(), kAllBits);

   const int refused[] = {ORVA_DT_NULL, ORVA_DT_OBJECT, ORVA_DT_ARRAY, ORVA_DT_ITERATOR, 10, -1, 255};
   for (int target : refused)
   {
      ValuePtr value = text(L"abc");
      EXPECT_FALSE(value->convert(target)) << target;
      EXPECT_EQ(value->getDataType(), ORVA_DT_STRING);
      EXPECT_EQ(textOf(value.get()), L"abc");
   }

   // Same type, or string from string or a number: nothing changes, the text stays.
   ValuePtr hex = text(L"0x1A");
   EXPECT_TRUE(hex->convert(ORVA_DT_INT32));
   EXPECT_TRUE(hex->convert(ORVA_DT_STRING));
   EXPECT_EQ(hex->getDataType(), ORVA_DT_INT32);
   EXPECT_EQ(textOf(hex.get()), L"0x1A");

   // A real conversion drops the text.
   ValuePtr exponent = text(L"1e3");
   EXPECT_EQ(exponent->getDataType(), ORVA_DT_REAL);
   EXPECT_EQ(textOf(exponent.get()), L"1e3");
   EXPECT_TRUE(exponent->convert(ORVA_DT_INT32));
   EXPECT_EQ(exponent->getValueAsInt32(), 1000);
   EXPECT_EQ(textOf(exponent.get()), L"1000");

   ORVA_Class generic;
   ORVA_Value object(new ORVA_Object(&generic, nullptr));
   EXPECT_TRUE(object.convert(ORVA_DT_STRING));
   EXPECT_TRUE(object.isObject());
}

// Converting a reference to a number lets the reference go, as destruction would.
TEST(Conversion, ReferenceToNumberReleasesIt)
{
   ORVA_Array *array = new ORVA_Array();
   ORVA_Value value(array);
   array->incRefCount();   // the test's own hold
   EXPECT_TRUE(value.convert(ORVA_DT_INT32));
   EXPECT_EQ(value.getValueAsInt32(), 0);
   EXPECT_EQ(value.getValueAsArray(), nullptr);
   array->decRefCount();
   EXPECT_TRUE(array->isUnused());
   delete array;

   int deletions = 0;
   struct CountingClass : ORVA_Class
   {
      int *deletions;
      void onObjectDelete(ORVA_Object *) override { (*deletions)++; }
   } counting;
   counting.deletions = &deletions;
   ORVA_Value object(new ORVA_Object(&counting, nullptr));
   EXPECT_TRUE(object.convert(ORVA_DT_REAL));
   EXPECT_EQ(deletions, 1);
   EXPECT_EQ(object.getValueAsReal(), 0.0);
}

// Names are kept beside the values: a swap, as arrays make on every store, exchanges them
// with the rest, and a value keeps none of the other's.
TEST(Value, SwapExchangesNamesAndTexts)
{
   struct Side
   {
      const wchar_t *name;
      const wchar_t *text;   // null: the int32 5
   };
   const Side sides[] = {{L"a", L"left"}, {nullptr, L"right"}, {L"b", nullptr}, {nullptr, nullptr}};
   for (const Side &first : sides)
      for (const Side &second : sides)
      {
         ValuePtr one(first.text != nullptr ? new ORVA_Value(first.text) : new ORVA_Value(5));
         ValuePtr two(second.text != nullptr ? new ORVA_Value(second.text) : new ORVA_Value(5));
         one->setName(first.name);
         two->setName(second.name);
         one->swap(*two);
         for (const auto &[value, side] : {std::pair{one.get(), second}, std::pair{two.get(), first}})
         {
            if (side.name == nullptr)
               EXPECT_EQ(value->getName(), nullptr);
            else
               EXPECT_STREQ(value->getName(), side.name);
            EXPECT_EQ(textOf(value), side.text != nullptr ? side.text : L"5");
         }
      }

   ORVA_Array *array = new ORVA_Array();
   ORVA_Value holder(array);
   ValuePtr named(new ORVA_Value(L"x"));
   named->setName(L"arg");
   array->set(0, new ORVA_Value(named.get()));
   array->set(1, named.release());
   EXPECT_STREQ(array->get(0)->getName(), L"arg");
   EXPECT_STREQ(array->get(1)->getName(), L"arg");
}

TEST(Value, CopyAndName)
{
   ValuePtr source = text(L"0x1A");
   source->setName(L"arg");
   ORVA_Value copy(source.get());
   EXPECT_EQ(copy.getDataType(), ORVA_DT_INT32);
   EXPECT_EQ(copy.getValueAsInt32(), 26);
   EXPECT_EQ(textOf(&copy), L"0x1A");
   EXPECT_STREQ(copy.getName(), L"arg");
   EXPECT_NE(copy.getName(), source->getName());
   source->setName(nullptr);
   EXPECT_EQ(source->getName(), nullptr);

   ORVA_Value fromNull(static_cast<const ORVA_Value *>(nullptr));
   EXPECT_TRUE(fromNull.isNull());

   ORVA_Value plain(7);
   EXPECT_EQ(plain.getName(), nullptr);
   ORVA_Value plainCopy(&plain);
   EXPECT_EQ(textOf(&plainCopy), L"7");
}

TEST(Value, Predicates)
{
   struct Case
   {
      ValuePtr value;
      bool isString, isNumeric, isInteger, isUnsigned;
   };
   Case cases[] = {
      {ValuePtr(new ORVA_Value()), false, false, false, false},
      {text(L"x"), true, false, false, false},
      {real(1.0), true, true, false, false},
      {integer(ORVA_DT_INT32, 1), true, true, true, false},
      {integer(ORVA_DT_INT64, 1), true, true, true, false},
      {integer(ORVA_DT_UINT32, 1), true, true, true, true},
      {integer(ORVA_DT_UINT64, 1), true, true, true, true},
   };
   for (Case &c : cases)
   {
      SCOPED_TRACE(g_orvaDataTypeNames[c.value->getDataType()]);
      EXPECT_EQ(c.value->isString(), c.isString);
      EXPECT_EQ(c.value->isNumeric(), c.isNumeric);
      EXPECT_EQ(c.value->isInteger(), c.isInteger);
      EXPECT_EQ(c.value->isUnsigned(), c.isUnsigned);
   }
   const wchar_t *names[] = {L"null", L"object", L"array", L"iterator", L"string",
                             L"real", L"int32", L"int64", L"uint32", L"uint64"};
   for (int i = 0; i < 10; i++)
      EXPECT_STREQ(g_orvaDataTypeNames[i], names[i]);
   // Host literals of long long select the 64-bit constructors.
   EXPECT_EQ(ORVA_Value(5LL).getDataType(), ORVA_DT_INT64);
   EXPECT_EQ(ORVA_Value(5ULL).getDataType(), ORVA_DT_UINT64);
}

TEST(Value, SetMakesInt32AndDropsText)
{
   ValuePtr value = text(L"1e3");
   value->set(1);
   EXPECT_EQ(value->getDataType(), ORVA_DT_INT32);
   EXPECT_EQ(textOf(value.get()), L"1");
}

/* ---------------------------------------------------------------------------------------
 * Value operations
 * --------------------------------------------------------------------------------------- */

TEST(Arithmetic, IntegerTable)
{
   using Operation = void (ORVA_Value::*)(const ORVA_Value *);
   struct Case
   {
      const char *name;
      Operation operation;
      int type;
      uint64_t a, b;
      int64_t expected;   // getValueAsInt64 of the result
   } cases[] = {
      {"add", &ORVA_Value::add, ORVA_DT_INT32, static_cast<uint64_t>(kInt32Max), 1, kInt32Min},
      {"sub", &ORVA_Value::sub, ORVA_DT_INT32, static_cast<uint64_t>(kInt32Min), 1, kInt32Max},
      {"mul", &ORVA_Value::mul, ORVA_DT_INT32, 65536, 65536, 0},
      {"mul", &ORVA_Value::mul, ORVA_DT_INT32, static_cast<uint64_t>(-3), 7, -21},
      {"add", &ORVA_Value::add, ORVA_DT_UINT32, 0xFFFFFFFFu, 1, 0},
      {"sub", &ORVA_Value::sub, ORVA_DT_UINT32, 0, 1, 4294967295LL},
      {"add", &ORVA_Value::add, ORVA_DT_INT64, static_cast<uint64_t>(kInt64Max), 1, kInt64Min},
      {"mul", &ORVA_Value::mul, ORVA_DT_INT64, static_cast<uint64_t>(kInt64Max), 2, -2},
      {"add", &ORVA_Value::add, ORVA_DT_UINT64, kAllBits, 2, 1},
      {"div", &ORVA_Value::div, ORVA_DT_INT32, 7, static_cast<uint64_t>(-2), -3},
      {"div", &ORVA_Value::div, ORVA_DT_INT32, static_cast<uint64_t>(-7), 2, -3},
      {"div", &ORVA_Value::div, ORVA_DT_INT32, static_cast<uint64_t>(kInt32Min), static_cast<uint64_t>(-1), kInt32Min},
      {"div", &ORVA_Value::div, ORVA_DT_INT32, 5, 0, 5},
      {"div", &ORVA_Value::div, ORVA_DT_UINT32, 0xFFFFFFFEu, 2, 0x7FFFFFFF},
      {"div", &ORVA_Value::div, ORVA_DT_INT64, static_cast<uint64_t>(kInt64Min), static_cast<uint64_t>(-1), kInt64Min},
      {"div", &ORVA_Value::div, ORVA_DT_UINT64, kAllBits, 2, kInt64Max},
      {"div", &ORVA_Value::div, ORVA_DT_UINT64, 9, 0, 9},
      {"rem", &ORVA_Value::rem, ORVA_DT_INT32, static_cast<uint64_t>(-7), 2, -1},
      {"rem", &ORVA_Value::rem, ORVA_DT_INT32, 7, static_cast<uint64_t>(-2), 1},
      {"rem", &ORVA_Value::rem, ORVA_DT_INT32, static_cast<uint64_t>(kInt32Min), static_cast<uint64_t>(-1), 0},
      {"rem", &ORVA_Value::rem, ORVA_DT_UINT32, 7, 2, 1},
      {"rem", &ORVA_Value::rem, ORVA_DT_INT64, static_cast<uint64_t>(kInt64Min), static_cast<uint64_t>(-1), 0},
      {"rem", &ORVA_Value::rem, ORVA_DT_UINT64, kAllBits, 10, 5},
      {"rem", &ORVA_Value::rem, ORVA_DT_INT64, 7, 0, 7},
      {"bitAnd", &ORVA_Value::bitAnd, ORVA_DT_INT32, 0xF0, 0x3C, 0x30},
      {"bitOr", &ORVA_Value::bitOr, ORVA_DT_UINT32, 0xF0, 0x0F, 0xFF},
      {"bitXor", &ORVA_Value::bitXor, ORVA_DT_INT64, 0xFF00000000ull, 0x0F00000001ull, 0xF000000001LL},
      {"bitAnd", &ORVA_Value::bitAnd, ORVA_DT_UINT64, kAllBits, 0x8000000000000000ull, kInt64Min},
   };
   for (const Case &c : cases)
   {
      ValuePtr receiver = integer(c.type, c.a);
      ValuePtr other = integer(c.type, c.b);
      receiver->getValueAsCString();   // cache a text to see it dropped
      ((*receiver).*(c.operation))(other.get());
      SCOPED_TRACE(std::string(c.name) + " on " + std::to_string(c.type));
      EXPECT_EQ(receiver->getDataType(), c.type);
      EXPECT_EQ(receiver->getValueAsInt64(), c.expected);
      std::wstring expectedText = c.type == ORVA_DT_UINT64 ? std::to_wstring(static_cast<uint64_t>(c.expected))
                                                           : std::to_wstring(c.expected);
      EXPECT_EQ(textOf(receiver.get()), expectedText);
   }
}

TEST(Arithmetic, RealOperations)
{
   ValuePtr sum = real(0.5);
   sum->add(real(0.25).get());
   EXPECT_EQ(sum->getValueAsReal(), 0.75);
   ValuePtr infinite = real(1.0);
   infinite->div(real(0.0).get());
   EXPECT_EQ(infinite->getValueAsReal(), kInf);
   ValuePtr notANumber = real(0.0);
   notANumber->div(real(0.0).get());
   EXPECT_TRUE(std::isnan(notANumber->getValueAsReal()));
   ValuePtr product = real(1.5);
   product->mul(real(-2.0).get());
   product->sub(real(1.0).get());
   EXPECT_EQ(product->getValueAsReal(), -4.0);

   // rem and the bitwise operations keep a real's number and drop its text.
   using Operation = void (ORVA_Value::*)(const ORVA_Value *);
   for (Operation operation : {&ORVA_Value::rem, &ORVA_Value::bitAnd, &ORVA_Value::bitOr, &ORVA_Value::bitXor})
   {
      ValuePtr value = text(L"5.50");
      ((*value).*operation)(real(2.0).get());
      EXPECT_EQ(value->getValueAsReal(), 5.5);
      EXPECT_EQ(textOf(value.get()), L"5.500000");
   }
}

// Binary operations, shifts and unary operations leave receivers without a number alone.
TEST(Arithmetic, NonNumericReceiversStayUnchanged)
{
   using Operation = void (ORVA_Value::*)(const ORVA_Value *);
   for (Operation operation : {&ORVA_Value::add, &ORVA_Value::sub, &ORVA_Value::mul, &ORVA_Value::div,
                               &ORVA_Value::rem, &ORVA_Value::bitAnd, &ORVA_Value::bitOr, &ORVA_Value::bitXor})
   {
      ValuePtr value = text(L"abc");
      ValuePtr other = text(L"def");
      ((*value).*operation)(other.get());
      EXPECT_EQ(value->getDataType(), ORVA_DT_STRING);
      EXPECT_EQ(textOf(value.get()), L"abc");
   }
   ValuePtr value = text(L"abc");
   value->increment();
   value->decrement();
   value->negate();
   value->bitNot();
   value->lshift(1);
   value->rshift(1);
   EXPECT_EQ(value->getDataType(), ORVA_DT_STRING);
   EXPECT_EQ(textOf(value.get()), L"abc");
   EXPECT_FALSE(value->isZero());
   EXPECT_FALSE(value->isNonZero());

   ORVA_Value null;
   null.increment();
   null.add(&null);
   EXPECT_TRUE(null.isNull());
}

TEST(Arithmetic, UnaryTable)
{
   enum Operation { kIncrement, kDecrement, kNegate, kBitNot };
   struct Case
   {
      Operation operation;
      int type;
      uint64_t bits;
      int resultType;
      int64_t expected;
   } cases[] = {
      {kIncrement, ORVA_DT_INT32, static_cast<uint64_t>(kInt32Max), ORVA_DT_INT32, kInt32Min},
      {kDecrement, ORVA_DT_INT32, static_cast<uint64_t>(kInt32Min), ORVA_DT_INT32, kInt32Max},
      {kDecrement, ORVA_DT_UINT32, 0, ORVA_DT_UINT32, 4294967295LL},
      {kIncrement, ORVA_DT_INT64, static_cast<uint64_t>(-1), ORVA_DT_INT64, 0},
      {kIncrement, ORVA_DT_UINT64, kAllBits, ORVA_DT_UINT64, 0},
      {kDecrement, ORVA_DT_INT64, static_cast<uint64_t>(kInt64Min), ORVA_DT_INT64, kInt64Max},
      {kNegate, ORVA_DT_INT32, static_cast<uint64_t>(kInt32Min), ORVA_DT_INT32, kInt32Min},
      {kNegate, ORVA_DT_INT32, 5, ORVA_DT_INT32, -5},
      {kNegate, ORVA_DT_INT64, static_cast<uint64_t>(kInt64Min), ORVA_DT_INT64, kInt64Min},
      {kNegate, ORVA_DT_UINT32, 5, ORVA_DT_INT32, -5},
      {kNegate, ORVA_DT_UINT32, 0xFFFFFFFFu, ORVA_DT_INT32, 1},
      {kNegate, ORVA_DT_UINT64, 1, ORVA_DT_INT64, -1},
      {kBitNot, ORVA_DT_INT32, 0, ORVA_DT_INT32, -1},
      {kBitNot, ORVA_DT_UINT32, 0, ORVA_DT_UINT32, 4294967295LL},
      {kBitNot, ORVA_DT_INT64, 0, ORVA_DT_INT64, -1},
      {kBitNot, ORVA_DT_UINT64, kAllBits, ORVA_DT_UINT64, 0},
   };
   for (const Case &c : cases)
   {
      ValuePtr value = integer(c.type, c.bits);
      value->getValueAsCString();
      switch (c.operation)
      {
         case kIncrement: value->increment(); break;
         case kDecrement: value->decrement(); break;
         case kNegate: value->negate(); break;
         case kBitNot: value->bitNot(); break;
      }
      SCOPED_TRACE(std::to_string(c.operation) + " on " + std::to_string(c.type));
      EXPECT_EQ(value->getDataType(), c.resultType);
      EXPECT_EQ(value->getValueAsInt64(), c.expected);
      EXPECT_EQ(textOf(value.get()), std::to_wstring(c.expected));
   }

   ValuePtr zero = real(0.0);
   zero->negate();
   EXPECT_TRUE(std::signbit(zero->getValueAsReal()));
   EXPECT_TRUE(zero->isZero());
   ValuePtr inexact = real(1.5);
   inexact->increment();
   EXPECT_EQ(inexact->getValueAsReal(), 2.5);
   inexact->decrement();
   inexact->decrement();
   EXPECT_EQ(inexact->getValueAsReal(), 0.5);
   ValuePtr complemented = text(L"2.50");
   complemented->bitNot();
   EXPECT_EQ(complemented->getValueAsReal(), 2.5);
   EXPECT_EQ(textOf(complemented.get()), L"2.500000");
}

TEST(Arithmetic, ShiftTable)
{
   struct Case
   {
      int type;
      uint64_t bits;
      bool left;
      int count;
      int64_t expected;
   } cases[] = {
      {ORVA_DT_INT32, 1, true, 32, 1},
      {ORVA_DT_INT32, 1, true, 33, 2},
      {ORVA_DT_INT32, 1, true, -1, kInt32Min},
      {ORVA_DT_INT32, 1, true, 31, kInt32Min},
      {ORVA_DT_INT32, static_cast<uint64_t>(-8), false, 1, -4},
      {ORVA_DT_INT32, static_cast<uint64_t>(kInt32Min), false, 31, -1},
      {ORVA_DT_INT32, static_cast<uint64_t>(-8), true, 1, -16},
      {ORVA_DT_UINT32, 0x80000000u, false, 31, 1},
      {ORVA_DT_UINT32, 0xFFFFFFFFu, true, 4, 0xFFFFFFF0LL},
      {ORVA_DT_INT64, 1, true, 32, 4294967296LL},
      {ORVA_DT_INT64, 1, true, 63, kInt64Min},
      {ORVA_DT_INT64, 1, true, 64, 0},
      {ORVA_DT_INT64, 1, true, -1, 0},
      {ORVA_DT_INT64, 1, true, 256, 1},
      {ORVA_DT_INT64, static_cast<uint64_t>(-8), false, 1, -4},
      {ORVA_DT_INT64, static_cast<uint64_t>(-8), false, 64, -1},
      {ORVA_DT_INT64, 8, false, 100, 0},
      {ORVA_DT_UINT64, kAllBits, false, 63, 1},
      {ORVA_DT_UINT64, kAllBits, false, 64, 0},
      {ORVA_DT_UINT64, kAllBits, true, 200, 0},
   };
   for (const Case &c : cases)
   {
      ValuePtr value = integer(c.type, c.bits);
      value->getValueAsCString();
      if (c.left)
         value->lshift(c.count);
      else
         value->rshift(c.count);
      SCOPED_TRACE(std::to_string(c.type) + (c.left ? " << " : " >> ") + std::to_string(c.count));
      EXPECT_EQ(value->getDataType(), c.type);
      EXPECT_EQ(value->getValueAsInt64(), c.expected);
      EXPECT_EQ(textOf(value.get()), std::to_wstring(c.expected));
   }
   ValuePtr shiftedReal = text(L"2.50");
   shiftedReal->lshift(3);
   EXPECT_EQ(shiftedReal->getValueAsReal(), 2.5);
   EXPECT_EQ(textOf(shiftedReal.get()), L"2.500000");
}

TEST(Comparison, Table)
{
   struct Case
   {
      ValuePtr a, b;
      int eq, lt, le, gt, ge;
   };
   Case cases[] = {
      {integer(ORVA_DT_INT32, static_cast<uint64_t>(-1)), integer(ORVA_DT_INT32, 0), 0, 1, 1, 0, 0},
      {integer(ORVA_DT_INT32, 5), integer(ORVA_DT_INT32, 5), 1, 0, 1, 0, 1},
      {integer(ORVA_DT_UINT32, 0xFFFFFFFFu), integer(ORVA_DT_UINT32, 0), 0, 0, 0, 1, 1},
      {integer(ORVA_DT_INT64, static_cast<uint64_t>(-1)), integer(ORVA_DT_INT64, 0), 0, 1, 1, 0, 0},
      {integer(ORVA_DT_UINT64, kAllBits), integer(ORVA_DT_UINT64, 0), 0, 0, 0, 1, 1},
      {real(1.5), real(2.5), 0, 1, 1, 0, 0},
      {real(-0.0), real(0.0), 1, 0, 1, 0, 1},
      {real(kNaN), real(kNaN), 0, 0, 0, 0, 0},
      {real(kNaN), real(1.0), 0, 0, 0, 0, 0},
      {text(L"a"), text(L"a"), 0, 0, 0, 0, 0},
   };
   for (Case &c : cases)
   {
      SCOPED_TRACE(textOf(c.a.get()) + L" vs " + textOf(c.b.get()));
      EXPECT_EQ(c.a->EQ(c.b.get()), c.eq);
      EXPECT_EQ(c.a->LT(c.b.get()), c.lt);
      EXPECT_EQ(c.a->LE(c.b.get()), c.le);
      EXPECT_EQ(c.a->GT(c.b.get()), c.gt);
      EXPECT_EQ(c.a->GE(c.b.get()), c.ge);
   }
}

TEST(Comparison, ZeroTests)
{
   struct Case
   {
      ValuePtr value;
      bool zero, nonZero;
   };
   Case cases[] = {
      {real(0.0), true, false},
      {real(-0.0), true, false},
      {real(kNaN), false, true},
      {real(0.1), false, true},
      {integer(ORVA_DT_INT32, 0), true, false},
      {integer(ORVA_DT_UINT32, 1), false, true},
      {integer(ORVA_DT_INT64, 0x100000000ull), false, true},
      {integer(ORVA_DT_UINT64, 0x8000000000000000ull), false, true},
      {integer(ORVA_DT_UINT64, 0), true, false},
      {ValuePtr(new ORVA_Value()), false, false},
   };
   for (Case &c : cases)
   {
      EXPECT_EQ(c.value->isZero(), c.zero);
      EXPECT_EQ(c.value->isNonZero(), c.nonZero);
   }
}

TEST(Concatenation, Table)
{
   struct Case
   {
      ValuePtr receiver;
      std::wstring appended;
      int type;
      std::wstring text;
   };
   Case cases[] = {
      {text(L"1"), L"2", ORVA_DT_INT32, L"12"},
      {integer(ORVA_DT_INT32, 12), L"abc", ORVA_DT_STRING, L"12abc"},
      {real(1.5), L"x", ORVA_DT_STRING, L"1.500000x"},
      {text(L""), L"", ORVA_DT_INT32, L""},
      {integer(ORVA_DT_INT32, 12), L"3", ORVA_DT_INT32, L"123"},
      {integer(ORVA_DT_INT32, 10), L"x", ORVA_DT_STRING, L"10x"},
      {real(1.0), L"5", ORVA_DT_REAL, L"1.0000005"},
      {text(L"0x"), L"1A", ORVA_DT_INT32, L"0x1A"},
      {text(L"2147483647"), L"0", ORVA_DT_INT64, L"21474836470"},
      {integer(ORVA_DT_UINT64, kAllBits), L"", ORVA_DT_INT64, L"18446744073709551615"},
      {text(L"abc"), std::wstring(L"\0d", 2), ORVA_DT_STRING, std::wstring(L"abc\0d", 5)},
      {text(L"1"), std::wstring(L"\0", 1), ORVA_DT_STRING, std::wstring(L"1\0", 2)},
   };
   for (Case &c : cases)
   {
      c.receiver->concatenate(c.appended.data(), static_cast<uint32_t>(c.appended.size()));
      uint32_t length = 0;
      const wchar_t *characters = c.receiver->getValueAsString(&length);
      EXPECT_EQ(std::wstring(characters, length), c.text);
      EXPECT_EQ(c.receiver->getDataType(), c.type) << c.text;
   }
   ValuePtr joined = real(1.0);
   joined->concatenate(L"5", 1);
   EXPECT_EQ(joined->getValueAsReal(), 1.0000005);
   ValuePtr number = text(L"1");
   number->concatenate(L"2", 1);
   EXPECT_EQ(number->getValueAsInt32(), 12);
}

TEST(Concatenation, SpecialReceivers)
{
   ORVA_Value null;
   ASSERT_TRUE(null.convert(ORVA_DT_STRING));
   null.concatenate(L"5", 1);
   EXPECT_EQ(null.getDataType(), ORVA_DT_INT32);
   EXPECT_EQ(null.getValueAsInt32(), 5);

   // An array receiver's text form is empty: it lets the array go and becomes the text.
   ORVA_Array *array = new ORVA_Array();
   ORVA_Value arrayValue(array);
   array->incRefCount();
   arrayValue.concatenate(L"7", 1);
   EXPECT_EQ(arrayValue.getDataType(), ORVA_DT_INT32);
   EXPECT_EQ(arrayValue.getValueAsInt32(), 7);
   array->decRefCount();
   EXPECT_TRUE(array->isUnused());
   delete array;

   ValuePtr twice = text(L"ab");
   uint32_t length = 0;
   const wchar_t *own = twice->getValueAsString(&length);
   twice->concatenate(own, length);
   EXPECT_EQ(textOf(twice.get()), L"abab");

   ValuePtr nothing = text(L"x");
   nothing->concatenate(nullptr, 5);
   EXPECT_EQ(textOf(nothing.get()), L"x");
}

/* ---------------------------------------------------------------------------------------
 * Variables and variable sets
 * --------------------------------------------------------------------------------------- */

TEST(Variable, OwnsItsValue)
{
   ORVA_Variable empty(L"x");
   EXPECT_STREQ(empty.getName(), L"x");
   ASSERT_NE(empty.getValue(), nullptr);
   EXPECT_TRUE(empty.getValue()->isNull());
   EXPECT_FALSE(empty.isConstant());

   ORVA_Variable constant(L"pi", new ORVA_Value(3.14), true);
   EXPECT_TRUE(constant.isConstant());
   constant.setValue(new ORVA_Value(3));   // the flag is the engine's business
   EXPECT_EQ(constant.getValue()->getValueAsInt32(), 3);

   ORVA_Array *array = new ORVA_Array();
   ORVA_Variable holder(L"a", new ORVA_Value(array), false);
   ORVA_Variable copy(&holder);
   EXPECT_STREQ(copy.getName(), L"a");
   EXPECT_EQ(copy.getValue()->getValueAsArray(), array);   // shared, not copied
   copy.getValue()->getValueAsArray()->set(1, new ORVA_Value(1));
   EXPECT_EQ(array->size(), 1);
}

TEST(VariableSystem, FindCreateAndOrder)
{
   ORVA_VariableSystem set;
   EXPECT_FALSE(set.isConstant());
   EXPECT_EQ(set.find(L"x"), nullptr);
   ORVA_Variable *x = set.create(L"x", new ORVA_Value(1));
   ORVA_Variable *y = set.create(L"y", nullptr);
   EXPECT_EQ(set.find(L"x"), x);
   EXPECT_EQ(set.find(L"y"), y);
   EXPECT_TRUE(y->getValue()->isNull());
   EXPECT_EQ(set.find(L"X"), nullptr);
   EXPECT_EQ(set.find(nullptr), nullptr);
   EXPECT_FALSE(x->isConstant());

   ORVA_VariableSystem constants(true);
   EXPECT_TRUE(constants.create(L"c", nullptr)->isConstant());
}

// The same behaviour for small sets (linear search) and big ones (hash index), including
// duplicates: create never looks, and find returns the oldest variable of a name.
TEST(VariableSystem, DuplicatesOldestWinsAtEverySize)
{
   for (int size : {1, 5, 8, 9, 17, 100, 3000})
   {
      SCOPED_TRACE(size);
      ORVA_VariableSystem set;
      std::vector<ORVA_Variable *> first;
      for (int i = 0; i < size; i++)
         first.push_back(set.create((L"v" + std::to_wstring(i)).c_str(), new ORVA_Value(i)));
      for (int i = 0; i < size; i += 2)
         set.create((L"v" + std::to_wstring(i)).c_str(), new ORVA_Value(-i));
      EXPECT_EQ(set.getCount(), static_cast<uint32_t>(size + (size + 1) / 2));
      for (int i = 0; i < size; i++)
      {
         ORVA_Variable *found = set.find((L"v" + std::to_wstring(i)).c_str());
         ASSERT_EQ(found, first[i]);
         EXPECT_EQ(found->getValue()->getValueAsInt32(), i);
      }
      EXPECT_EQ(set.find(L"missing"), nullptr);
      EXPECT_EQ(set.find(L"V1"), nullptr);
      for (int i = 0; i < size; i++)
         EXPECT_EQ(set.getByIndex(i), first[i]);
      EXPECT_EQ(set.getByIndex(set.getCount()), nullptr);
   }
}

TEST(VariableSystem, CopyKeepsOrderAndFlag)
{
   ORVA_VariableSystem source(true);
   for (int i = 0; i < 12; i++)
      source.create((L"n" + std::to_wstring(i % 10)).c_str(), new ORVA_Value(i));
   ORVA_VariableSystem copy(&source);
   EXPECT_TRUE(copy.isConstant());
   ASSERT_EQ(copy.getCount(), 12u);
   for (uint32_t i = 0; i < 12; i++)
   {
      EXPECT_STREQ(copy.getByIndex(i)->getName(), source.getByIndex(i)->getName());
      EXPECT_NE(copy.getByIndex(i)->getValue(), source.getByIndex(i)->getValue());
      EXPECT_EQ(copy.getByIndex(i)->getValue()->getValueAsInt32(), static_cast<int>(i));
   }
   EXPECT_EQ(copy.find(L"n1")->getValue()->getValueAsInt32(), 1);
}

TEST(VariableSystem, MergeAddsOnlyMissingNames)
{
   ORVA_VariableSystem target;
   target.create(L"a", new ORVA_Value(1));
   ORVA_VariableSystem source(true);
   source.create(L"a", new ORVA_Value(100));
   source.create(L"b", new ORVA_Value(2));
   source.create(L"b", new ORVA_Value(3));
   source.create(L"A", new ORVA_Value(4));

   target.merge(&source);
   ASSERT_EQ(target.getCount(), 3u);
   EXPECT_EQ(target.find(L"a")->getValue()->getValueAsInt32(), 1);
   EXPECT_EQ(target.find(L"b")->getValue()->getValueAsInt32(), 2);
   EXPECT_EQ(target.find(L"A")->getValue()->getValueAsInt32(), 4);
   EXPECT_FALSE(target.find(L"b")->isConstant());
   EXPECT_NE(target.find(L"b")->getValue(), source.find(L"b")->getValue());

   target.merge(&target);
   EXPECT_EQ(target.getCount(), 3u);
}
