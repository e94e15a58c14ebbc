// The engine's shortcuts must not be visible: an assignment statement (SET then POP 1)
// that moves its value, an int32 operand computed with as it is pushed, branches on an
// operation of two int32 values decided without values, increments whose copy is dropped,
// elements read or written without copies of the array and the index, comparisons that
// reuse their left operand, array elements rewritten in place, recycled local sets of
// script function calls. Each case compares a result that a shortcut could change.
#include <gtest/gtest.h>

#include <string>

#include <orva.h>

#include "script_outcome.h"

namespace {

// A script and the text of the value it returns.
struct ResultCase
{
   const char *name;
   const wchar_t *source;
   const wchar_t *result;
};

template <size_t N>
void expectResults(const ResultCase (&cases)[N])
{
   for (const ResultCase &c : cases)
   {
      Outcome outcome = runScript(c.source);
      EXPECT_EQ(outcome.rc, 0) << c.name << ": " << std::string(outcome.error.begin(), outcome.error.end());
      EXPECT_EQ(outcome.result, c.result) << c.name;
   }
}

}  // namespace

TEST(EngineFastPaths, ResultsStayTheSame)
{
   const ResultCase cases[] = {
      // Assignment statements.
      {"array assignment copies", L"array a; a[0] = 1; b = a; b[0] = 2; return a[0] . b[0];", L"12"},
      {"array assignment copies both ways", L"array a; a[0] = 1; b = a; a[0] = 3; return a[0] . b[0];", L"31"},
      {"chained assignment", L"a = b = 5; b++; return a . b;", L"56"},
      {"chained array assignment", L"array x; x[0] = 1; a = b = x; b[0] = 7; return a[0] . b[0] . x[0];", L"171"},
      {"assigned text keeps its form", L"a = \"0x10\"; b = a; return b . \"/\" . (b + 0);", L"0x10/16"},
      {"assigned concatenation", L"a = 1; a = a . 2; b = a; b++; return a . \"/\" . b;", L"12/13"},
      {"assignment in a loop", L"s = 0; for (i = 0; i < 10; i++) s = s + i; return s;", L"45"},
      {"assignment as a value", L"x = (y = 3) + 1; return x . y;", L"43"},
      {"computed assignment as a value", L"s = 0; for (i = 0; i < 3; i++) s = s + (t = i * 2) + 1; return s . t;", L"94"},
      {"compound assignment", L"x = 5; x += 2; x .= \"a\"; return x;", L"7a"},
      // Comparisons of numbers give plain int32 0 or 1.
      {"comparison type", L"x = 5; return typeof(x < 7) . typeof(1.5 == 1.5) . typeof(2L > 1U);", L"int32int32int32"},
      {"comparison text", L"x = 0x10; y = (x == 16); return y . (x != 16) . (x <= 15) . (1.5 >= 1.5);", L"1001"},
      {"logical operators", L"return (2 && 3) . (0 || 0) . (0.5 && 1) . (0 || 7);", L"1011"},
      {"comparison of a named argument", L"sub f(a) { return a == 3; }\nreturn f(v: 3) . f(v: 4);", L"10"},
      {"named argument compared then passed on", L"sub g(b) { return $w . b; }\nsub f(a) { return g(w: a == 3); }\nreturn f(v: 3) . f(v: 4);", L"1100"},
      {"comparison of a real keeps no text", L"x = 1.5; return (x < 2) . \" \" . x;", L"1 1.500000"},
      {"string comparison", L"return (\"a\" == \"a\") . (\"a\" == \"b\") . (\"10\" == 10);", L"101"},
      // int32 arithmetic wraps and keeps the int32 type; remainders take the dividend's sign.
      {"int32 wrapping", L"x = 2147483647; y = -2147483647 - 1; return (x + 1) . \" \" . (y - 1) . \" \" . (65536 * 65536 + 3);", L"-2147483648 2147483647 3"},
      {"int32 remainders", L"y = -2147483647 - 1; return (y % -1) . (7 % -3) . (-7 % 3) . typeof(7 % 3) . typeof(7 + 3);", L"01-1int32int32"},
      {"int32 result loses its old text", L"x = \"010\"; y = x + 0; z = x; z++; return x . \" \" . y . \" \" . z . \" \" . (x == 8);", L"010 8 9 1"},
      {"mixed types still promote", L"return typeof(1 + 2L) . typeof(1 < 2U) . (1 + 0.5) . (7 / 2);", L"int64int321.5000003.500000"},
      // Copies of numbers made from text keep the text as written; formed text comes back the same.
      {"copied text forms", L"a = \"0x10\"; b = \"010\"; c = \"+5\"; d = \"12\"; e = \"-7\"; f = \"1.5\"; g = \"3000000000\"; x = a; y = b; z = c; u = d; v = e; w = f; t = g; return x . \" \" . y . \" \" . z . \" \" . u . \" \" . v . \" \" . w . \" \" . t;", L"0x10 010 +5 12 -7 1.5 3000000000"},
      {"copied formed text", L"a = 5 + 0.5; b = a; c = 7 * 3; d = c . \"\"; e = c; f = \"1\" . \"2\"; g = f; return b . \" \" . d . \" \" . e . \" \" . g . \" \" . typeof(g) . \" \" . (g + 1);", L"5.500000 21 21 12 int32 13"},
      {"copied text through calls", L"sub f(x) { return x . \"|\" . $1; }\nreturn f(\"0x1A\") . \" \" . f(\"26\") . \" \" . f(\"-0\");", L"0x1A|0x1A 26|26 -0|-0"},
      // Arrays: elements found by position or past the end, else by search.
      {"sparse array", L"array a; a[3] = 3; a[0] = 0; a[2] = 2; a[-5] = -5; a[1] = 1; a[1] = 11; s = \"\"; foreach (v : a) s .= v . \",\"; return s . typeof(a[4]) . a[2] . a[3] . typeof(a[7]) . a[-5] . a[1] . typeof(a[-2147483647 - 1]);", L"-5,0,11,2,3,null23null-511null"},
      {"rewritten elements", L"array a; for (i = 0; i < 4; i++) a[i] = i; b = a; for (i = 0; i < 4; i++) a[i] = \"x\" . a[i]; a[2] = a; s = \"\"; foreach (v : a) s .= typeof(v) . \",\"; return s . a[1] . b[1] . a[2][3];", L"string,string,array,string,x11x3"},
      {"dense array", L"array a; for (i = 0; i < 100; i++) a[i] = i * 2; a[50] = 7; s = 0; foreach (v : a) s += v; return s . \" \" . a[99] . \" \" . a[50] . \" \" . typeof(a[100]);", L"9807 198 7 null"},
      // Branches on two int32 values, increments whose copy is dropped.
      {"int32 branches", L"s = \"\"; a = 5; for (i = 3; i < 8; i++) { if (i < a) s .= \"<\"; if (i == a) s .= \"=\"; if (a && i - 3) s .= \"&\"; if (0 || i > 6) s .= \">\"; while (i != i) s .= \"!\"; if (i % 2) s .= \"o\"; } return s;", L"<o<&=&o&&>o"},
      {"branch on a mixed pair", L"x = 2; s = \"\"; if (x < 2.5) s .= \"a\"; if (x == \"2\") s .= \"b\"; if (x < 3000000000) s .= \"c\"; return s;", L"abc"},
      {"increments", L"x = 5; x++; ++x; x--; --x; y = x++; z = --x; u = 1.5; u++; return x . y . z . typeof(x) . u;", L"555int322.500000"},
      // Elements read and written at int32 indexes.
      {"element access", L"array a; x = 7; a[2] = x; a[0] = \"t\"; a[2] = a[2] + 1; i = 2; b = a; a[i] = a; s = \"\"; for (i = -1; i < 4; i++) s .= typeof(a[i]) . \",\"; return s . a[2][0] . a[2][2] . b[2] . x;", L"null,string,null,array,null,t887"},
      // Calls: every call starts with a set of its own.
      {"locals do not leak between calls", L"sub f(a) { if (a) return z; z = 9; return f(1); }\nreturn typeof(f(0));", L"null"},
      {"arguments are fresh per call", L"sub f(a, b) { return a . typeof(b) . typeof($3); }\nreturn f(1, 2, 3) . \" \" . f(4);", L"1int32int32 4nullnull"},
      {"variables made in another order than in the last call", L"sub f(a) { if (a) { t = 1; u = 2; } else { u = 3; t = 4; } return t . u; }\nreturn f(1) . f(0) . f(1) . f(0);", L"12431243"},
      {"recycled set grows past eight variables", L"sub f(a) { b = a + 1; c = b + 1; d = c + 1; e = d + 1; g = e + 1; h = g + 1; k = h + 1; m = k + 1; n = m + 1; if (a == 2) { c = 0; z = 7; } return a . n . c . typeof(z); }\nreturn f(1) . f(2) . f(1);", L"1103null2110int321103null"},
      {"a position taken by another name", L"sub f(flag) { if (flag) a = 1; else b = 2; return a; }\nf(1); return typeof(f(0)) . f(1);", L"null1"},
      {"named arguments per call", L"sub f(a) { return typeof($x) . typeof($y); }\nreturn f(x: 1) . \"/\" . f(y: 2);", L"int32null/nullint32"},
      {"recursion", L"sub fib(k) { if (k < 2) return k; return fib(k - 1) + fib(k - 2); }\nreturn fib(15);", L"610"},
      {"global appears during recursion", L"sub mk() { global k = 100; return 0; }\nsub f(k, last) { if (k == last) mk(); r = k; if (k > 0 && k < 50) r = r . f(k - 1, last); return r . \"|\" . k; }\nreturn f(3, -1) . \" \" . f(3, 1);", L"3210|0|1|2|3 32100|100|100|100"},
      {"parameter at another position for another argument count", L"sub g(a) { a = a . \"x\"; return a . $1; }\nreturn g(1) . g(2, 3) . g(4) . g(5, 6);", L"1x12x24x45x5"},
      // The same two in the instruction loop: a function that names a global is not the
      // slot runner's, and finds its parameters by frame slot there.
      {"global appears during recursion, in the instruction loop", L"global G = \"\";\nsub mk() { global k = 100; return 0; }\nsub f(k, last) { if (k == last) mk(); r = k . G; if (k > 0 && k < 50) r = r . f(k - 1, last); return r . \"|\" . k; }\nreturn f(3, -1) . \" \" . f(3, 1);", L"3210|0|1|2|3 32100|100|100|100"},
      {"parameter at another position for another argument count, in the instruction loop", L"global G = \"x\";\nsub g(a) { a = a . G; return a . $1; }\nreturn g(1) . g(2, 3) . g(4) . g(5, 6);", L"1x12x24x45x5"},
      {"deep recursion after shallow", L"sub d(n) { if (n == 0) return 0; return 1 + d(n - 1); }\nreturn d(3) + d(2000) + d(5);", L"2008"},
      // Parameters bound by the call itself: copies of "$1".."$n", null past the arguments.
      {"parameters are copies", L"sub f(a, b) { a = a . \"x\"; return a . $1 . typeof(b) . typeof($2); }\nreturn f(1) . \" \" . f(2, 3) . \" \" . f(4);", L"1x1nullnull 2x2int32int32 4x4nullnull"},
      {"parameter named twice", L"sub f(a, a) { return a . $1 . $2; }\nreturn f(1, 2) . \" \" . f(3, 4);", L"212 434"},
      {"nine parameters", L"sub f(a, b, c, d, e, g, h, k, m) { return a . typeof(m) . typeof($9); }\nreturn f(1, 2, 3, 4, 5, 6, 7, 8, 9) . f(1);", L"1int32int321nullnull"},
      {"sets passed between functions", L"sub f(a) { return a + 1; }\nsub g(x, y) { z = x . y; return z; }\ns = \"\"; for (i = 0; i < 3; i++) s .= f(i) . g(i, f(i)) . \",\"; return s;", L"101,212,323,"},
      {"named argument among plain ones", L"sub f(a, b) { return a . b . typeof($v); }\nreturn f(1, 2) . f(v: 3, 4) . f(5, 6);", L"12null34int3256null"},
      // Functions that never look at "$1".."$n" get the arguments as their parameters.
      {"arguments handed over (f names the global z: the instruction loop calls it)", L"global z;\nsub f(a, b) { if (0) z = 1; return a . typeof(b); }\nsub g() { return 5; }\nreturn \"<\" . f(1) . f(1) . f(2, 3) . f(4, 5, 6) . g(7, 8);", L"<1null1null2int324int325"},
      {"handed-over parameter is the callee's own", L"sub f(a) { a = a . \"x\"; return a; }\nv = \"p\"; r = f(v); r2 = f(r); return v . r . r2;", L"ppxpxx"},
      {"handed-over array is shared", L"sub f(a) { a[0] = 9; return 0; }\narray x; x[0] = 1; f(x); return x[0];", L"9"},
      {"argument read in a branch", L"sub f(a) { if (a > 1) return $2; return a; }\nreturn f(1, 5) . f(2, 7);", L"17"},
      {"argument read after a branch", L"sub f(a) { if (a <= 1) return a; return $2; }\nreturn f(1, 5) . f(2, 7);", L"17"},
      {"argument read in a later round", L"sub f(a) { s = \"\"; for (i = 0; i < 3; i++) { if (i == 2) s .= $2; s .= a; } return s; }\nreturn f(1, 5);", L"1151"},
      {"captures in a function", L"sub f(s) { if (s ~= \"(b+)\") return $1 . \"/\" . s; return \"none\"; }\nreturn f(\"abbc\") . f(\"x\");", L"bb/abbcnone"},
      // "return x;" of a local gives the caller the local's value itself.
      {"returned locals", L"sub f(a) { b = a . \"x\"; return b; }\nsub g() { array a; a[0] = 5; return a; }\nsub h(a) { s = \"0x10\"; return s; }\nx = g(); y = g(); x[0] = 1;\nreturn f(1) . f(2) . x[0] . y[0] . h(1) . (h(1) + 1);", L"1x2x150x1017"},
      {"returned parameters", L"sub k(a) { return a; }\nsub r(n) { if (n == 0) return n; t = r(n - 1) + 1; return t; }\nreturn k(v: 3) . k(4) . typeof(k()) . r(5) . r(3);", L"34null53"},
      {"returned global", L"sub f(a) { return G; }\nglobal G = 7; x = f(1); G = 8; return x . f(2) . G;", L"788"},
      {"foreach variable shadowed by a new global", L"sub mk() { global v = 0; return 0; }\narray a; a[0] = 1; a[1] = 2; a[2] = 3; s = \"\"; foreach (v : a) { if (v == 2) mk(); s .= v; } return s . typeof(v);", L"103null"},
      {"foreach variables of two loops", L"sub f(a) { s = \"\"; foreach (x : a) s .= x; foreach (y : a) s .= y . typeof(x); return s; }\narray a; a[0] = 1; a[1] = 2; return f(a) . f(a);", L"121null2null121null2null"},
      {"foreach in a function", L"sub f(a) { n = 0; foreach (v : a) n += v; return n; }\narray x; x[0] = 2; x[5] = 3; return f(x);", L"5"},
      {"results of calls combined", L"sub f(a) { return a; }\nsub t(a) { return a . \"\"; }\nreturn (f(3) + f(4)) . (f(7) % f(-3)) . (f(2) < f(3)) . (t(\"0x10\") + f(1)) . \" \" . (f(1) + f(2.5)) . typeof(f(1) + f(2L)) . (f(v: 5) - f(2)) . (f(\"a\") . f(2));", L"71117 3.500000int643a2"},
      {"right operands taken by their operators", L"t = 0; for (i = 0; i < 5; i++) t = t + (100 - i) % 7 - (i - 50) % (i + 3) * 2; return t;", L"44"},
      {"right operand that stops being an int32", L"s = 0; d = 1; for (i = 0; i < 4; i++) { s = s * 2 + d; if (i == 1) d = 0.5; } return s;", L"13.500000"},
      {"constants that are not int32 in statements", L"s = 0; t = 0; u = \"\"; for (i = 0; i < 3; i++) { s = s + i * 2 + 1.5; t = t + i + \"0x10\"; n = i * 2 + 2L; x = i * 2 + 0.5; u .= typeof(n) . x . \",\"; } return s . \" \" . t . \" \" . u;", L"10.500000 51 int640.500000,int642.500000,int644.500000,"},
      {"parameters then locals", L"sub f(a) { b = a * 2; c = b + a; return c; }\ns = 0; for (i = 0; i < 5; i++) s += f(i); return s;", L"30"},
   };
   expectResults(cases);
}

