// Running out of memory at any allocation of a run: the run either gives exactly the result
// and output of an undisturbed run, or stops with error 32 "Out of memory" having printed
// a prefix of that output. Never a wrong result, a crash or a leak (the sanitizer build
// checks leaks at exit).
//
// This test is linked with -Wl,--wrap for malloc, calloc, realloc and operator new (see
// tests/CMakeLists.txt): every call the library makes reaches the functions below, which
// fail the n-th allocation once and let all others through. The library itself carries no
// hook, so the normal build pays nothing for it.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include <orva.h>

extern "C" {
void *__real_malloc(size_t size);
void *__real_calloc(size_t count, size_t size);
void *__real_realloc(void *block, size_t size);
void *__real__Znwm(size_t size);
void *__real__Znam(size_t size);
}

namespace {

// The allocation to fail (counted from 1 since arming; 0: none) and the count so far.
thread_local long t_failAt = 0;
thread_local long t_allocations = 0;

bool failsNow()
{
   return t_failAt != 0 && ++t_allocations == t_failAt;
}

}  // namespace

extern "C" {

void *__wrap_malloc(size_t size)
{
   return failsNow() ? nullptr : __real_malloc(size);
}

void *__wrap_calloc(size_t count, size_t size)
{
   return failsNow() ? nullptr : __real_calloc(count, size);
}

void *__wrap_realloc(void *block, size_t size)
{
   return failsNow() ? nullptr : __real_realloc(block, size);
}

void *__wrap__Znwm(size_t size)
{
   if (failsNow())
      throw std::bad_alloc();
   return __real__Znwm(size);
}

void *__wrap__Znam(size_t size)
{
   if (failsNow())
      throw std::bad_alloc();
   return __real__Znam(size);
}

}

