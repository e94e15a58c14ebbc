// The lexer's UTF-8 copy of the source: ASCII sources take a shortcut, which must give
// exactly what the platform conversion gives for every source.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include <orva.h>

#include "compiler/compiler.h"
#include "platform/platform.h"

namespace {

TEST(LexerSource, MatchesThePlatformConversion)
{
   const std::wstring sources[] = {
      L"",
      L"x = 1;\n",
      std::wstring(100000, L'a') + L"\x7F",
      L"s = \"caf\xE9\";",
      L"\x20AC" + std::wstring(300, L'b'),
      std::wstring(L"lone \xD800 surrogate"),
      std::wstring(1, static_cast<wchar_t>(0x110000)) + L"beyond",
      std::wstring(1, static_cast<wchar_t>(-5)) + L"negative",
      std::wstring(1, static_cast<wchar_t>(0x80)),
   };
   for (const std::wstring &source : sources)
   {
      SCOPED_TRACE(source.size());
      char *expected = UTF8StringFromWideString(source.c_str());
      ASSERT_NE(expected, nullptr);
      ORVA_Lexer lexer(nullptr, source.c_str());
      ASSERT_NE(lexer.m_sourceText, nullptr);
      EXPECT_EQ(lexer.m_sourceSize, static_cast<int32_t>(strlen(expected)));
      EXPECT_STREQ(lexer.m_sourceText, expected);
      free(expected);
   }
   ORVA_Lexer empty(nullptr, static_cast<const wchar_t *>(nullptr));
   EXPECT_EQ(empty.m_sourceSize, 0);
}

}  // namespace