TEST(EngineFastPaths, FusedInstructionsCountAllTheirSteps)
{
   // Straight-line code runs each of its instructions once, whichever slice of the step
   // budget it falls in: an assignment statement (PUSH_CONST, SET, POP) and an int32
   // operation on a pushed operand (PUSH_VAR, PUSH_CONST, ADD) count every instruction.
   struct Case { const char *name; const wchar_t *statement; const wchar_t *end; };
   const Case cases[] = {
      {"assignment", L"x = ", L";"},
      {"int32 operation", L"x = x + ", L";"},
      {"int32 comparison", L"x = x < ", L";"},
      {"int32 branch", L"if (", L" < 5000) x = x + 1;"},
      {"increment statement", L"x++; --x; x = ", L";"},
      {"element store", L"a[", L"] = x;"},
      {"element read", L"x = a[", L" - 1];"},
   };
   for (const Case &c : cases)
   {
      std::wstring source = L"x = 1; array a;\n";
      for (int i = 0; i < 3000; i++)
         source += c.statement + std::to_wstring(i) + c.end + L"\n";
      ORVA_Program *program = compile(source);
      ASSERT_NE(program, nullptr);
      const uint64_t codeSize = program->getCodeSize();
      delete program;
      const uint64_t needed = stepsNeeded(source);
      EXPECT_EQ(needed, codeSize) << c.name;
      // The last instruction, the implicit end, has the line after the last statement.
      EXPECT_EQ(runScript(source, needed - 1).error, L"Error 28 in line 3002: Instruction limit exceeded") << c.name;
      EXPECT_EQ(runScript(source, needed - 2).error, L"Error 28 in line 3001: Instruction limit exceeded") << c.name;
   }
}

