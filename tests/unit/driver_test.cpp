// The exported entry points: ORVACompile and ORVACompileUTF8 with their error buffer,
// ORVALoadFile and ORVAGetVersion.
#include <gtest/gtest.h>

#include <orva.h>
#include "compiler/compiler.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

// Compiles source and returns the error text (empty when the compilation succeeded).
std::wstring compileError(const wchar_t *source)
{
   wchar_t buffer[1024];
   ORVA_Program *program = ORVACompile(source, buffer, 1024);
   if (program != nullptr)
   {
      delete program;
      return L"";
   }
   return buffer;
}

struct CompileErrorCase
{
   const wchar_t *source;
   const wchar_t *errorText;
};

class CompileErrors : public ::testing::TestWithParam<CompileErrorCase>
{
};

TEST_P(CompileErrors, ReportFirstErrorWithLine)
{
   EXPECT_EQ(compileError(GetParam().source), GetParam().errorText);
}

INSTANTIATE_TEST_SUITE_P(Driver, CompileErrors, ::testing::Values(
   CompileErrorCase{L"", L"Error in line 1: syntax error, unexpected $end"},
   CompileErrorCase{nullptr, L"Error in line 1: syntax error, unexpected $end"},
   CompileErrorCase{L"x = 1;\ny = 2;\na = ;", L"Error in line 3: syntax error, unexpected ';'"},
   // The text before the invalid character is a complete script; the error still counts.
   CompileErrorCase{L"x = 1; #", L"Error in line 1: Invalid character '#' (0x23)"},
   CompileErrorCase{L"x = \"a\nb\";", L"Error in line 1: Newline in string constant"},
   CompileErrorCase{L"sub f() {}\nsub f() {}", L"Error in line 2: Duplicate function name: \"f\""},
   // A lexical error ends the input; the syntax error that follows is not reported.
   CompileErrorCase{L"x = @ 1;", L"Error in line 1: Invalid character '@' (0x40)"},
   // Errors inside open loops and switches: their break lists must still be released.
   CompileErrorCase{L"while (a) {\n break;\n x = ;", L"Error in line 3: syntax error, unexpected ';'"},
   CompileErrorCase{L"do { switch (a) { case 1: break; #", L"Error in line 1: Invalid character '#' (0x23)"}));

TEST(Driver, CompilesAScript)
{
   wchar_t buffer[16];
   wcscpy(buffer, L"untouched");
   ORVA_Program *program = ORVACompile(L"x = 2; println x * 3;", buffer, 16);
   ASSERT_NE(program, nullptr);
   EXPECT_STREQ(buffer, L"untouched");
   EXPECT_GT(program->getCodeSize(), 0u);
   ASSERT_GE(program->getFunctionCount(), 1u);
   delete program;
}

TEST(Driver, CompiledProgramRuns)
{
   ORVA_Program *program = ORVACompile(L"x = 0x10 + 010; return x * 2 + 10;", nullptr, 0);
   ASSERT_NE(program, nullptr);
   ASSERT_EQ(program->run(nullptr, 0, nullptr), 0);
   ASSERT_NE(program->getResult(), nullptr);
   EXPECT_EQ(program->getResult()->getValueAsInt32(), 58);
   delete program;
}

// The result of running a program compiled from UTF-8 bytes, or its compile error.
std::wstring runUtf8(const char *source)
{
   wchar_t buffer[1024];
   ORVA_Program *program = ORVACompileUTF8(source, buffer, 1024);
   if (program == nullptr)
      return buffer;
   program->run(nullptr, 0, nullptr);
   uint32_t length = 0;
   const wchar_t *text = program->getResult()->getValueAsString(&length);
   std::wstring result(text, length);
   delete program;
   return result;
}

