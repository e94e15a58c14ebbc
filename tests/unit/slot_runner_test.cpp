// Script functions on int32 values run in their compact form (the slot runner) and hand
// over to the instruction loop wherever the form stops; none of it may be visible: results,
// step counts, error texts, lines and call stacks stay those of the instruction loop.
//
// The reference is the same script with a global `z` declared first, on its first line: every function names
// `z` (in a branch that never runs), so none may run in the compact form, and the whole
// script runs in the instruction loop.
#include <gtest/gtest.h>

#include <cwchar>
#include <stdexcept>
#include <string>
#include <utility>

#include <orva.h>

#include "script_outcome.h"

namespace {

const std::wstring kReference = L"global z; ";

// Calls three deep in a loop, recursion, local arrays, a foreach loop, "$1", and a function
// that hands over in its last line.
const std::wstring kCalls =
   L"sub add(a, b) { if (a < 0) z = 1; return a + b; }\n"
   L"sub mix(x) { if (x < 0) z = 1; return add(x, 3) % 1000; }\n"
   L"sub step(s, i) { if (s < 0) z = 1; t = i; t++; return (s + mix(i) + t) % 1000003; }\n"
   L"sub fib(n) { if (n < 0) z = 1; if (n < 2) return n; return fib(n - 1) + fib(n - 2); }\n"
   L"sub walk(n) { if (n < 0) z = 1; array a; for (i = 0; i < n; i++) a[i] = i; t = 0; foreach (v : a) t = t + v; return t + $1; }\n"
   L"sub ten() { if (0) z = 1; t = 0; for (k = 0; k < 4; k++) t = t + k; return t; }\n"
   L"sub sieve(n) { if (n < 0) z = 1; array f; for (i = 0; i <= n; i++) f[i] = 1; c = 0;\n"
   L"   for (i = 2; i <= n; i++) if (f[i] == 1) { c++; for (j = i * i; j <= n; j += i) f[j] = 0; } return c; }\n"
   L"sub calls(n) {\n"
   L"   if (n < 0) z = 1;\n"
   L"   s = 0;\n"
   L"   for (i = 0; i < n; i++)\n"
   L"      s = step(s, i);\n"
   L"   return s . \"/\" . fib(12) . \"/\" . sieve(200) . \"/\" . ten() . ten(1, 2) . \"/\" . walk(30);\n"
   L"}\n"
   L"return calls(120);\n";

// The steps the reference's declaration adds to `source`.
uint64_t declarationSteps(const std::wstring &source)
{
   wchar_t errorText[1024];
   ORVA_Program *withGlobal = ORVACompile((kReference + source).c_str(), errorText, 1024);
   ORVA_Program *without = ORVACompile(source.c_str(), errorText, 1024);
   const uint64_t steps = (withGlobal != nullptr && without != nullptr) ? withGlobal->getCodeSize() - without->getCodeSize() : 0;
   delete withGlobal;
   delete without;
   return steps;
}

}  // namespace