TEST(EngineFastPaths, StatementsOnInt32ValuesInLoops)
{
   // A statement runs in one step from its second time in a run on; whenever an operand
   // is not an int32 it runs instruction by instruction, with the same result.
   const ResultCase cases[] = {
      {"arithmetic and wrapping", L"s = 0; x = 2147483000; for (i = 0; i < 5; i++) { s = (s * 31 + i * 7 - i % 3) % 1000003; x = x + 200; } return s . \" \" . x;", L"190956 -2147483296"},
      {"comparisons and logic", L"s = \"\"; for (i = 0; i < 6; i++) { t = (i > 2) + (i <= 4) * 2 + (i == 3 || i == 5) * 4 + (i != 0 && i % 2) * 8; s .= t . \",\"; } return s;", L"2,10,2,15,3,13,"},
      {"operands change type", L"s = \"\"; x = 1; for (i = 0; i < 6; i++) { y = x + 1; s .= y . typeof(y) . \",\"; if (i == 1) x = 1.5; if (i == 3) x = \"7\"; if (i == 4) x = 4; } return s;", L"2int32,2int32,2.500000real,2.500000real,8int32,5int32,"},
      {"variable text replaced", L"x = \"abc\"; for (i = 0; i < 3; i++) x = i * 2; return x . typeof(x);", L"4int32"},
      {"array operand replaced", L"array a; a[0] = 1; x = a; for (i = 0; i < 3; i++) x = i + 1; return x . typeof(x) . a[0];", L"3int321"},
      {"elements of every kind", L"array a; a[0] = 5; a[1] = \"6\"; a[2] = 7; a[3] = 1.5; s = \"\"; for (i = 0; i < 4; i++) { x = a[i] * 2; s .= x . \",\"; } return s;", L"10,12,14,3.000000,"},
      {"element index from an element", L"array a; array b; for (i = 0; i < 5; i++) { a[i] = 4 - i; b[i] = i * 10; } s = 0; for (i = 0; i < 5; i++) s = s + b[a[i]] + a[a[i]]; return s;", L"110"},
      {"condition of a while loop", L"array f; for (i = 0; i < 10; i++) f[i] = i % 3; n = 0; i = 0; while (f[i] + i < 9 && i < 10) { n++; i++; } return n . \" \" . i;", L"8 8"},
      {"a named operand keeps its name", L"sub g() { return typeof($v); }\nsub f() { for (i = 0; i < 3; i++) $1 = $1 + 1; return $1 . g($1); }\nreturn f(v: 1);", L"4int32"},
      {"a named target loses its name", L"sub g() { return typeof($v); }\nsub f() { for (i = 0; i < 3; i++) $1 = i + 1; return $1 . g($1); }\nreturn f(v: 1);", L"3null"},
      {"new variables in order", L"s = \"\"; for (i = 0; i < 3; i++) { if (i == 2) { x = i + 1; y = x * 2; } } return x . y . typeof(z);", L"36null"},
      {"element replaced in place", L"array a; array b; b[0] = 1; a[0] = b; a[1] = \"t\"; x = 5; y = \"0x10\"; a[0] = x; a[1] = y; x = 6; return typeof(a[0]) . a[0] . b[0] . a[1] . (a[1] + 1);", L"int32510x1017"},
      {"element keeps a stored name", L"sub g() { return typeof($v); }\nsub f() { array a; a[0] = 1; for (i = 0; i < 2; i++) a[i] = $1; return g(a[0]) . g(a[1]); }\nreturn f(v: 3);", L"int32int32"},
      {"variable with a text of its own stored", L"x = \"0x10\"; array a; for (i = 0; i < 3; i++) a[i] = x; return a[2] . typeof(a[2]) . (a[2] + 1);", L"0x10int3217"},
      {"constant with a text of its own stored", L"array a; for (i = 0; i < 3; i++) a[i] = \"0x10\"; return a[0] . a[2] . typeof(a[2]) . (a[2] + 1);", L"0x100x10int3217"},
      {"number computed over every kind of element", L"sub g() { return typeof($v); }\nsub f() { array a; array b; b[0] = 9; a[0] = \"x\"; a[1] = b; a[2] = 1.5; a[3] = $1; a[4] = \"0x10\"; for (r = 0; r < 2; r++) for (i = 0; i < 7; i++) a[i] = 7 - r; return g(a[3]) . a[0] . typeof(a[1]) . b[0] . a[2] . a[4] . typeof(a[6]) . (a[4] + 1); }\nreturn f(v: 3);", L"null6int32966int327"},
      {"constant stored over every kind of element", L"sub g() { return typeof($v); }\nsub f() { array a; array b; b[0] = 9; a[0] = \"x\"; a[1] = b; a[2] = 1.5; a[3] = $1; a[4] = \"0x10\"; for (r = 0; r < 2; r++) for (i = 0; i < 7; i++) a[i] = 6; return g(a[3]) . a[0] . typeof(a[1]) . b[0] . a[2] . a[4] . typeof(a[6]) . (a[4] + 1); }\nreturn f(v: 3);", L"null6int32966int327"},
      {"computed elements", L"array a; for (r = 0; r < 2; r++) for (i = 0; i < 4; i++) a[i] = (i * 7 + r) % 5; b = a; s = \"\"; foreach (v : b) s .= v . typeof(v); return s;", L"1int323int320int322int32"},
      {"computed element index and value", L"array a; for (i = 0; i < 4; i++) { a[i * 2] = i - 1; a[i * 2 + 1] = a[i * 2] * 3; } s = \"\"; foreach (v : a) s .= v . \",\"; return s;", L"-1,-3,0,0,1,3,2,6,"},
      {"store into a shared array", L"sub fill(x) { for (i = 0; i < 3; i++) x[i] = i * 2 + 10; return x[2]; }\narray a; a[0] = 0; b = a; r = fill(a); return typeof(a[2]) . a[2] . \" \" . r . typeof(b[2]);", L"int3214 14null"},
      {"computed arguments", L"sub f(x) { return x . typeof(x); }\ns = \"\"; for (i = 0; i < 3; i++) s .= f(i * 2) . \"k\" . (i + 7) . \",\"; return s;", L"0int32k7,2int32k8,4int32k9,"},
      {"named computed argument", L"sub f() { return $v; }\ns = 0; for (i = 0; i < 3; i++) s = s + f(v: i * 2); return s;", L"6"},
      {"loop inside a function", L"sub sum(n) { t = 0; for (k = 1; k <= n; k++) t = t + k * k; return t; }\nreturn sum(10) . \" \" . sum(3);", L"385 14"},
   };
   expectResults(cases);
}