// UTF-8 source compiles as its decoded text does, except that an invalid byte outside a
// literal is reported as the byte itself rather than as U+FFFD's first byte.
TEST(Driver, CompilesUtf8Bytes)
{
   const struct
   {
      const char *source;
      const wchar_t *expected;
   } cases[] = {
      {"return \"a\xFF" "b\" . \"\xE2\x82\" . \"\xC3\xA9\";", L"a\xFFFD" L"b\xFFFD\xE9"},
      {"x = 1;\n\xFF", L"Error in line 2: Invalid character '\xFFFD' (0xFF)"},
      {"x = 1; \xC3 ", L"Error in line 1: Invalid character '\xFFFD' (0xC3)"},
      {"x = \xE2\x82\xAC;", L"Error in line 1: Invalid character '\xFFFD' (0xE2)"},
      {"", L"Error in line 1: syntax error, unexpected $end"},
   };
   for (const auto &c : cases)
   {
      SCOPED_TRACE(c.source);
      EXPECT_EQ(runUtf8(c.source), c.expected);
   }
   EXPECT_EQ(compileError(L"return \"a\xFFFD" "b\";"), L"");
   EXPECT_EQ(compileError(L"x = 1;\n\xFFFD"), L"Error in line 2: Invalid character '\xFFFD' (0xEF)");
   EXPECT_EQ(ORVACompileUTF8(nullptr, nullptr, 0) != nullptr, ORVACompile(nullptr, nullptr, 0) != nullptr);
}

// Compilations keep all their state in the call.
TEST(Driver, CompilesOnSeveralThreads)
{
   std::vector<std::thread> threads;
   std::vector<int> failures(4, 0);
   for (int t = 0; t < 4; t++)
   {
      threads.emplace_back([t, &failures]() {
         for (int i = 0; i < 50; i++)
         {
            std::wstring good = L"x = \"text\";\n/* c */ y = " + std::to_wstring(t * 100 + i) + L";";
            std::wstring bad = std::wstring(static_cast<size_t>(t + 1), L'\n') + L"x = 1; @";
            std::wstring expected = L"Error in line " + std::to_wstring(t + 2) + L": Invalid character '@' (0x40)";
            if (compileError(good.c_str()) != L"" || compileError(bad.c_str()) != expected)
               failures[t]++;
         }
      });
   }
   for (std::thread &thread : threads)
      thread.join();
   EXPECT_EQ(failures, std::vector<int>(4, 0));
}

TEST(Driver, ErrorBufferIsCutToItsSize)
{
   wchar_t buffer[16];
   wmemset(buffer, L'#', 16);
   EXPECT_EQ(ORVACompile(L"#", buffer, 10), nullptr);
   EXPECT_STREQ(buffer, L"Error in ");
   EXPECT_EQ(buffer[10], L'#');

   wmemset(buffer, L'#', 16);
   EXPECT_EQ(ORVACompile(L"#", buffer, 1), nullptr);
   EXPECT_EQ(buffer[0], 0);
   EXPECT_EQ(buffer[1], L'#');
}

TEST(Driver, ErrorBufferOfNoSizeIsLeftAlone)
{
   wchar_t buffer[4];
   wcscpy(buffer, L"abc");
   EXPECT_EQ(ORVACompile(L"#", buffer, 0), nullptr);
   EXPECT_EQ(ORVACompile(L"#", buffer, -5), nullptr);
   EXPECT_STREQ(buffer, L"abc");
   // The module loader compiles without a buffer.
   EXPECT_EQ(ORVACompile(L"#", nullptr, 0), nullptr);
   EXPECT_EQ(ORVACompile(L"#", nullptr, 100), nullptr);
}

TEST(Driver, CopyErrorTextWithoutTextGivesNull)
{
   wchar_t buffer[16];
   ORVA_Compiler::copyErrorText(buffer, 16, nullptr);
   EXPECT_STREQ(buffer, L"(null)");
   ORVA_Compiler::copyErrorText(buffer, 4, nullptr);
   EXPECT_STREQ(buffer, L"(nu");
   ORVA_Compiler::copyErrorText(buffer, 16, L"exactly fifteen");
   EXPECT_STREQ(buffer, L"exactly fifteen");
   ORVA_Compiler::copyErrorText(buffer, 15, L"exactly fifteen");
   EXPECT_STREQ(buffer, L"exactly fiftee");
}

TEST(Driver, FirstErrorWinsAndIsCutTo1024Bytes)
{
   ORVA_Compiler compiler;
   std::string longMessage(2000, 'm');
   compiler.error(longMessage.c_str());
   compiler.error("second");
   std::wstring text = compiler.getErrorText();
   // No lexer yet: the line is 0.
   EXPECT_EQ(text.substr(0, 17), L"Error in line 0: ");
   EXPECT_EQ(text.size(), 1023u);
   EXPECT_EQ(text.back(), L'm');
}