TEST(SlotRunner, ResultsStayTheSame)
{
   struct Case { const char *name; const wchar_t *source; const wchar_t *result; };
   const Case cases[] = {
      {"int32 wraps around", L"sub f(x) { x++; y = x + 2147483647; return x . \" \" . y; }\nreturn f(2147483647);", L"-2147483648 -1"},
      {"increments in expressions", L"sub f(i) { a = i++ + ++i; b = i-- - --i; return a . \" \" . b . \" \" . i; }\nreturn f(5);", L"12 2 5"},
      {"no parameters", L"sub f() { t = 0; for (i = 0; i < 5; i++) t = t + i; return t; }\nreturn f() . f(7, 8);", L"1010"},
      {"missing and extra arguments", L"sub f(a, b) { if (b == null) return a * 10; return a + b; }\nreturn f(4) . \" \" . f(1, 2, 3);", L"40 3"},
      {"null argument and result", L"sub f(a) { if (a == null) return; return a; }\nx = f(null); return typeof(x) . f(3);", L"null3"},
      {"argument with a text of its own", L"sub f(a) { b = a; return b; }\nreturn f(\"0x10\") . \" \" . (f(\"0x10\") + 1) . \" \" . f(16);", L"0x10 17 16"},
      {"a local read before it is made", L"sub f(a) { if (a > 1) b = 2; return typeof(b) . a; }\nreturn f(1) . f(2);", L"null1int322"},
      {"hands over inside nested calls", L"sub g(a) { b = a * 2; if (a == 3) { b = b . \"x\"; if (b match \"x\") b = b; } return b; }\nsub f(n) { s = \"\"; for (i = 0; i < n; i++) { t = g(i); s = s . t; } return s; }\nreturn f(5);", L"0246x8"},
      {"a variable turns text in a loop", L"sub f(n) { s = 0; for (i = 0; i < n; i++) { s = s + i; if (i == 2) { s = \"7\"; if (s match \"7\") s = s; } } return s . typeof(s); }\nreturn f(5);", L"14int32"},
      {"division gives a real", L"sub f(a, b) { c = a * 2; return c / b; }\nreturn f(3, 4);", L"1.500000"},
      {"logic and comparisons", L"sub f(a, b) { return (a && b) . (a || b) . (a < b) . (a >= b) . (a != b) . (a % 3); }\nreturn f(5, 0);", L"010112"},
      {"recursion returns through every frame", L"sub fib(n) { if (n < 2) return n; return fib(n - 1) + fib(n - 2); }\nreturn fib(20);", L"6765"},
      {"a global made between calls", L"sub f(a) { if (a > 0) return g; return a; }\nsub mk() { global g = 7; return 0; }\nx = f(0); mk(); return x . \" \" . f(1);", L"0 7"},
      {"a global made by a callee", L"sub mk(a) { global h = a; return 1; }\nsub f(a) { x = mk(a + 1); return h + x; }\nreturn f(4) . \" \" . f(9);", L"6 6"},
      {"local arrays", L"sub f(n) { array a; array a; for (i = 0; i < n; i++) a[i] = i * i; a[1] = \"x\"; t = 0; for (i = 2; i < n; i++) t = t + a[i]; return t . a[1] . typeof(a[n]); }\nreturn f(5) . f(4);", L"29xnull13xnull"},
      {"arrays filled from another index", L"sub f(n) { array a; for (i = n; i < n + 3; i++) a[i] = i; array b; b[n] = 1; b[0] = 2; b[n + 1] = 3; b[n + 3] = 5; return a[n] . a[n + 2] . typeof(a[0]) . b[0] . b[n] . b[n + 1] . b[n + 3]; }\nreturn f(4);", L"46null2135"},
      {"an element that is not a number", L"sub f(n) { array a; a[0] = 5; a[1] = n; a[2] = 7; t = 0; for (i = 0; i < 3; i++) t = t + a[i]; return t; }\nreturn f(1) . \" \" . f(\"0x10\") . \" \" . f(2.5);", L"13 28 14.500000"},
      {"numbers stored over every kind of element", L"sub f(n) { array a; array b; a[0] = \"t\"; a[1] = b; a[2] = 1.5; a[3] = \"0x10\"; for (i = 0; i < 5; i++) a[i] = n; return a[0] . typeof(a[1]) . a[2] . a[3] . a[4]; }\nreturn f(3);", L"3int32333"},
      {"an array assigned, returned and passed", L"sub g(a) { return a[0]; }\nsub f(n) { array a; a[0] = n; b = a; b[0] = n + 1; return a; }\nx = f(4); return x[0] . g(x);", L"44"},
      {"foreach handed over in the middle", L"sub f(n) { array a; a[0] = 1; a[1] = n; a[2] = 4; a[3] = 5; t = 0; foreach (v : a) { t = t + v; if (v == 2) { s = \"x\" . v; if (s match \"^x\") t = t + 0; } } return t . s . typeof(v); }\nreturn f(2);", L"12x2null"},
      {"foreach that stores as it walks", L"sub f(n) { array a; a[0] = 1; a[2] = n; t = 0; foreach (v : a) { if (v == 1) { a[1] = 10; a[7] = 3; } t = t * 100 + v; } return t; }\nreturn f(2);", L"1100203"},
      {"nested foreach loops", L"sub f(n) { array a; array b; for (i = 0; i < n; i++) { a[i] = i; b[i] = i * 10; } t = 0; foreach (x : a) foreach (y : b) t = t + x * y; return t . \"/\" . typeof(x); }\nreturn f(3);", L"90/null"},
      {"arguments seen as $1", L"sub f(a, b) { array x; x[0] = a; foreach (v : x) s = v + b; return s . $1 . $2; }\nreturn f(5, 1) . f(2, 3, 4);", L"651523"},
      {"switch and foreach inside", L"sub f(a) { array v; v[0] = a; t = 0; foreach (e : v) t = t + e; switch (a) { case 2: t = t * 10; } return t; }\nreturn f(2) . f(3);", L"203"},
   };
   for (const Case &c : cases)
   {
      const Outcome outcome = runScript(c.source);
      EXPECT_EQ(outcome.rc, 0) << c.name << ": " << std::string(outcome.error.begin(), outcome.error.end());
      EXPECT_EQ(outcome.result, c.result) << c.name;
   }
}

