// What a host can do against scripts it does not trust: run limits (steps, text length,
// array size), interruption from another thread, running out of memory, and the inputs
// that must fail with a clear error rather than crash or hang (deep nesting, long
// literals, bad source bytes, huge patterns, numbers at their extremes).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>

#include <orva.h>

#include "vm/errors.h"

// Allocation failure on demand: after arm(n), the n+1-th operator new of this process
// throws std::bad_alloc, and so does every later one until disarm(). The counter of live
// blocks lets a test see that everything allocated was released again.
namespace {
std::atomic<long> s_allocationsLeft{-1};  // -1: never fail
std::atomic<long> s_liveBlocks{0};

void arm(long allocations) { s_allocationsLeft = allocations; }
void disarm() { s_allocationsLeft = -1; }
}  // namespace

void *operator new(std::size_t size)
{
   long left = s_allocationsLeft.load();
   if (left == 0 || (left > 0 && s_allocationsLeft.fetch_sub(1) <= 0))
      throw std::bad_alloc();
   void *block = std::malloc(size > 0 ? size : 1);
   if (block == nullptr)
      throw std::bad_alloc();
   s_liveBlocks++;
   return block;
}

void operator delete(void *block) noexcept
{
   if (block == nullptr)
      return;
   s_liveBlocks--;
   std::free(block);
}

void operator delete(void *block, std::size_t) noexcept { operator delete(block); }

// The library also allocates with new (std::nothrow): those blocks come from here too, so
// that the delete above always frees what this file's malloc gave out.
void *operator new(std::size_t size, const std::nothrow_t &) noexcept
{
   try
   {
      return operator new(size);
   }
   catch (const std::bad_alloc &)
   {
      return nullptr;
   }
}

void operator delete(void *block, const std::nothrow_t &) noexcept { operator delete(block); }