TEST(EngineFastPaths, StatementsCountAllTheirSteps)
{
   // The same loop on uint32 numbers runs every instruction one by one: the int32
   // version must need exactly as many steps, and stop at the same line for any limit.
   const std::wstring body =
      L"array a; a[0] = Z; s = Z; i = Z; j = Z;\n"
      L"sub f(x) { return x; }\n"
      L"while (i < 40U) {\n"
      L"   s = (s + i * 3 + a[0]) % 1000;\n"
      L"   if (s % 2U == Z) j = j + 1;\n"
      L"   a[1] = s * 2;\n"
      L"   a[2] = f(i * 2) + a[1];\n"
      L"   i = i + 1U;\n"
      L"}\n"
      L"return s . \" \" . j . \" \" . a[2];\n";
   auto withZero = [&](const wchar_t *zero) {
      std::wstring source = body;
      for (size_t at = source.find(L'Z'); at != std::wstring::npos; at = source.find(L'Z'))
         source.replace(at, 1, zero);
      return source;
   };
   const std::wstring fast = withZero(L"0");
   const std::wstring slow = withZero(L"0U");
   ASSERT_EQ(runScript(fast).result, runScript(slow).result);
   const uint64_t needed = stepsNeeded(slow);
   EXPECT_EQ(stepsNeeded(fast), needed);
   for (uint64_t limit = needed - 40; limit < needed; limit++)
      EXPECT_EQ(runScript(fast, limit).error, runScript(slow, limit).error) << limit;
}