TEST(SlotRunner, StepsErrorsAndCallStacksAreTheLoops)
{
   const Outcome compact = runScript(kCalls);
   ASSERT_EQ(compact.rc, 0);
   EXPECT_EQ(compact.result, runScript(kReference + kCalls).result);
   const uint64_t declaration = declarationSteps(kCalls);
   const uint64_t needed = stepsNeeded(kCalls);
   EXPECT_EQ(stepsNeeded(kReference + kCalls), needed + declaration);
   // Every instruction of a round of the loop (calls, bound parameters, returns, the
   // increment, the back-jump) and of the recursion's deepest frames, then the end.
   for (uint64_t limit = 2000; limit < 2080; limit++)
   {
      const Outcome a = runScript(kCalls, limit);
      const Outcome b = runScript(kReference + kCalls, limit + declaration);
      EXPECT_EQ(a.error, b.error) << limit;
      EXPECT_EQ(a.stack, b.stack) << limit;
   }
   for (uint64_t limit = needed - 400; limit < needed; limit += 7)
   {
      const Outcome a = runScript(kCalls, limit);
      const Outcome b = runScript(kReference + kCalls, limit + declaration);
      EXPECT_EQ(a.error, b.error) << limit;
      EXPECT_EQ(a.stack, b.stack) << limit;
   }
}

TEST(SlotRunner, RunawayRecursionStopsAsInTheLoop)
{
   const std::wstring source = L"sub r(n) { if (n < 0) z = 1; return r(n + 1); }\nreturn r(0);\n";
   const Outcome compact = runScript(source);
   const Outcome reference = runScript(kReference + source);
   EXPECT_NE(compact.rc, 0);
   EXPECT_EQ(compact.error, reference.error);
   EXPECT_EQ(compact.stack.size(), reference.stack.size());
}

TEST(SlotRunner, HostConstantsComeFirst)
{
   // A constant of a local's name is found before the local: the assignment fails.
   ORVA_VariableSystem constants(true);
   constants.create(L"b", new ORVA_Value(static_cast<int32_t>(3)));
   const std::wstring source = L"sub f(a) { return a + b; }\nsub g(a) { b = a; return b; }\nx = f(1);\nreturn x . g(2);\n";
   const Outcome outcome = runScript(source, 0, &constants);
   EXPECT_EQ(outcome.error, L"Error 25 in line 2: Cannot assign to a variable that is constant");
}

