// Compiles a script for a test, failing the test (with the compiler's error text) when it
// does not compile.
#ifndef ORVA_TESTS_COMPILE_SCRIPT_H
#define ORVA_TESTS_COMPILE_SCRIPT_H

#include <orva.h>

#include <gtest/gtest.h>

#include <string>

inline ORVA_Program *compile(const wchar_t *source)
{
   wchar_t error[256] = L"";
   ORVA_Program *program = ORVACompile(source, error, 256);
   EXPECT_NE(program, nullptr) << ORVAToUtf8(error);
   return program;
}

inline ORVA_Program *compile(const std::wstring &source)
{
   return compile(source.c_str());
}

#endif