TEST(EngineFastPaths, EveryLoopShapeCountsEachInstructionPerRound)
{
   // A round of a loop without branches in its body runs every instruction of the loop
   // once, except a for loop's start (its first statement, 3 instructions). The loop runs
   // n rounds, so one more round must cost exactly that many more steps, whichever fast
   // path (fused branch, decoded statement, increment, element access, append) runs it
   // and whatever instruction (a back-jump, a condition) follows the statement.
   struct Case { const char *name; const wchar_t *loop; uint64_t once; };
   const Case cases[] = {
      {"assignment before the back-jump", L"while (i < n) { i = i + 1; x = x + i * 2; }", 0},
      {"element store before the back-jump", L"while (i < n) { i = i + 1; a[i % 4] = i * 3; }", 0},
      {"constant element store before the back-jump", L"while (i < n) { i = i + 1; a[i % 4] = 9; }", 0},
      {"for loop filling an array with a constant", L"for (k = 0; k < n; k++) a[k + 4] = 1;", 3},
      {"element read before the back-jump", L"while (i < n) { i = i + 1; x = a[i % 4] + 1; }", 0},
      {"decoded condition", L"while (i + 1 < n + 1) i = i + 1;", 0},
      {"increment before the back-jump", L"while (i < n) { x = a[j]; i++; }", 0},
      {"for loop step", L"for (i = 0; i < n; i++) x = x + i;", 3},
      {"for loop with element access", L"for (i = 0; i < n; ++i) { j = i % 4; a[j] = x; x = a[j]; }", 3},
      {"do-while with an append", L"do { i = i + 1; s .= \"a\"; } while (i < n);", 0},
      {"do-while with a decoded condition", L"do { x = x + 2; i++; } while (i * 2 < n * 2);", 0},
   };
   const std::wstring prelude = L"x = 0; i = 0; j = 1; s = \"\"; array a; a[0] = 5; a[1] = 6; a[2] = 7; a[3] = 8;\n";
   const std::wstring epilogue = L"\nreturn x . s;\n";
   ORVA_Program *bare = compile(L"n = 20; " + prelude + epilogue);
   ASSERT_NE(bare, nullptr);
   const uint64_t bareSize = bare->getCodeSize();
   delete bare;
   for (const Case &c : cases)
   {
      ORVA_Program *program = compile(L"n = 20; " + prelude + c.loop + epilogue);
      ASSERT_NE(program, nullptr) << c.name;
      const uint64_t loopSize = program->getCodeSize() - bareSize;
      delete program;
      const uint64_t twenty = stepsNeeded(L"n = 20; " + prelude + c.loop + epilogue);
      const uint64_t twentyOne = stepsNeeded(L"n = 21; " + prelude + c.loop + epilogue);
      EXPECT_EQ(twentyOne - twenty, loopSize - c.once) << c.name;
   }
}