TEST(Driver, Version)
{
   EXPECT_STREQ(ORVAGetVersion(), ORVA_VERSION_STRING);
   EXPECT_STREQ(ORVAGetVersion(), "0.1.0");
}

// Files for ORVALoadFile, removed when the test ends.
class LoadFile : public ::testing::Test
{
protected:
   void SetUp() override
   {
      char pattern[] = "/tmp/orva_load_XXXXXX";
      ASSERT_NE(mkdtemp(pattern), nullptr);
      m_dir = pattern;
   }
   void TearDown() override
   {
      std::string command = "rm -rf '" + m_dir + "'";
      ASSERT_EQ(system(command.c_str()), 0);
   }

   std::wstring write(const char *name, const std::string &bytes)
   {
      std::string path = m_dir + "/" + name;
      FILE *file = fopen(path.c_str(), "wb");
      EXPECT_NE(file, nullptr);
      if (file != nullptr)
      {
         fwrite(bytes.data(), 1, bytes.size(), file);
         fclose(file);
      }
      return std::wstring(path.begin(), path.end());
   }

   std::string m_dir;
};

struct LoadCase
{
   const char *name;
   std::string bytes;
   std::wstring text;
};

TEST_F(LoadFile, ReadsUtf8Text)
{
   const LoadCase cases[] = {
      {"empty.orva", std::string(), L""},
      {"plain.orva", "println 1;\n", L"println 1;\n"},
      {"zeros.orva", std::string("a\0b\0", 4), L"a b "},
      {"utf8.orva", "\"\xC3\xA9\xE2\x82\xAC\"", L"\"\xE9\x20AC\""},
      {"invalid.orva", "a\xFF" "b", L"a\xFFFD" "b"},
   };
   for (const LoadCase &c : cases)
   {
      SCOPED_TRACE(c.name);
      std::wstring path = write(c.name, c.bytes);
      uint32_t size = 12345;
      wchar_t *text = ORVALoadFile(path.c_str(), &size);
      ASSERT_NE(text, nullptr);
      EXPECT_EQ(std::wstring(text), c.text);
      EXPECT_EQ(size, c.bytes.size());
      free(text);
   }
}

TEST_F(LoadFile, ReadsLargeFilesInPieces)
{
   std::string bytes;
   for (int i = 0; bytes.size() < 50000; i++)
      bytes += "x" + std::to_string(i) + " = " + std::to_string(i) + ";\n";
   std::wstring path = write("large.orva", bytes);
   uint32_t size = 0;
   wchar_t *text = ORVALoadFile(path.c_str(), &size);
   ASSERT_NE(text, nullptr);
   EXPECT_EQ(size, bytes.size());
   EXPECT_EQ(std::wstring(text), std::wstring(bytes.begin(), bytes.end()));
   free(text);
}

TEST_F(LoadFile, FailsWithoutTouchingSize)
{
   std::wstring missing = std::wstring(m_dir.begin(), m_dir.end()) + L"/missing.orva";
   std::wstring directory(m_dir.begin(), m_dir.end());
   for (const std::wstring &path : {missing, directory})
   {
      uint32_t size = 12345;
      EXPECT_EQ(ORVALoadFile(path.c_str(), &size), nullptr);
      EXPECT_EQ(size, 12345u);
   }
   uint32_t size = 12345;
   EXPECT_EQ(ORVALoadFile(nullptr, &size), nullptr);
   EXPECT_EQ(size, 12345u);
}

TEST_F(LoadFile, WideFileNamesAndNoSizeReceiver)
{
   std::string name = "caf\xC3\xA9.orva";
   write(name.c_str(), "x;");
   std::wstring path = std::wstring(m_dir.begin(), m_dir.end()) + L"/caf\xE9.orva";
   wchar_t *text = ORVALoadFile(path.c_str(), nullptr);
   ASSERT_NE(text, nullptr);
   EXPECT_STREQ(text, L"x;");
   free(text);
}

TEST_F(LoadFile, LoadedScriptCompiles)
{
   std::wstring path = write("script.orva", std::string("x = 1;\0// zero byte above\n", 26));
   wchar_t *text = ORVALoadFile(path.c_str(), nullptr);
   ASSERT_NE(text, nullptr);
   EXPECT_EQ(compileError(text), L"");
   free(text);
}

}  // namespace
