// The platform layer: queue, wildcard matching, text conversions, number parsing, IPv4
// addresses, memory helpers and protocol messages.
#include "platform/platform.h"
#include "orva.h"
#include "comma_locale.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <string>

namespace {

std::wstring takeWide(wchar_t *text)
{
   std::wstring result = text != nullptr ? text : L"<null>";
   free(text);
   return result;
}

std::string takeNarrow(char *text)
{
   std::string result = text != nullptr ? text : "<null>";
   free(text);
   return result;
}

}

TEST(Queue, DeliversInOrderAcrossGrowthAndWrapAround)
{
   Queue queue;
   EXPECT_EQ(queue.Get(), nullptr);
   int items[100];
   intptr_t expected = 0;
   // Interleave puts and gets so the ring wraps while it grows.
   for (int i = 0; i < 100; i++)
   {
      queue.Put(&items[i]);
      if (i % 3 == 2)
      {
         EXPECT_EQ(queue.Get(), &items[expected++]);
      }
   }
   EXPECT_EQ(queue.Size(), 100 - expected);
   while (void *item = queue.Get())
      EXPECT_EQ(item, &items[expected++]);
   EXPECT_EQ(expected, 100);
   EXPECT_EQ(queue.Size(), 0);
}

TEST(Queue, WrapsAroundWithoutGrowing)
{
   // One item at a time: the ring never grows, and its head passes the end of the ring
   // several times.
   Queue queue;
   int items[40];
   for (int i = 0; i < 40; i++)
   {
      queue.Put(&items[i]);
      EXPECT_EQ(queue.Get(), &items[i]) << i;
   }
   EXPECT_EQ(queue.Get(), nullptr);
}

TEST(MatchString, Table)
{
   struct Case
   {
      const wchar_t *pattern;
      const wchar_t *text;
      bool matchCase;
      bool expected;
   } cases[] = {
      {L"abc", L"abc", true, true},
      {L"abc", L"abd", true, false},
      {L"abc", L"ab", true, false},
      {L"ab", L"abc", true, false},
      {L"*", L"", true, true},
      {L"", L"", true, true},
      {L"", L"a", true, false},
      {L"?", L"", true, false},
      {L"?", L"x", true, true},
      {L"a*c", L"abbbc", true, true},
      {L"a*c", L"abbbcd", true, false},
      {L"*c", L"cccc", true, true},
      {L"a*b*c", L"axxbyyc", true, true},
      {L"a*b*c", L"axxcyyb", true, false},
      {L"*.txt", L"file.txt", true, true},
      {L"*.txt", L"file.txt.bak", true, false},
      {L"a?c*", L"abcdef", true, true},
      {L"**a**", L"bab", true, true},
      {L"ABC", L"abc", true, false},
      {L"ABC", L"abc", false, true},
      {L"h*O", L"HELLO", false, true},
   };
   for (const Case &c : cases)
      EXPECT_EQ(MatchString(c.pattern, c.text, c.matchCase), c.expected) << "pattern " << c.pattern << " text " << c.text;
   EXPECT_FALSE(MatchString(nullptr, L"x", true));
   EXPECT_FALSE(MatchString(L"x", nullptr, true));
}

// A backtracking matcher would need astronomically many steps here.
TEST(MatchString, ManyStarsDoNotExplode)
{
   std::wstring pattern;
   for (int i = 0; i < 40; i++)
      pattern += L"a*";
   pattern += L"b";
   std::wstring text(5000, L'a');
   EXPECT_FALSE(MatchString(pattern.c_str(), text.c_str(), true));
   text += L"b";
   EXPECT_TRUE(MatchString(pattern.c_str(), text.c_str(), true));
}