TEST(EngineFastPaths, AppendsGrowTheTextInPlace)
{
   const ResultCase cases[] = {
      {"append to itself", L"s = \"ab\"; for (i = 0; i < 3; i++) s .= s; return s;", L"abababababababab"},
      {"operand reads the text", L"s = \"x\"; for (i = 0; i < 3; i++) s .= (s == \"x\") . substr(\"-\", 1, 1); return s;", L"x1-0-0-"},
      {"numbers appended", L"s = \"\"; for (i = 0; i < 4; i++) s .= i * 2 . \",\" . 1.5; return s;", L"0,1.5000002,1.5000004,1.5000006,1.500000"},
      {"number turned text", L"s = 7; for (i = 0; i < 3; i++) s .= i; return s . typeof(s);", L"7012int32"},
      {"text turned number", L"s = \"\"; for (i = 1; i < 4; i++) s .= i; return s . typeof(s) . (s + 1);", L"123int32124"},
      {"copy taken before", L"s = \"a\"; for (i = 0; i < 3; i++) { t = s; s .= \"b\"; } return t . \" \" . s;", L"abb abbb"},
      {"elements appended", L"array a; for (i = 0; i < 3; i++) a[i] = \"<\" . i . \">\"; s = \"\"; for (i = 0; i < 3; i++) s .= a[i] . a[2 - i]; return s;", L"<0><2><1><1><2><0>"},
      {"text of a parameter", L"sub f(x) { for (i = 0; i < 3; i++) x .= i; return x . $1; }\nreturn f(\"p\");", L"p012p"},
      {"operand with unary operators", L"s = \"\"; for (i = 0; i < 3; i++) s .= -i . !i . ~i . real(i) . \",\"; return s;", L"01-10.000000,-10-21.000000,-20-32.000000,"},
   };
   expectResults(cases);

   // The same loop on a number (copied, appended to, assigned) takes as many steps.
   const wchar_t *text = L"i = 0U; while (i < 50U) { s = \"5\"; s .= \"ab\" . i; i = i + 1U; } return s;";
   const wchar_t *number = L"i = 0U; while (i < 50U) { s = 5; s .= \"ab\" . i; i = i + 1U; } return s;";
   ASSERT_EQ(runScript(text).result, L"5ab49");
   ASSERT_EQ(runScript(number).result, L"5ab49");
   const uint64_t needed = stepsNeeded(number);
   EXPECT_EQ(stepsNeeded(text), needed);
   for (uint64_t limit = needed - 30; limit < needed; limit++)
      EXPECT_EQ(runScript(text, limit).error, runScript(number, limit).error) << limit;
}