namespace {

struct Outcome
{
   int rc = 0;
   std::string output;
   std::wstring error;
   std::wstring result;
};

// Runs the program with its output captured, failing allocation `failAt` of the run (0:
// none).
Outcome runFailing(ORVA_Program *program, long failAt)
{
   Outcome outcome;
   char *buffer = nullptr;
   size_t size = 0;
   FILE *stream = open_memstream(&buffer, &size);
   auto *environment = new ORVA_Environment();
   environment->setIO(nullptr, stream);
   t_allocations = 0;
   t_failAt = failAt;
   outcome.rc = program->run(environment, 0, nullptr);
   t_failAt = 0;
   fclose(stream);
   outcome.output.assign(buffer, size);
   free(buffer);
   if (outcome.rc != 0 && program->getErrorText() != nullptr)
      outcome.error = program->getErrorText();
   ORVA_Value *result = program->getResult();
   if (result != nullptr && result->getValueAsCString() != nullptr)
      outcome.result = result->getValueAsCString();
   return outcome;
}

// Every kind of allocation a run makes: copies of texts and names, numbers turned into
// text, arrays copied and grown, captures, built-in results (texts and a TIME object),
// calls with named arguments, foreach, globals and printing.
const wchar_t *const kScript =
   L"sub join(a, b) { return a . \"-\" . b; }\n"
   L"sub named() { return $x . $1; }\n"
   L"array t; s = \"start\";\n"
   L"for (i = 0; i < 12; i++) { t[11 - i] = join(\"k\", i * 7); s = s . t[11 - i]; }\n"
   L"u = t; u[100] = \"more\"; c = s; n = 1.5 . \"\";\n"
   L"if (\"abc-123\" match \"([a-z]+)-([0-9]+)\") s .= $1 . $2;\n"
   L"foreach (v : u) if (v like \"k-1*\") s .= v;\n"
   L"global g = upper(left(s, 8)) . substr(s, 2, 3) . trim(\"  x  \");\n"
   L"when = localtime(0); y = when->year;\n"
   L"println length(s) . \" \" . length(c) . \" \" . (s == c) . \" \" . n . \" \" . g;\n"
   L"println named(x: \"named\") . typeof(y) . u[100] . u[3] . t[11];\n"
   L"return s . \"|\" . join(1, 2.5);";

// An array filled in a scattered order: it leaves its single list for chunks, and chunks
// split, each at an allocation of its own; the copy and the walk read the chunks.
const wchar_t *const kScatteredArray =
   L"array a; x = 1;\n"
   L"for (i = 0; i < 700; i++) { x = (x * 75 + 74) % 65537; a[x] = i; }\n"
   L"b = a; b[-1] = 1; sum = 0; n = 0;\n"
   L"foreach (v : b) { sum = (sum * 31 + v) % 1000003; n++; }\n"
   L"println n . \" \" . a[x] . \" \" . sum;\n"
   L"return sum;";

// An array filled without gaps across several pages of its value slots, copied, and then
// given a gap in front, which makes records of its elements.
const wchar_t *const kDenseArray =
   L"array a;\n"
   L"for (i = 0; i < 1100; i++) a[i] = i * 3;\n"
   L"b = a; b[1100] = \"end\"; a[-1] = 7; sum = 0; n = 0;\n"
   L"foreach (v : a) { sum = (sum * 31 + v) % 1000003; n++; }\n"
   L"println n . \" \" . b[1100] . \" \" . sum;\n"
   L"return sum;";

// Functions that work on texts in their parameters and locals: copies, constants,
// concatenation, built-in calls and their results, calls between such functions, and a
// foreach loop left by a return.
const wchar_t *const kTextFunctions =
   L"sub piece(s, i) { return left(s, i) . \",\" . length(s) . (s == \"ab\"); }\n"
   L"sub pieces(s, n) { t = \"\"; for (i = 0; i < n; i++) { t .= piece(s, i); u = t; } return t . upper(u); }\n"
   L"sub first(s) { array a; a[0] = 1; foreach (v : a) return s . v . substr(s, 2); }\n"
   L"println pieces(\"abcdef\", 6) . first(\"xyz\");\n"
   L"return pieces(\"q\", 3) . first(2.5);";

// Fails each allocation of a run of the script in turn, and checks every outcome; the
// undisturbed run prints `printed` among its output.
void failEveryAllocationOf(const wchar_t *script, const char *printed)
{
   wchar_t errorText[1024] = L"";
   ORVA_Program *program = ORVACompile(script, errorText, 1024);
   ASSERT_NE(program, nullptr) << errorText;
   const Outcome expected = runFailing(program, 0);
   ASSERT_EQ(expected.rc, 0) << expected.error;
   ASSERT_NE(expected.output.find(printed), std::string::npos) << expected.output;

   long failures = 0;
   for (long n = 1;; n++)
   {
      const Outcome outcome = runFailing(program, n);
      if (t_allocations < n)
      {
         // The run made fewer than n allocations, so none failed: it is the plain run.
         EXPECT_EQ(outcome.rc, 0) << "allocation " << n;
         EXPECT_EQ(outcome.output, expected.output) << "allocation " << n;
         EXPECT_EQ(outcome.result, expected.result) << "allocation " << n;
         break;
      }
      if (outcome.rc == 0)
      {
         // Memory ran out where the run could do without (a cache, an index).
         EXPECT_EQ(outcome.output, expected.output) << "allocation " << n;
         EXPECT_EQ(outcome.result, expected.result) << "allocation " << n;
         continue;
      }
      failures++;
      EXPECT_NE(outcome.error.find(L": Out of memory"), std::wstring::npos)
         << "allocation " << n << ": " << std::string(outcome.error.begin(), outcome.error.end());
      EXPECT_EQ(expected.output.compare(0, outcome.output.size(), outcome.output), 0)
         << "allocation " << n << " printed: " << outcome.output;
   }
   EXPECT_GT(failures, 0);

   // The program is as good as new.
   const Outcome after = runFailing(program, 0);
   EXPECT_EQ(after.output, expected.output);
   EXPECT_EQ(after.result, expected.result);
   delete program;
}

TEST(AllocationFailure, EveryAllocationOfARunFailsInTurn)
{
   failEveryAllocationOf(kScript, "named");
}

TEST(AllocationFailure, EveryAllocationOfTextFunctionsFailsInTurn)
{
   failEveryAllocationOf(kTextFunctions, "60xyz1yz");
}

TEST(AllocationFailure, EveryAllocationOfAScatteredArrayFillFailsInTurn)
{
   failEveryAllocationOf(kScatteredArray, "701 699 ");
}

TEST(AllocationFailure, EveryAllocationOfADenseArrayFillFailsInTurn)
{
   failEveryAllocationOf(kDenseArray, "1101 end ");
}

}  // namespace