TEST(SlotRunner, ArrayLimitStopsAsInTheLoop)
{
   const std::wstring source = L"sub f(n) { if (n < 0) z = 1; array a;\nfor (i = 0; i < n; i++)\n   a[i] = i;\nreturn i; }\nreturn f(10);\n";
   for (const std::wstring &script : {source, kReference + source})
   {
      wchar_t errorText[1024];
      ORVA_Program *program = ORVACompile(script.c_str(), errorText, 1024);
      ASSERT_NE(program, nullptr);
      ORVA_RunLimits limits;
      limits.maxArrayElements = 6;
      program->setRunLimits(limits);
      EXPECT_NE(program->run(nullptr, 0, nullptr), 0);
      EXPECT_EQ(std::wstring(program->getErrorText()), L"Error 30 in line 3: Array size limit exceeded");
      delete program;
   }
}

TEST(SlotRunner, ErrorsAreTheLoops)
{
   const wchar_t *const sources[] = {
      L"sub f(n) { if (n < 0) z = 1; a = n;\narray a; return a; }\nreturn f(1);\n",
      L"sub f(n) { if (n < 0) z = 1; t = 0; for (i = 3; i >= 0; i--)\n   t = t + 10 % i;\nreturn t; }\nreturn f(1);\n",
      L"sub f(n) { if (n < 0) z = 1; t = 0; for (i = 0; i < 3; i++)\n   t = t + n;\nreturn t; }\nsub g(a) { if (a < 0) z = 1; return f(a) + f(null); }\nreturn g(1);\n",
      L"sub f(n) { if (n < 0) z = 1; array a; a[0] = 1;\nreturn a[0] + a[n]; }\nreturn f(1);\n",
   };
   for (const wchar_t *source : sources)
   {
      const Outcome compact = runScript(source);
      const Outcome reference = runScript(kReference + source);
      EXPECT_NE(compact.rc, 0) << std::wstring(source).c_str();
      EXPECT_EQ(compact.error, reference.error);
      EXPECT_EQ(compact.stack, reference.stack);
   }
}

// The runs of a loop's round that one op carries out (a test of a variable, an assignment
// of an operation, an element store or test) on operands it does not take: each must fall
// back to the instructions one at a time, to the same results and errors.
TEST(SlotRunner, LoopRunsFallBackOnOperandsTheyDoNotTake)
{
   const wchar_t *const sources[] = {
      L"sub f(n, m) { if (n < 0) z = 1; c = 0; while (u < 2) { u = 5; c++; } while (m < 3) m = 3; d = n + m; e = m - 1; return c . d . e . typeof(u); }\nreturn f(1) . f(\"0x10\", 2) . f(2.5, 1);",
      L"sub f(n) { if (n < 0) z = 1; d = n + 1; d = d + e; return d; }\nreturn f(1);",
      L"sub f(n) { if (n < 0) z = 1; d = 0; for (i = 3; i >= 0; i--) d = n % i; return d; }\nreturn f(7);",
      L"sub f(n) { if (n < 0) z = 1; array a; a[0] = 1; a[2] = \"0x10\"; a[3] = 16.5; a[4] = 16; c = \"\"; for (i = 0; i < 5; i++) if (a[i] == 16) c = c . i; else c = c . \"-\"; return c; }\nreturn f(1);",
      L"sub f(n) { if (n < 0) z = 1; array a; v = 7; for (i = 0; i < n; i++) { a[i] = v; a[i] = i; } b = a; b[n] = n; a[n + 1] = v; a[0] = \"t\"; a[0] = 3; a[1] = \"0x10\"; a[1] = v; return a[0] . a[1] . b[n] . a[n + 1]; }\nreturn f(3);",
      L"sub f(n) { if (n < 0) z = 1; array a; w = null; for (i = 0; i < n; i++) { a[i] = 1; a[i] = w; } return typeof(a[1]) . a[0]; }\nreturn f(3);",
      L"sub f(n) { if (n < 0) z = 1; a = 5; a[1] = 2; return a; }\nreturn f(3);",
      L"sub f(n) { if (n < 0) z = 1; array a; a[n] = 1; if (a[n] == 1) t = 1; if (a[0] == 1) t = 2; i = \"x\"; a[i] = 3; return t . a[i]; }\nreturn f(3);",
   };
   for (const wchar_t *source : sources)
   {
      const Outcome compact = runScript(source);
      const Outcome reference = runScript(kReference + source);
      EXPECT_EQ(compact.rc, reference.rc) << std::wstring(source).c_str();
      EXPECT_EQ(compact.result, reference.result) << std::wstring(source).c_str();
      EXPECT_EQ(compact.error, reference.error);
   }
}