TEST(Utf8, DecodesValidAndReplacesIllFormedSequences)
{
   struct Case
   {
      const char *utf8;
      std::wstring expected;
   } cases[] = {
      {"", L""},
      {"abc", L"abc"},
      {"\xC3\xA4", L"\u00e4"},
      {"\xE2\x82\xAC", L"\u20ac"},
      {"\xF0\x9F\x98\x80", std::wstring(1, static_cast<wchar_t>(0x1F600))},
      {"a\x80z", L"a\ufffdz"},                       // stray continuation byte
      {"\xC0\x80", L"\ufffd\ufffd"},                  // overlong NUL
      {"\xE0\x80\x80", L"\ufffd\ufffd\ufffd"},        // overlong form
      {"\xED\xA0\x80", L"\ufffd\ufffd\ufffd"},        // UTF-16 surrogate
      {"\xF4\x90\x80\x80", L"\ufffd\ufffd\ufffd\ufffd"}, // above U+10FFFF
      {"\xF5x", L"\ufffdx"},
      {"\xE2\x82", L"\ufffd"},                        // truncated at the end
      {"\xE2\x82" "A", L"\ufffdA"},                   // truncated before a letter
      {"\xF0\x9F\x98", L"\ufffd"},
      {"\xFF\xFE", L"\ufffd\ufffd"},
   };
   for (const Case &c : cases)
   {
      EXPECT_EQ(takeWide(WideStringFromUTF8String(c.utf8)), c.expected) << c.utf8;
      EXPECT_EQ(takeWide(WideStringFromMBString(c.utf8)), c.expected) << c.utf8;
   }
   EXPECT_EQ(WideStringFromUTF8String(nullptr), nullptr);
}