namespace {

struct Outcome
{
   int rc;
   std::wstring error;
   std::wstring result;
};

std::wstring textOf(ORVA_Value *value)
{
   if (value == nullptr)
      return L"(none)";
   uint32_t length = 0;
   const wchar_t *text = value->getValueAsString(&length);
   return text != nullptr ? text : L"(no text)";
}

ORVA_Program *compile(const std::wstring &source)
{
   wchar_t errorText[1024] = L"";
   ORVA_Program *program = ORVACompile(source.c_str(), errorText, 1024);
   EXPECT_NE(program, nullptr) << errorText;
   return program;
}

Outcome runProgram(ORVA_Program *program, ORVA_Environment *environment = nullptr)
{
   int rc = program->run(environment, 0, nullptr);
   return {rc, rc != 0 && program->getErrorText() != nullptr ? program->getErrorText() : L"",
           textOf(program->getResult())};
}

Outcome run(const std::wstring &source, const ORVA_RunLimits &limits = ORVA_RunLimits())
{
   ORVA_Program *program = compile(source);
   if (program == nullptr)
      return {-2, L"does not compile", L""};
   program->setRunLimits(limits);
   Outcome outcome = runProgram(program);
   delete program;
   return outcome;
}

ORVA_RunLimits steps(uint64_t n) { ORVA_RunLimits l; l.maxSteps = n; return l; }
ORVA_RunLimits text(uint32_t n) { ORVA_RunLimits l; l.maxTextLength = n; return l; }
ORVA_RunLimits elements(uint32_t n) { ORVA_RunLimits l; l.maxArrayElements = n; return l; }

TEST(RunLimits, NewErrorCodesFollowTheSpecifiedOnes)
{
   EXPECT_STREQ(GetRuntimeErrorMessage(26), L"Named parameter required");
   EXPECT_STREQ(GetRuntimeErrorMessage(27), L"Unknown error code");
   EXPECT_STREQ(GetRuntimeErrorMessage(ORVA_ERR_STEP_LIMIT), L"Instruction limit exceeded");
   EXPECT_STREQ(GetRuntimeErrorMessage(ORVA_ERR_TEXT_LIMIT), L"Text length limit exceeded");
   EXPECT_STREQ(GetRuntimeErrorMessage(ORVA_ERR_ARRAY_LIMIT), L"Array size limit exceeded");
   EXPECT_STREQ(GetRuntimeErrorMessage(ORVA_ERR_INTERRUPTED), L"Run interrupted");
   EXPECT_STREQ(GetRuntimeErrorMessage(ORVA_ERR_OUT_OF_MEMORY), L"Out of memory");
   EXPECT_STREQ(GetRuntimeErrorMessage(ORVA_ERR_ALREADY_RUNNING), L"Program is already running");
   EXPECT_STREQ(GetRuntimeErrorMessage(34), L"Unknown error code");
}

TEST(RunLimits, EachLimitStopsARunawayScript)
{
   struct Case { const char *name; const wchar_t *source; ORVA_RunLimits limits; const wchar_t *error; };
   const Case cases[] = {
      {"endless loop", L"while (1) ;", steps(100000), L"Error 28 in line 1: Instruction limit exceeded"},
      {"endless recursion", L"sub f() { return f(); }\nreturn f();", steps(20000),
       L"Error 28 in line 1: Instruction limit exceeded"},
      {"doubling text", L"s = \"x\";\nwhile (1) s = s . s;", text(1000), L"Error 29 in line 2: Text length limit exceeded"},
      {"concatenation assignment", L"s = \"\"; while (1) s .= \"abc\";", text(10),
       L"Error 29 in line 1: Text length limit exceeded"},
      {"padding built-in", L"\n\nx = left(\"a\", 2000000000);", text(100), L"Error 29 in line 3: Text length limit exceeded"},
      {"growing array", L"array a; i = 0;\nwhile (1)\n  a[i++] = i;", elements(1000),
       L"Error 30 in line 3: Array size limit exceeded"},
      {"growing array of computed numbers", L"array a; i = 0;\nwhile (1) {\n  a[i] = i * 2;\n  i++; }", elements(1000),
       L"Error 30 in line 3: Array size limit exceeded"},
      {"growing array of a constant", L"array a; i = 0;\nwhile (1) {\n  a[i] = 0;\n  i++; }", elements(1000),
       L"Error 30 in line 3: Array size limit exceeded"},
   };
   for (const Case &c : cases)
   {
      Outcome outcome = run(c.source, c.limits);
      EXPECT_EQ(outcome.rc, -1) << c.name;
      EXPECT_EQ(outcome.error, c.error) << c.name;
   }
}

TEST(RunLimits, TextOverTheLimitIsNotKept)
{
   // The append that would pass the limit fails before it changes the variable.
   ORVA_Program *program = compile(L"global s = \"\";\nwhile (1)\n  s .= \"abc\";");
   program->setRunLimits(text(10));
   ORVA_VariableSystem *globals = nullptr;
   EXPECT_EQ(program->run(nullptr, 0, nullptr, nullptr, &globals), -1);
   EXPECT_STREQ(program->getErrorText(), L"Error 29 in line 3: Text length limit exceeded");
   ASSERT_NE(globals, nullptr);
   ASSERT_NE(globals->find(L"s"), nullptr);
   EXPECT_EQ(textOf(globals->find(L"s")->getValue()), L"abcabcabc");
   delete globals;
   delete program;
}

TEST(RunLimits, BoundariesAreExact)
{
   // Text: exactly the limit is allowed, one more is not.
   EXPECT_EQ(run(L"return \"abc\" . \"de\";", text(5)).result, L"abcde");
   EXPECT_EQ(run(L"return \"abc\" . \"def\";", text(5)).rc, -1);
   EXPECT_EQ(run(L"return left(\"a\", 5);", text(5)).result, L"a    ");
   EXPECT_EQ(run(L"return left(\"a\", 6);", text(5)).rc, -1);

   // Arrays: the limit counts elements; replacing one is not growing.
   const wchar_t *fill = L"array a; for (i = 0; i < 3; i++) a[i * 1000] = i; a[0] = 7; a[-2147483648] = 1; return a[0];";
   EXPECT_EQ(run(fill, elements(4)).result, L"7");
   EXPECT_EQ(run(fill, elements(3)).error, L"Error 30 in line 1: Array size limit exceeded");
   const wchar_t *computed = L"array a; for (i = 0; i < 3; i++) a[i * 1000] = i + 1; a[0] = 7; a[-2147483648] = 1; return a[0];";
   EXPECT_EQ(run(computed, elements(4)).result, L"7");
   EXPECT_EQ(run(computed, elements(3)).error, L"Error 30 in line 1: Array size limit exceeded");

   // Steps: find the script's instruction count with the limit, across several
   // checkpoint slices; one fewer fails.
   const wchar_t *loop = L"for (i = 0; i < 3000; i++) ; return i;";
   uint64_t low = 1, high = 1000000;
   while (low < high)
   {
      uint64_t middle = (low + high) / 2;
      if (run(loop, steps(middle)).rc == 0)
         high = middle;
      else
         low = middle + 1;
   }
   EXPECT_GT(low, 9000u);
   EXPECT_EQ(run(loop, steps(low)).result, L"3000");
   EXPECT_EQ(run(loop, steps(low - 1)).error, L"Error 28 in line 1: Instruction limit exceeded");
}

TEST(RunLimits, OffByDefaultAndKeptUntilChanged)
{
   const wchar_t *big = L"s = \"\"; array a; for (i = 0; i < 2000; i++) { s .= \"xyz\"; a[i] = i; } return length(s);";
   EXPECT_EQ(run(big).result, L"6000");

   ORVA_Program *program = compile(big);
   ASSERT_NE(program, nullptr);
   program->setRunLimits(steps(1000));
   EXPECT_EQ(runProgram(program).rc, -1);
   EXPECT_EQ(runProgram(program).rc, -1);  // still limited, and runnable after the error
   program->setRunLimits(ORVA_RunLimits());
   EXPECT_EQ(runProgram(program).result, L"6000");
   delete program;
}

// Host functions: one returns a long text, one an array, one throws.
int longText(int, ORVA_Value **, ORVA_Value **result, ORVA_Program *)
{
   *result = new ORVA_Value(std::wstring(100, L'x').c_str());
   return 0;
}

int bigArray(int, ORVA_Value **, ORVA_Value **result, ORVA_Program *)
{
   auto *array = new ORVA_Array();
   for (int i = 0; i < 100; i++)
      array->set(i, new ORVA_Value(static_cast<int32_t>(i)));
   *result = new ORVA_Value(array);
   return 0;
}

int throwsAway(int, ORVA_Value **, ORVA_Value **, ORVA_Program *)
{
   throw std::runtime_error("host failure");
}

int interruptsItself(int, ORVA_Value **, ORVA_Value **result, ORVA_Program *program)
{
   program->interrupt();
   *result = new ORVA_Value();
   return 0;
}

ORVA_Environment *hostEnvironment()
{
   static const ORVA_ExtFunction functions[] = {
      {L"longText", longText, 0},
      {L"bigArray", bigArray, 0},
      {L"throwsAway", throwsAway, 0},
      {L"interruptsItself", interruptsItself, 0},
   };
   auto *environment = new ORVA_Environment();
   environment->registerFunctionSet(4, functions);
   return environment;
}

TEST(RunLimits, HostFunctionResultsAndExceptions)
{
   struct Case { const wchar_t *source; ORVA_RunLimits limits; int rc; const wchar_t *error; };
   const Case cases[] = {
      {L"return length(longText());", text(100), 0, L""},
      {L"return longText();", text(99), -1, L"Error 29 in line 1: Text length limit exceeded"},
      {L"a = bigArray(); return a[99];", elements(100), 0, L""},
      {L"a = bigArray();", elements(99), -1, L"Error 30 in line 1: Array size limit exceeded"},
      // The same calls inside a script function, which the slot runner runs.
      {L"sub f(n) { a = bigArray(); return n; }\nreturn f(1);", elements(99), -1,
       L"Error 30 in line 1: Array size limit exceeded"},
      {L"sub f(n) { s = longText(); return n; }\nreturn f(1);", text(99), -1,
       L"Error 29 in line 1: Text length limit exceeded"},
      {L"x = 1;\nthrowsAway();", ORVA_RunLimits(), -1, L"Error 6 in line 2: Internal error"},
   };
   for (const Case &c : cases)
   {
      ORVA_Program *program = compile(c.source);
      ASSERT_NE(program, nullptr);
      program->setRunLimits(c.limits);
      Outcome outcome = runProgram(program, hostEnvironment());
      EXPECT_EQ(outcome.rc, c.rc) << c.source;
      EXPECT_EQ(outcome.error, c.error) << c.source;
      delete program;
   }
}

TEST(Interrupt, StopsARunFromAnotherThread)
{
   const wchar_t *sources[] = {L"while (1) ;", L"sleep(1000000);", L"sub f() { while (1) x = f; }\nf();"};
   for (const wchar_t *source : sources)
   {
      ORVA_Program *program = compile(source);
      ASSERT_NE(program, nullptr);
      std::atomic<bool> stop{false};
      // Keep asking until the run is over: the first request may come before the run.
      std::thread host([&] {
         while (!stop)
         {
            program->interrupt();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
         }
      });
      Outcome outcome = runProgram(program);
      stop = true;
      host.join();
      EXPECT_EQ(outcome.rc, -1) << source;
      EXPECT_NE(outcome.error.find(L": Run interrupted"), std::wstring::npos) << outcome.error;
      delete program;
   }
}

TEST(Interrupt, WhenTheRequestIsCleared)
{
   ORVA_Program *program = compile(L"return 1;");
   ASSERT_NE(program, nullptr);

   // A request made between runs stops the next run before its first instruction (the
   // error names that instruction's line), and that run consumes it.
   program->interrupt();
   EXPECT_TRUE(program->isInterruptRequested());
   EXPECT_EQ(runProgram(program).error, L"Error 31 in line 1: Run interrupted");
   EXPECT_FALSE(program->isInterruptRequested());
   EXPECT_EQ(runProgram(program).result, L"1");
   delete program;

   // A request the run ended before seeing is dropped with the run.
   program = compile(L"interruptsItself(); return 2;");
   ASSERT_NE(program, nullptr);
   EXPECT_EQ(runProgram(program, hostEnvironment()).result, L"2");
   EXPECT_FALSE(program->isInterruptRequested());
   EXPECT_EQ(runProgram(program, hostEnvironment()).result, L"2");
   delete program;
}

// Every allocation of a run fails in turn: the run reports "Out of memory" (or succeeds
// when the failure comes after the last allocation), never crashes, releases what it
// made, and the program runs normally afterwards.
TEST(OutOfMemory, EveryAllocationOfARunMayFail)
{
   const wchar_t *source =
      L"sub f(a, b) { return a . b; }\n"
      L"array t; s = \"\";\n"
      L"for (i = 0; i < 40; i++) { t[i] = f(\"k\", i); s = s . t[i]; }\n"
      L"for (i = 0; i < 40; i++) if (t[i] ~= \"^k(1)(2)$\") s = s . $1;\n"
      L"foreach (v : t) if (v like \"k3?\") s = s . v;\n"
      L"global g = 3;\n"
      L"return length(s) . upper(left(s, 3));";
   ORVA_Program *program = compile(source);
   ASSERT_NE(program, nullptr);
   const std::wstring expected = runProgram(program).result;
   ASSERT_EQ(expected, L"141K0K");

   bool succeeded = false;
   for (long n = 0; !succeeded && n < 100000; n++)
   {
      const long before = s_liveBlocks.load();
      arm(n);
      int rc = program->run(nullptr, 0, nullptr);
      disarm();
      if (rc == 0)
      {
         succeeded = true;
         EXPECT_EQ(textOf(program->getResult()), expected);
      }
      else
      {
         ASSERT_NE(std::wstring(program->getErrorText()).find(L": Out of memory"), std::wstring::npos)
            << program->getErrorText();
      }
      // The result (if any) is the only block the run leaves behind.
      ASSERT_LE(s_liveBlocks.load(), before + (rc == 0 ? 1 : 0)) << "allocation " << n;
   }
   EXPECT_TRUE(succeeded);
   EXPECT_EQ(runProgram(program).result, expected);
   delete program;
}

// Bad source files end to end (file, compile, run): each gives a clear result. The big
// inputs are made here rather than kept as files.
TEST(BadInput, SourceFiles)
{
   struct Case { const char *name; std::string source; std::wstring outcome; };
   const Case cases[] = {
      {"10,000 nested blocks", std::string(10000, '{') + "x = 1;" + std::string(10000, '}'),
       L"Error in line 1: memory exhausted"},
      {"literal of 8192 bytes", "return length(\"" + std::string(8192, 'a') + "\");", L"8192"},
      {"literal of 8193 bytes", "return length(\"" + std::string(8193, 'a') + "\");",
       L"Error in line 1: String constant is too long"},
      {"invalid UTF-8", "return \"a\xff\xc3(b\";", L"a\xFFFD\xFFFD(b"},
      {"NUL bytes between statements", std::string("x = 2;\0\0return x;", 17), L"2"},
      {"recursion past 32768 calls", "sub f(n) { return f(n + 1); }\nreturn f(0);",
       L"Error 8 in line 1: Control stack overflow"},
   };
   const std::string path = ::testing::TempDir() + "limits_bad_source.orva";
   for (const Case &c : cases)
   {
      FILE *file = fopen(path.c_str(), "wb");
      ASSERT_NE(file, nullptr);
      fwrite(c.source.data(), 1, c.source.size(), file);
      fclose(file);
      const std::wstring widePath(path.begin(), path.end());
      uint32_t size = 0;
      wchar_t *text = ORVALoadFile(widePath.c_str(), &size);
      ASSERT_NE(text, nullptr) << c.name;
      wchar_t errorText[1024] = L"";
      ORVA_Program *program = ORVACompile(text, errorText, 1024);
      free(text);
      std::wstring outcome = errorText;
      if (program != nullptr)
      {
         Outcome run = runProgram(program);
         outcome = (run.rc == 0) ? run.result : run.error;
         delete program;
      }
      EXPECT_EQ(outcome, c.outcome) << c.name;
   }
   remove(path.c_str());
}

}  // namespace