// Each of those runs counts every instruction it carries out: a step limit that falls on
// any instruction of a round stops the script there, as in the instruction loop.
TEST(SlotRunner, LoopRunsStopAtEveryStep)
{
   const std::wstring source =
      L"sub f(n) {\n"
      L"   if (n < 0) z = 1;\n"
      L"   array a;\n"
      L"   for (i = 0; i <= n; i++)\n"
      L"      a[i] = 1;\n"
      L"   for (i = 2; i * i <= n; i++)\n"
      L"      if (a[i] == 1)\n"
      L"         for (j = i * i; j <= n; j += i)\n"
      L"            a[j] = i;\n"
      L"   c = 0;\n"
      L"   for (k = 0; k < 10; k++)\n"
      L"      c = c + a[k];\n"
      L"   return c;\n"
      L"}\n"
      L"return f(12);\n";
   const uint64_t declaration = declarationSteps(source);
   ASSERT_GT(declaration, 0u);
   const uint64_t needed = stepsNeeded(source);
   ASSERT_EQ(stepsNeeded(kReference + source), needed + declaration);
   for (uint64_t limit = 1; limit < needed; limit++)
   {
      const Outcome a = runScript(source, limit);
      const Outcome b = runScript(kReference + source, limit + declaration);
      ASSERT_EQ(a.error, b.error) << limit;
      ASSERT_EQ(a.stack, b.stack) << limit;
   }
}