TEST(Utf8, EncodesAndReplacesNonScalarValues)
{
   std::wstring text = L"a\u00e4\u20ac";
   text += static_cast<wchar_t>(0x1F600);
   EXPECT_EQ(takeNarrow(UTF8StringFromWideString(text.c_str())), "a\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80");

   const wchar_t bad[] = {static_cast<wchar_t>(0xD800), static_cast<wchar_t>(0x110000), static_cast<wchar_t>(-1), 0};
   EXPECT_EQ(takeNarrow(UTF8StringFromWideString(bad)), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
   EXPECT_EQ(UTF8StringFromWideString(nullptr), nullptr);

   // The explicit-length form keeps zero characters.
   size_t bytes = 99;
   char *encoded = UTF8StringFromWideStringN(L"a\0\u00e4", 3, &bytes);
   ASSERT_NE(encoded, nullptr);
   EXPECT_EQ(std::string(encoded, bytes), std::string("a\0\xC3\xA4", 4));
   EXPECT_EQ(encoded[bytes], 0);
   free(encoded);
}

TEST(Utf8, RoundTripsEveryPlane)
{
   std::wstring text;
   for (uint32_t c = 1; c < 0x110000; c += 0x3F1)
   {
      if (c < 0xD800 || c > 0xDFFF)
         text += static_cast<wchar_t>(c);
   }
   char *utf8 = UTF8StringFromWideString(text.c_str());
   EXPECT_EQ(takeWide(WideStringFromUTF8String(utf8)), text);
   free(utf8);
}

TEST(IntegerParsing, SignedTable)
{
   struct Case
   {
      const char *text;
      int base;
      int64_t expected;
      size_t consumed;
      bool range;
   } cases[] = {
      {"0", 0, 0, 1, false},
      {"", 0, 0, 0, false},
      {"   ", 0, 0, 0, false},
      {"-", 0, 0, 0, false},
      {"12", 0, 12, 2, false},
      {"  -12x", 0, -12, 5, false},
      {"+7", 0, 7, 2, false},
      {"0x1A", 0, 26, 4, false},
      {"-0X10", 0, -16, 5, false},
      {"0x", 0, 0, 1, false},          // the 0 alone; stops at the x
      {"0xg", 0, 0, 1, false},
      {"010", 0, 8, 3, false},
      {"08", 0, 0, 1, false},          // octal stops at the 8
      {"\t\n\v\f\r 5", 0, 5, 7, false},
      {"ff", 16, 255, 2, false},
      {"0xff", 16, 255, 4, false},
      {"101", 2, 5, 3, false},
      {"z", 36, 35, 1, false},
      {"9223372036854775807", 0, INT64_MAX, 19, false},
      {"9223372036854775808", 0, INT64_MAX, 19, true},
      {"-9223372036854775808", 0, INT64_MIN, 20, false},
      {"-9223372036854775809", 0, INT64_MIN, 20, true},
      {"99999999999999999999999", 10, INT64_MAX, 23, true},
      {"0xFFFFFFFFFFFFFFFFF", 0, INT64_MAX, 19, true},
   };
   for (const Case &c : cases)
   {
      errno = 0;
      char *end = nullptr;
      EXPECT_EQ(qv_strtoll(c.text, &end, c.base), c.expected) << c.text;
      EXPECT_EQ(static_cast<size_t>(end - c.text), c.consumed) << c.text;
      EXPECT_EQ(errno == ERANGE, c.range) << c.text;

      std::wstring wide(c.text, c.text + strlen(c.text));
      wchar_t *wideEnd = nullptr;
      EXPECT_EQ(qv_wcstoll(wide.c_str(), &wideEnd, c.base), c.expected) << c.text;
      EXPECT_EQ(static_cast<size_t>(wideEnd - wide.c_str()), c.consumed) << c.text;
   }
   EXPECT_EQ(qv_strtoll("12", nullptr, 0), 12);
}

TEST(IntegerParsing, UnsignedTable)
{
   struct Case
   {
      const char *text;
      uint64_t expected;
      size_t consumed;
   } cases[] = {
      {"18446744073709551615", UINT64_MAX, 20},
      {"18446744073709551616", UINT64_MAX, 20},
      {"-1", UINT64_MAX, 2},
      {"0xFFFFFFFFFFFFFFFF", UINT64_MAX, 18},
      {"0777", 511, 4},
      {"abc", 0, 0},
   };
   for (const Case &c : cases)
   {
      char *end = nullptr;
      EXPECT_EQ(qv_strtoull(c.text, &end, 0), c.expected) << c.text;
      EXPECT_EQ(static_cast<size_t>(end - c.text), c.consumed) << c.text;
   }
}

TEST(IntegerParsing, InvalidBaseConvertsNothing)
{
   char *end = nullptr;
   const char *text = "12";
   EXPECT_EQ(qv_strtoll(text, &end, 1), 0);
   EXPECT_EQ(end, text);
   EXPECT_EQ(qv_strtoull(text, &end, 37), 0u);
   EXPECT_EQ(end, text);
}

TEST(RealParsing, Table)
{
   struct Case
   {
      const char *text;
      double expected;
      size_t consumed;
   } cases[] = {
      {"1.5", 1.5, 3},
      {"  -2.5e3", -2500.0, 8},
      {"+1E+2", 100.0, 5},
      {"1e-2", 0.01, 4},
      {".5", 0.5, 2},
      {"5.", 5.0, 2},
      {"08", 8.0, 2},
      {"1e", 1.0, 1},          // an exponent needs a digit
      {"1e+", 1.0, 1},
      {"1,5", 1.0, 1},         // always '.' as decimal point
      {"0x1p3", 0.0, 1},       // no hexadecimal floating form
      {".", 0.0, 0},
      {"-", 0.0, 0},
      {"", 0.0, 0},
      {"inf", 0.0, 0},         // names of infinity and NaN are not numbers
      {"nan", 0.0, 0},
      {"-infinity", 0.0, 0},
      {"0.1", 0.1, 3},
      {"123456789012345678901234567890", 1.2345678901234568e29, 30},
      {"4.9e-324", 4.9e-324, 8},
   };
   for (const Case &c : cases)
   {
      char *end = nullptr;
      EXPECT_EQ(qv_strtod(c.text, &end), c.expected) << c.text;
      EXPECT_EQ(static_cast<size_t>(end - c.text), c.consumed) << c.text;

      std::wstring wide(c.text, c.text + strlen(c.text));
      wchar_t *wideEnd = nullptr;
      EXPECT_EQ(qv_wcstod(wide.c_str(), &wideEnd), c.expected) << c.text;
      EXPECT_EQ(static_cast<size_t>(wideEnd - wide.c_str()), c.consumed) << c.text;
   }
}

TEST(RealParsing, OverflowAndUnderflowSaturateWithRangeError)
{
   struct Case
   {
      const char *text;
      double expected;
   } cases[] = {
      {"1e400", HUGE_VAL},
      {"-1e400", -HUGE_VAL},
      {"1e999999999999999999999", HUGE_VAL},
      {"1e-400", 0.0},
      {"-1e-400", -0.0},
      {"0.0000001e-400", 0.0},
   };
   for (const Case &c : cases)
   {
      char *end = nullptr;
      double result = qv_strtod(c.text, &end);
      EXPECT_EQ(result, c.expected) << c.text;
      EXPECT_EQ(std::signbit(result), std::signbit(c.expected)) << c.text;
      EXPECT_EQ(*end, 0) << c.text;
   }
   errno = 0;
   qv_strtod("1e400", nullptr);
   EXPECT_EQ(errno, ERANGE);
}

TEST(RealParsing, IgnoresTheHostLocale)
{
   CommaLocaleScope locale;
   if (!locale.active)
      GTEST_SKIP() << "no comma-decimal locale available";
   wchar_t *end = nullptr;
   const wchar_t *text = L"1.5";
   EXPECT_EQ(qv_wcstod(text, &end), 1.5);
   EXPECT_EQ(end, text + 3);
   EXPECT_EQ(qv_strtod("1,5", nullptr), 1.0);
}

TEST(InetAddr, Table)
{
   struct Case
   {
      const wchar_t *text;
      uint32_t hostOrder;
   } cases[] = {
      {L"192.168.1.2", 0xC0A80102},
      {L"0.0.0.0", 0},
      {L"10.1", 0x0A000001},
      {L"127.0.0.1", 0x7F000001},
      {L"0x7f.1", 0x7F000001},
      {L"255.255.255.255", 0xFFFFFFFF},
      {L"256.1.1.1", 0xFFFFFFFF},
      {L"1.2.3.4.5", 0xFFFFFFFF},
      {L"abc", 0xFFFFFFFF},
      {L"", 0xFFFFFFFF},
      {L"1.2.3.\u00e9", 0xFFFFFFFF},
      {L"1.2.3.\u0134", 0xFFFFFFFF},  // its low byte is '4': no character is cut to a byte
      {L"1.2.3.4xyz", 0xFFFFFFFF},
   };
   for (const Case &c : cases)
      EXPECT_EQ(inet_addr_w(c.text), htonl(c.hostOrder)) << c.text;
   EXPECT_EQ(inet_addr_w(nullptr), 0xFFFFFFFFu);
   std::wstring longText(200, L'1');
   EXPECT_EQ(inet_addr_w(longText.c_str()), 0xFFFFFFFFu);
}

TEST(Memory, DuplicatesAndCompares)
{
   const char bytes[] = {1, 0, 2};
   char *copy = static_cast<char *>(qv_memdup(bytes, 3));
   ASSERT_NE(copy, nullptr);
   EXPECT_EQ(memcmp(copy, bytes, 3), 0);
   free(copy);
   void *empty = qv_memdup(nullptr, 0);
   EXPECT_NE(empty, nullptr);
   free(empty);

   EXPECT_EQ(takeWide(qv_wcsdup(L"text")), L"text");
   EXPECT_EQ(qv_wcsdup(nullptr), nullptr);

   EXPECT_EQ(qv_wcsicmp(L"Module", L"mODULE"), 0);
   EXPECT_LT(qv_wcsicmp(L"abc", L"ABD"), 0);
   EXPECT_GT(qv_wcsicmp(L"abcd", L"ABC"), 0);
   EXPECT_NE(qv_wcsicmp(L"\u00c4", L"\u00e4"), 0);   // only A-Z fold
   EXPECT_NE(qv_wcsicmp(L"[", L"{"), 0);
   EXPECT_EQ(qv_wcsicmp(nullptr, nullptr), 0);
   EXPECT_LT(qv_wcsicmp(nullptr, L""), 0);
}

TEST(KWMPMessage, StoresNumberedFields)
{
   KWMPMessage message;
   EXPECT_EQ(message.GetFieldCount(), 0u);
   message.SetVariable(206, 3u);
   message.SetVariable(0x10000001, L"name");
   message.SetVariable(7, static_cast<const wchar_t *>(nullptr));
   EXPECT_EQ(message.GetFieldCount(), 3u);
   EXPECT_EQ(message.GetVariableLong(206), 3u);
   EXPECT_STREQ(message.GetVariableStr(0x10000001), L"name");
   EXPECT_STREQ(message.GetVariableStr(7), L"");
   EXPECT_TRUE(message.IsFieldSet(206));
   EXPECT_FALSE(message.IsFieldSet(5));

   // Wrong kind or absent reads as 0 / null; setting again replaces the field and its kind.
   EXPECT_EQ(message.GetVariableLong(0x10000001), 0u);
   EXPECT_EQ(message.GetVariableStr(206), nullptr);
   EXPECT_EQ(message.GetVariableStr(5), nullptr);
   message.SetVariable(206, L"now text");
   EXPECT_EQ(message.GetFieldCount(), 3u);
   EXPECT_EQ(message.GetVariableLong(206), 0u);
   EXPECT_STREQ(message.GetVariableStr(206), L"now text");
}
