// Appending to a text recognises the joined text as a number exactly as making a value
// from the joined text does, also on the shortcut that appends digits to a decimal integer
// without reading the whole text again.
#include <gtest/gtest.h>

#include <string>

#include <orva.h>

namespace {

struct Reading
{
   int dataType;
   int64_t integer;
   double real;
   std::wstring text;
   std::wstring copiedText;
};

Reading readingOf(ORVA_Value &value)
{
   ORVA_Value copy(&value);
   return {value.getDataType(), value.getValueAsInt64(), value.getValueAsReal(), value.getValueAsCString(),
           copy.getValueAsCString()};
}

TEST(AppendRecognition, JoinedTextReadsAsWhenMadeAtOnce)
{
   const wchar_t *starts[] = {L"1", L"-1", L"+1", L" 7", L"0", L"0x1", L"12", L"2147483647", L"214748364",
                              L"-214748364", L"922337203685477580", L"9223372036854775807", L"-922337203685477580",
                              L"99999999999999999999", L"1.5", L"", L"-", L"abc", L"1e"};
   const wchar_t *appended[] = {L"0", L"7", L"8", L"9", L"123", L"00000000000000000000001", L"x", L"", L".5"};
   for (const wchar_t *start : starts)
   {
      for (const wchar_t *tail : appended)
      {
         for (bool numberFirst : {false, true})
         {
            ORVA_Value grown(start);
            // Also from a number whose text is formed from it rather than given.
            if (numberFirst && grown.isInteger())
            {
               grown.increment();
               grown.decrement();
            }
            const std::wstring startText = grown.getValueAsCString();
            grown.concatenate(tail, static_cast<uint32_t>(wcslen(tail)));
            ORVA_Value made((startText + tail).c_str());
            const Reading a = readingOf(grown);
            const Reading b = readingOf(made);
            SCOPED_TRACE(std::string(startText.begin(), startText.end()) + " + " +
                         std::string(tail, tail + wcslen(tail)));
            EXPECT_EQ(a.dataType, b.dataType);
            EXPECT_EQ(a.integer, b.integer);
            EXPECT_EQ(a.real, b.real);
            EXPECT_EQ(a.text, b.text);
            EXPECT_EQ(a.copiedText, b.copiedText);
         }
      }
   }
}

TEST(AppendRecognition, LongDigitTextsSaturateAsRecognitionDoes)
{
   ORVA_Value positive(L"1");
   ORVA_Value negative(L"-1");
   for (int i = 0; i < 100; i++)
   {
      positive.concatenate(L"9", 1);
      negative.concatenate(L"9", 1);
   }
   EXPECT_EQ(positive.getDataType(), ORVA_DT_INT64);
   EXPECT_EQ(positive.getValueAsInt64(), INT64_MAX);
   EXPECT_EQ(negative.getValueAsInt64(), INT64_MIN);
   uint32_t length = 0;
   positive.getValueAsString(&length);
   EXPECT_EQ(length, 101u);
   ORVA_Value copy(&positive);
   EXPECT_EQ(std::wstring(copy.getValueAsCString()), std::wstring(positive.getValueAsCString()));
}

}  // namespace