// Functions working on texts: parameters and locals holding texts and reals, constants,
// concatenation, (in)equality, arithmetic on numbers of other types, the built-ins that
// work on their arguments alone, calls between such functions, and everything that hands
// over (a host or script function called by name, an error of a built-in or an operator).
TEST(SlotRunner, TextsRunAsInTheLoop)
{
   const wchar_t *const sources[] = {
      L"sub f(s, n) { if (0) z = 1; t = \"\"; for (i = 0; i < n; i++) t .= left(s, i) . \",\" . length(t); return t . upper(s) . index(t, \",\", 3); }\nreturn f(\"abcdef\", 5) . f(1.5, 2) . f(null, 1);",
      L"sub g(a, b) { if (0) z = 1; c = a . b; if (c == \"xy\") return 1; if (c != \"0x10\") return c . typeof(c); return null; }\nreturn g(\"x\", \"y\") . g(\"0x\", 10) . g(\"x\", \"z\") . typeof(g(\"0\", \"x10\"));",
      L"sub h(a) { if (0) z = 1; n = length(a) + 1; m = a + 1; r = 2.5 * n; q = a == 5; return n . \" \" . m . \" \" . r . \" \" . q . \" \" . (n > 3); }\nreturn h(\"5\") . \"|\" . h(\"0x10\") . \"|\" . h(1.25);",
      L"sub inner(a, b) { if (0) z = 1; return substr(a, b, 2) . trim(\"  \" . a); }\nsub outer(s) { if (0) z = 1; u = \"\"; for (k = 1; k < 4; k++) u = u . inner(s, k) . min(k, 2); return u . typeof(u); }\nreturn outer(\"hello\") . outer(42);",
      L"sub f(s) { if (0) z = 1; t = s . \"!\"; u = classify(t); return t . u; }\nsub classify(x) { return length(x); }\nreturn f(\"abc\");",
      L"sub f(s) { if (0) z = 1; a = s . \"x\"; b = time(); return a . typeof(b); }\nreturn f(\"q\");",
      L"sub f(s) { if (0) z = 1; a = substr(s); return a; }\nreturn f(\"abc\");",
      L"sub f(s) { if (0) z = 1; a = s . \"x\"; b = a - 1; return b; }\nreturn f(\"abc\");",
      L"sub f(s) { if (0) z = 1; a = s . \"x\"; b = a . null; return b; }\nreturn f(\"abc\");",
      L"sub f(s) { if (0) z = 1; a = s % 0; return a; }\nreturn f(\"7\");",
      L"sub f(s, n) { if (0) z = 1; t = s; for (i = 0; i < n; i++) t = t . t; return length(t); }\nreturn f(\"ab\", 8);",
      L"sub f(s, n, e) { if (0) z = 1; array a; a[0] = n; foreach (v : a) return s . v . e; }\nreturn f(\"ab\", 3, \"c\", \"extra\", 7);",
      L"sub f(s) { if (0) z = 1; a = index(s, s = \"b\"); b = length(s) . left(s, 1) . max(s, \"a\"); c = g(s) . max(s, s); return a . b . c . s; }\nsub g(x) { return x . x; }\nreturn f(\"abc\");",
      L"sub f(a, b) { if (0) z = 1; r = \"\"; for (i = 0; i < 2; i++) { r = r . (a == \"x\") . (a != \"x\") . (b == \"12\") . (b != \"abc\") . (a == \"0x10\") . (b == \"\") . (b == \"12.00\"); a = a . \"x\"; } return r . a . b; }\nreturn f(\"x\", 12) . f(1.5, \"12\") . f(\"0x10\", \"\") . f(16, \"abc\") . f(\"16\", \"12.0\");",
      L"sub f(s) { if (0) z = 1; t = \"\"; for (i = 1; i < 4; i++) t = t . max(i, 2) . max(\"b\", \"a\") . left(s, i) . substr(s, i, 1) . index(s, \"c\", i) . index(\"abc\", s) . d2x(i * 100, 4) . left(i * 11, 1); return t; }\nreturn f(\"abc\");",
   };
   for (const wchar_t *source : sources)
   {
      const Outcome compact = runScript(source);
      const Outcome reference = runScript(kReference + source);
      EXPECT_EQ(compact.rc, reference.rc) << std::wstring(source).c_str();
      EXPECT_EQ(compact.result, reference.result) << std::wstring(source).c_str();
      EXPECT_EQ(compact.error, reference.error) << std::wstring(source).c_str();
      EXPECT_EQ(compact.stack, reference.stack) << std::wstring(source).c_str();
   }
}

// Text work stops at every step as in the instruction loop, and a limit on texts stops a
// concatenation as it does there.
TEST(SlotRunner, TextWorkStopsAsInTheLoop)
{
   const std::wstring source =
      L"sub f(s, n) {\n"
      L"   if (0) z = 1;\n"
      L"   t = \"\";\n"
      L"   for (i = 0; i < n; i++)\n"
      L"      t .= \"k\" . (i + 1) . left(s, i);\n"
      L"   if (t == s) t = null;\n"
      L"   return t . length(t);\n"
      L"}\n"
      L"return f(\"word\", 4);\n";
   const uint64_t declaration = declarationSteps(source);
   ASSERT_GT(declaration, 0u);
   const uint64_t needed = stepsNeeded(source);
   ASSERT_EQ(stepsNeeded(kReference + source), needed + declaration);
   for (uint64_t limit = 1; limit < needed; limit++)
   {
      const Outcome a = runScript(source, limit);
      const Outcome b = runScript(kReference + source, limit + declaration);
      ASSERT_EQ(a.error, b.error) << limit;
      ASSERT_EQ(a.stack, b.stack) << limit;
   }
   for (const std::wstring &script : {source, kReference + source})
   {
      wchar_t errorText[1024];
      ORVA_Program *program = ORVACompile(script.c_str(), errorText, 1024);
      ASSERT_NE(program, nullptr);
      ORVA_RunLimits limits;
      limits.maxTextLength = 9;
      program->setRunLimits(limits);
      EXPECT_NE(program->run(nullptr, 0, nullptr), 0);
      EXPECT_EQ(std::wstring(program->getErrorText()), L"Error 29 in line 5: Text length limit exceeded");
      delete program;
   }
}