TEST(EngineFastPaths, CallsCountTheirParameterSteps)
{
   // A call binds its parameters itself unless an argument is named; a named argument
   // costs exactly its NAME instruction more, so both ways count every BIND.
   std::wstring plain = L"sub f(a, b, c) { return b; }\n";
   std::wstring named = plain;
   for (int i = 0; i < 3000; i++)
   {
      plain += L"f(" + std::to_wstring(i) + L", 2);\n";
      named += L"f(" + std::to_wstring(i) + L", v: 2);\n";
   }
   EXPECT_EQ(stepsNeeded(named) - stepsNeeded(plain), 3000u);
}

TEST(EngineFastPaths, ReturnedLocalsCountTheirReturn)
{
   // "return b;" of a local skips nothing: it takes as many steps as the same function
   // returning a global, apart from the global's declaration, and stops at the same lines.
   std::wstring local = L"sub f(a) { b = a; return b; }\n";
   std::wstring global = L"global b; sub f(a) { b = a; return b; }\n";
   for (int i = 0; i < 2000; i++)
   {
      local += L"f(" + std::to_wstring(i) + L");\n";
      global += L"f(" + std::to_wstring(i) + L");\n";
   }
   ORVA_Program *localProgram = compile(local);
   ORVA_Program *globalProgram = compile(global);
   ASSERT_NE(localProgram, nullptr);
   ASSERT_NE(globalProgram, nullptr);
   const uint64_t declaration = globalProgram->getCodeSize() - localProgram->getCodeSize();
   delete localProgram;
   delete globalProgram;
   const uint64_t needed = stepsNeeded(local);
   EXPECT_EQ(stepsNeeded(global) - needed, declaration);
   for (uint64_t limit = needed - 12; limit < needed; limit++)
      EXPECT_EQ(runScript(local, limit).error, runScript(global, limit + declaration).error) << limit;
}

TEST(EngineFastPaths, ErrorsKeepTheirLines)
{
   struct Case { const char *name; const wchar_t *source; const wchar_t *error; };
   const Case cases[] = {
      {"divide by zero in an assignment", L"x = 1;\ny = 5 % 0;\n", L"Error 9 in line 2: Divide by zero"},
      {"error at the first instruction of its line", L"x = 5;\narray x;\n", L"Error 22 in line 2: Variable already exist"},
      {"comparison with null", L"x = 1;\ny = x < null;\n", L"Error 5 in line 2: Invalid operation with NULL value"},
      {"element store at a new variable", L"array a;\na[n] = 1;\n", L"Error 23 in line 2: Array index is not an integer"},
      {"element read of a number", L"a = 5;\nx = a[0];\n", L"Error 24 in line 2: Attempt to use array element access operation on non-array"},
      {"int32 branch on a remainder by zero", L"x = 0;\nif (5 % x) x = 1;\n", L"Error 9 in line 2: Divide by zero"},
      {"int32 branch on a new variable", L"x = 1;\nif (x < nothing) x = 2;\n", L"Error 5 in line 2: Invalid operation with NULL value"},
      {"int32 and a new variable", L"x = 1;\ny = x + nothing;\n", L"Error 5 in line 2: Invalid operation with NULL value"},
      {"int32 remainder by a zero variable", L"x = 7; z = 0;\ny = x % z;\n", L"Error 9 in line 2: Divide by zero"},
      {"remainder of results of calls by zero", L"sub f(a) { return a; }\nx = 1;\ny = f(5) % f(0);\n", L"Error 9 in line 3: Divide by zero"},
      {"remainder by zero in a later round", L"for (i = 3; i >= 0; i--)\n   z = 10 % i + 1;\n", L"Error 9 in line 2: Divide by zero"},
      {"store into a number in a later round", L"array a; x = a;\nfor (i = 0; i < 3; i++) {\n   x[i] = i * 2;\n   if (i == 1) x = 5; }\n", L"Error 24 in line 3: Attempt to use array element access operation on non-array"},
      {"store at a real index in a later round", L"array a; k = 0;\nfor (i = 0; i < 3; i++) {\n   a[k] = i * 2;\n   if (i == 1) k = 1.5; }\n", L"Error 23 in line 3: Array index is not an integer"},
      {"null appended in a later round", L"array a; a[0] = \"x\"; a[1] = \"y\"; s = \"\";\nfor (i = 0; i < 3; i++)\n   s .= a[i];\n", L"Error 5 in line 3: Invalid operation with NULL value"},
      {"null element in a later round", L"array a; a[0] = 1; a[1] = 2;\nfor (i = 0; i < 3; i++)\n   z = a[i] + 1;\n", L"Error 5 in line 3: Invalid operation with NULL value"},
      {"element of a number in a later round", L"array a; a[0] = 1; x = a;\nfor (i = 0; i < 3; i++) {\n   z = x[0] + i;\n   if (i == 1) x = 5; }\n", L"Error 24 in line 3: Attempt to use array element access operation on non-array"},
   };
   for (const Case &c : cases)
      EXPECT_EQ(runScript(c.source).error, c.error) << c.name;
}