namespace {

int hostLength(int, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *)
{
   const wchar_t *text = argv[0]->getValueAsCString();
   *result = new ORVA_Value(static_cast<int32_t>(text != nullptr ? wcslen(text) : 0));
   return 0;
}

int hostFail(int, ORVA_Value **, ORVA_Value **, ORVA_Program *)
{
   return ORVA_ERR_NOT_A_STRING;
}

int hostStop(int, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *)
{
   *result = new ORVA_Value(argv[0]);
   return -1;
}

int hostThrow(int, ORVA_Value **, ORVA_Value **, ORVA_Program *)
{
   throw std::runtime_error("host");
}

// Makes the global "n", which the handler's local of that name hides from then on.
int hostGlobal(int, ORVA_Value **, ORVA_Value **result, ORVA_Program *program)
{
   program->setGlobalVariable(L"n", new ORVA_Value(static_cast<int32_t>(99)));
   *result = new ORVA_Value(static_cast<int32_t>(1));
   return 0;
}

// Changes its argument, which is the engine's: the script's variable must not change.
int hostChange(int, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *)
{
   argv[0]->set(static_cast<int32_t>(0));
   *result = new ORVA_Value(static_cast<int32_t>(1));
   return 0;
}

// Returns its argument's text, then changes the argument: a constant passed must not change.
int hostEcho(int, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *)
{
   *result = new ORVA_Value(argv[0]);
   argv[0]->set(static_cast<int32_t>(0));
   return 0;
}

const ORVA_ExtFunction kHostFunctions[] = {
   {L"hostLength", hostLength, 1}, {L"hostFail", hostFail, 1}, {L"hostStop", hostStop, 1}, {L"hostThrow", hostThrow, 1},
   {L"hostChange", hostChange, 1}, {L"hostGlobal", hostGlobal, 1}, {L"hostEcho", hostEcho, 1}};

// A handler as a host calls it: the entry function onEvent with three arguments, in an
// environment with host functions. The reference has a host constant `z`, which the
// functions name, so that none runs in the compact form.
const wchar_t *const kHandler =
   L"sub onEvent(id, line, address) {\n"
   L"   if (0) z = 1;\n"
   L"   space = index(line, \" \");\n"
   L"   user = left(line, space - 1);\n"
   L"   n = hostLength(user) + length(address) + hostChange(address);\n"
   L"   if (user == \"fail\") n = hostFail(user);\n"
   L"   if (user == \"stop\") n = hostStop(user . n);\n"
   L"   if (user == \"throw\") n = hostThrow(n);\n"
   L"   if (user == \"global\") user = user . hostGlobal(n) . n;\n"
   L"   return id . \":\" . user . \":\" . n . \":\" . helper(address, n);\n"
   L"}\n"
   L"sub helper(a, n) {\n"
   L"   if (0) z = 1;\n"
   L"   return substr(a, 1, n % 5) . upper(a);\n"
   L"}\n";

Outcome runHandler(ORVA_Program *program, const wchar_t *line, bool reference, uint64_t maxSteps)
{
   ORVA_VariableSystem constants(true);
   if (reference)
      constants.create(L"z", new ORVA_Value(static_cast<int32_t>(0)));
   ORVA_RunLimits limits;
   limits.maxSteps = maxSteps;
   program->setRunLimits(limits);
   auto *environment = new ORVA_Environment();
   environment->registerFunctionSet(sizeof(kHostFunctions) / sizeof(kHostFunctions[0]), kHostFunctions);
   ORVA_Value *argv[] = {new ORVA_Value(static_cast<int32_t>(7)), new ORVA_Value(line), new ORVA_Value(L"10.1.2.3")};
   Outcome outcome{program->run(environment, 3, argv, nullptr, nullptr, &constants, L"onEvent"), L"", L"", L""};
   if (outcome.rc != 0 && program->getErrorText() != nullptr)
      outcome.error = program->getErrorText();
   for (const ORVA_StackFrame &frame : program->getErrorInfo().callStack)
      outcome.stack += frame.function + L":" + std::to_wstring(frame.line) + L" ";
   if (program->getResult() != nullptr && program->getResult()->getValueAsCString() != nullptr)
      outcome.result = program->getResult()->getValueAsCString();
   return outcome;
}

}  // namespace

// A host's handler starts in the compact form, calls built-ins and host functions there,
// and ends as in the instruction loop: results, host errors, a host's stop, what a host
// function throws, and every step limit.
TEST(SlotRunner, HandlersRunAsInTheLoop)
{
   wchar_t errorText[1024];
   ORVA_Program *program = ORVACompile(kHandler, errorText, 1024);
   ASSERT_NE(program, nullptr) << errorText;
   for (const wchar_t *line : {L"alice logged in", L"fail now", L"stop here", L"throw it", L"global n", L"nospace"})
   {
      ORVA_Program *fresh = ORVACompile(kHandler, errorText, 1024);
      ASSERT_NE(fresh, nullptr);
      const Outcome compact = runHandler(fresh, line, false, 0);
      delete fresh;
      const Outcome reference = runHandler(program, line, true, 0);
      EXPECT_EQ(compact.rc, reference.rc) << std::wstring(line).c_str();
      EXPECT_EQ(compact.result, reference.result) << std::wstring(line).c_str();
      EXPECT_EQ(compact.error, reference.error) << std::wstring(line).c_str();
      EXPECT_EQ(compact.stack, reference.stack) << std::wstring(line).c_str();
   }
   EXPECT_EQ(runHandler(program, L"alice logged in", false, 0).result, L"7:alice:14:10.110.1.2.3");
   delete program;
   // The handler, and one that ends in the compact form (it calls no script function by
   // name), at every step limit. A program of its own for each limit: calls stopped
   // within their first steps would soon keep the function out of the compact form.
   const std::wstring alone = std::wstring(kHandler).replace(std::wstring(kHandler).find(L" . helper(address, n)"), 21, L"");
   // The steps each needs, as the instruction loop counts them (a fault in the count of
   // the entry function's parameters would shift both runs alike).
   const std::pair<std::wstring, uint64_t> handlers[] = {{kHandler, 73}, {alone, 55}};
   for (const auto &[source, steps] : handlers)
   {
      uint64_t limit = 1;
      for (;; limit++)
      {
         ORVA_Program *compact = ORVACompile(source.c_str(), errorText, 1024);
         ORVA_Program *reference = ORVACompile(source.c_str(), errorText, 1024);
         ASSERT_NE(compact, nullptr);
         ASSERT_NE(reference, nullptr);
         const Outcome a = runHandler(compact, L"alice logged in", false, limit);
         const Outcome b = runHandler(reference, L"alice logged in", true, limit);
         delete compact;
         delete reference;
         ASSERT_EQ(a.error, b.error) << limit;
         ASSERT_EQ(a.stack, b.stack) << limit;
         ASSERT_EQ(a.rc, b.rc) << limit;
         if (b.rc == 0)
            break;
      }
      EXPECT_EQ(limit, steps);
   }
}

// Constants a call by name takes are lent to built-ins, and copied for host functions,
// which may change what they get.
TEST(SlotRunner, HostFunctionsChangeOnlyTheirCopies)
{
   const wchar_t *source =
      L"sub onEvent(id, line, address) { t = \"\"; for (i = 0; i < 3; i++) t = t . hostEcho(\"k\") . index(\"k\", \"k\"); return t; }\n";
   wchar_t errorText[1024];
   ORVA_Program *program = ORVACompile(source, errorText, 1024);
   ASSERT_NE(program, nullptr) << errorText;
   for (int run = 0; run < 2; run++)
      EXPECT_EQ(runHandler(program, L"x", false, 0).result, L"k1k1k1");
   delete program;
}
