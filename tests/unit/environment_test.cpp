// ORVA_Environment: the built-in function table, host registration and lookup, and the
// print and trace hooks.
#include <gtest/gtest.h>

#include <orva.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "env/builtins.h"

namespace {

int hostFunction(int, ORVA_Value **, ORVA_Value **result, ORVA_Program *)
{
   *result = new ORVA_Value(1);
   return 0;
}

int otherHostFunction(int, ORVA_Value **, ORVA_Value **result, ORVA_Program *)
{
   *result = new ORVA_Value(2);
   return 0;
}

ORVA_ExtFunction record(const wchar_t *name, ORVA_Handler handler, int numArgs)
{
   ORVA_ExtFunction function = {};
   wcsncpy(function.name, name, 63);
   function.handler = handler;
   function.numArgs = numArgs;
   return function;
}

// Everything print writes for one value, captured through a memory stream.
std::string printed(ORVA_Value *value)
{
   char *buffer = nullptr;
   size_t size = 0;
   FILE *stream = open_memstream(&buffer, &size);
   ORVA_Environment environment;
   environment.setIO(nullptr, stream);
   environment.print(value);
   fclose(stream);
   std::string text(buffer, size);
   free(buffer);
   return text;
}

}  // namespace

TEST(Environment, HasThe32BuiltinsInOrder)
{
   struct Expected
   {
      const wchar_t *name;
      int numArgs;
      ORVA_Handler handler;
   };
   const Expected expected[] = {
      { L"_exit", -1, builtinExit },          { L"abs", 1, builtinAbs },
      { L"classof", 1, builtinClassof },      { L"d2x", -1, builtinD2x },
      { L"exp", 1, builtinExp },              { L"gmtime", -1, builtinGmtime },
      { L"index", -1, builtinIndex },         { L"left", -1, builtinLeft },
      { L"length", 1, builtinLength },        { L"localtime", -1, builtinLocaltime },
      { L"log", 1, builtinLog },              { L"log10", 1, builtinLog10 },
      { L"lower", 1, builtinLower },          { L"ltrim", 1, builtinLTrim },
      { L"max", -1, builtinMax },             { L"min", -1, builtinMin },
      { L"pow", 2, builtinPow },              { L"random", 2, builtinRandom },
      { L"right", -1, builtinRight },         { L"rindex", -1, builtinRIndex },
      { L"rtrim", 1, builtinRTrim },          { L"sleep", 1, builtinSleep },
      { L"strftime", -1, builtinStrftime },   { L"substr", -1, builtinSubstr },
      { L"time", 0, builtinTime },            { L"trace", 2, builtinTrace },
      { L"trim", 1, builtinTrim },            { L"typeof", 1, builtinTypeof },
      { L"upper", 1, builtinUpper },          { L"AddrInRange", 3, builtinAddrInRange },
      { L"AddrInSubnet", 3, builtinAddrInSubnet }, { L"SecondsToUptime", 1, builtinSecondsToUptime },
   };
   static_assert(sizeof(expected) / sizeof(expected[0]) == 32, "32 built-ins");

   ORVA_Environment environment;
   ASSERT_EQ(32u, environment.getFunctionCount());
   for (size_t i = 0; i < 32; i++)
   {
      const ORVA_ExtFunction *shared = std::as_const(environment).findFunction(expected[i].name);
      ASSERT_NE(nullptr, shared) << i;
      EXPECT_EQ(shared, environment.getFunction(static_cast<uint32_t>(i))) << i;
      EXPECT_EQ(expected[i].handler, shared->handler) << i;
   }
   const ORVA_ExtFunction *first = environment.findFunction(L"_exit");
   ASSERT_NE(nullptr, first);
   for (size_t i = 0; i < 32; i++)
   {
      const ORVA_ExtFunction *found = environment.findFunction(expected[i].name);
      ASSERT_NE(nullptr, found) << i;
      EXPECT_EQ(static_cast<ptrdiff_t>(i), found - first) << i;
      EXPECT_EQ(expected[i].numArgs, found->numArgs) << i;
      EXPECT_EQ(expected[i].handler, found->handler) << i;
      // The environment works on its own copy of the read-only table.
      EXPECT_NE(&g_orvaDefaultFunctions[i], found);
   }
}

TEST(Environment, FindsExactNamesOnly)
{
   ORVA_Environment environment;
   std::wstring tooLong(100, L'a');
   for (const wchar_t *name : { L"Abs", L"ABS", L"ab", L"abs ", L" abs", L"", L"addrinrange", tooLong.c_str() })
   {
      EXPECT_EQ(nullptr, std::as_const(environment).findFunction(name));   // the shared built-ins
      EXPECT_EQ(nullptr, environment.findFunction(name));                  // the environment's own
   }
   EXPECT_EQ(nullptr, std::as_const(environment).findFunction(nullptr));
   EXPECT_EQ(nullptr, environment.findFunction(nullptr));
   EXPECT_NE(nullptr, environment.findFunction(L"AddrInRange"));
}

TEST(Environment, HostFunctionsComeAfterTheBuiltins)
{
   ORVA_Environment environment;
   environment.registerFunctionSet(0, nullptr);
   EXPECT_EQ(32u, environment.getFunctionCount());

   // The caller's array is not kept: it is released right after registering.
   auto *first = static_cast<ORVA_ExtFunction *>(malloc(3 * sizeof(ORVA_ExtFunction)));
   first[0] = record(L"abs", hostFunction, 1);
   first[1] = record(L"host", hostFunction, -1);
   first[2] = record(L"same", hostFunction, 0);
   environment.registerFunctionSet(3, first);
   free(first);
   const ORVA_ExtFunction second[] = { record(L"same", otherHostFunction, 2), record(L"later", otherHostFunction, 1) };
   environment.registerFunctionSet(2, second);
   ASSERT_EQ(37u, environment.getFunctionCount());

   EXPECT_EQ(builtinAbs, environment.findFunction(L"abs")->handler);   // a built-in is never hidden
   const ORVA_ExtFunction *base = environment.findFunction(L"_exit");
   const ORVA_ExtFunction *host = environment.findFunction(L"host");
   ASSERT_NE(nullptr, host);
   EXPECT_EQ(33, host - base);
   EXPECT_EQ(-1, host->numArgs);
   const ORVA_ExtFunction *same = environment.findFunction(L"same");
   EXPECT_EQ(hostFunction, same->handler);   // of two host functions the first registered wins
   EXPECT_EQ(0, same->numArgs);
   EXPECT_EQ(36, environment.findFunction(L"later") - base);
}

TEST(Environment, StoresStreamsAndLibraryWithoutOwningThem)
{
   auto *environment = new ORVA_Environment;
   EXPECT_EQ(nullptr, environment->getStdIn());
   EXPECT_EQ(nullptr, environment->getStdOut());
   EXPECT_EQ(nullptr, environment->getLibrary());
   ORVA_Library library;
   environment->setIO(stdin, stdout);
   environment->setLibrary(&library);
   EXPECT_EQ(stdin, environment->getStdIn());
   EXPECT_EQ(stdout, environment->getStdOut());
   EXPECT_EQ(&library, environment->getLibrary());
   delete environment;
   EXPECT_EQ(0u, library.getCount());
}

TEST(Environment, PrintWritesTheTextForm)
{
   ORVA_Array *array = new ORVA_Array();
   ORVA_Value arrayValue(array);
   array->incRefCount();   // the iterator's own reference, taken by its creator
   ORVA_Iterator *iterator = new ORVA_Iterator(L"x", array);
   ORVA_Value iteratorValue(iterator);
   ORVA_Class genericClass;
   ORVA_Value objectValue(new ORVA_Object(&genericClass, nullptr));
   ORVA_Value nullValue;
   ORVA_Value five(5);
   ORVA_Value real(1.5);
   ORVA_Value negative(static_cast<int64_t>(-9000000000LL));
   ORVA_Value hex(L"0x1A");
   ORVA_Value empty(L"");
   ORVA_Value text(L"a b");
   ORVA_Value unicode(L"\u00E9\u20AC\U0001F600");
   ORVA_Value withZero(L"a\0b", 3);

   struct PrintCase
   {
      const char *label;
      ORVA_Value *value;
      std::string expected;
   };
   const PrintCase cases[] = {
      { "null", &nullValue, "(null)" },
      { "null pointer", nullptr, "(null)" },
      { "object", &objectValue, "(null)" },
      { "array", &arrayValue, "(null)" },
      { "iterator", &iteratorValue, "" },
      { "int32", &five, "5" },
      { "real", &real, "1.500000" },
      { "int64", &negative, "-9000000000" },
      { "number keeps its text", &hex, "0x1A" },
      { "empty", &empty, "" },
      { "text, no line end", &text, "a b" },
      { "UTF-8", &unicode, "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80" },
      { "zero characters", &withZero, std::string("a\0b", 3) },
   };
   for (const PrintCase &c : cases)
      EXPECT_EQ(c.expected, printed(c.value)) << c.label;
}

TEST(Environment, PrintWithoutStreamWritesNothing)
{
   ORVA_Environment environment;
   ORVA_Value five(5);
   ORVA_Value nullValue;
   environment.print(&five);   // must neither crash nor write anywhere
   environment.print(&nullValue);
   environment.trace(1, L"ignored");
}

namespace {

struct TraceRecord
{
   int level;
   std::wstring text;
};

// A host environment that records trace messages and reports its own destruction.
class RecordingEnvironment : public ORVA_Environment
{
public:
   RecordingEnvironment(std::vector<TraceRecord> *traces, bool *destroyed) : m_traces(traces), m_destroyed(destroyed) {}
   ~RecordingEnvironment() override { *m_destroyed = true; }
   void trace(int level, const wchar_t *text) override { m_traces->push_back({ level, text }); }

private:
   std::vector<TraceRecord> *m_traces;
   bool *m_destroyed;
};

}  // namespace

TEST(Environment, HostOverridesTraceAndIsDeletedThroughTheBase)
{
   std::vector<TraceRecord> traces;
   bool destroyed = false;
   ORVA_Environment *environment = new RecordingEnvironment(&traces, &destroyed);
   environment->trace(3, L"message");
   ASSERT_EQ(1u, traces.size());
   EXPECT_EQ(3, traces[0].level);
   EXPECT_EQ(L"message", traces[0].text);
   delete environment;   // as run() deletes it
   EXPECT_TRUE(destroyed);
}

namespace {

// Compiles and runs source with the given environment (which the run deletes); returns the
// program for its result, or null after a compile error.
ORVA_Program *runScript(const wchar_t *source, ORVA_Environment *environment, int *rc)
{
   wchar_t error[1024] = L"";
   ORVA_Program *program = ORVACompile(source, error, 1024);
   EXPECT_NE(nullptr, program) << std::string(error, error + wcslen(error));
   if (program == nullptr)
   {
      delete environment;
      return nullptr;
   }
   *rc = program->run(environment, 0, nullptr);
   return program;
}

}  // namespace

TEST(Environment, TraceBuiltinReachesTheHostDuringARun)
{
   std::vector<TraceRecord> traces;
   bool destroyed = false;
   int rc = -2;
   ORVA_Program *program = runScript(L"trace(1, \"first\"); trace(0x7, 42); return trace(-3, \"\");",
                                     new RecordingEnvironment(&traces, &destroyed), &rc);
   ASSERT_NE(nullptr, program);
   EXPECT_EQ(0, rc);
   EXPECT_TRUE(destroyed);   // run deletes the host's environment through the base
   ASSERT_EQ(3u, traces.size());
   EXPECT_EQ(1, traces[0].level);
   EXPECT_EQ(L"first", traces[0].text);
   EXPECT_EQ(7, traces[1].level);
   EXPECT_EQ(L"42", traces[1].text);
   EXPECT_EQ(-3, traces[2].level);
   EXPECT_EQ(L"", traces[2].text);
   ASSERT_NE(nullptr, program->getResult());
   EXPECT_TRUE(program->getResult()->isNull());
   delete program;
}

TEST(Environment, ScriptFunctionsHideHostFunctions)
{
   const ORVA_ExtFunction functions[] = { record(L"host", hostFunction, 0), record(L"other", otherHostFunction, 0) };
   auto *environment = new ORVA_Environment;
   environment->registerFunctionSet(2, functions);
   int rc = -2;
   ORVA_Program *program = runScript(L"sub host() { return 10; } return host() + other();", environment, &rc);
   ASSERT_NE(nullptr, program);
   EXPECT_EQ(0, rc);
   ASSERT_NE(nullptr, program->getResult());
   EXPECT_EQ(12, program->getResult()->getValueAsInt32());
   delete program;
}

TEST(Environment, PrintStatementGoesThroughTheStream)
{
   char *buffer = nullptr;
   size_t size = 0;
   FILE *stream = open_memstream(&buffer, &size);
   auto *environment = new ORVA_Environment;
   environment->setIO(nullptr, stream);
   int rc = -2;
   ORVA_Program *program = runScript(L"array a; print 5; print null; print a; print \"\"; println \"x\";", environment, &rc);
   fclose(stream);
   EXPECT_EQ(0, rc);
   EXPECT_EQ("5(null)(null)x\n", std::string(buffer, size));
   free(buffer);
   delete program;
}

// A script's call reaches the same record whatever the host did to the table before the
// run: the built-ins stay shared until a host edits or borrows one, and neither state may
// change which function a name reaches.
TEST(Environment, CallsReachTheSameRecordsWhetherTheTableIsSharedOrOwn)
{
   using Setup = void (*)(ORVA_Environment *);
   struct Case
   {
      const char *label;
      Setup setup;
      int32_t abs;     // what abs(-5) gives, or 0 for error 11
      int32_t host;    // what host() gives, or 0 for error 11
   };
   const Case cases[] = {
      { "built-ins only", [](ORVA_Environment *) {}, 5, 0 },
      { "host function", [](ORVA_Environment *e) { const ORVA_ExtFunction f = record(L"host", hostFunction, 0); e->registerFunctionSet(1, &f); }, 5, 1 },
      { "host abs is hidden", [](ORVA_Environment *e) { const ORVA_ExtFunction f[] = { record(L"abs", otherHostFunction, 1), record(L"host", hostFunction, 0) }; e->registerFunctionSet(2, f); }, 5, 1 },
      { "abs replaced", [](ORVA_Environment *e) { e->replaceFunction(record(L"abs", otherHostFunction, 1)); }, 2, 0 },
      { "abs removed", [](ORVA_Environment *e) { e->removeFunction(L"abs"); }, 0, 0 },
      { "host removed", [](ORVA_Environment *e) { const ORVA_ExtFunction f = record(L"host", hostFunction, 0); e->registerFunctionSet(1, &f); e->removeFunction(L"host"); }, 5, 0 },
      { "host replaced", [](ORVA_Environment *e) { const ORVA_ExtFunction f = record(L"host", hostFunction, 0); e->registerFunctionSet(1, &f); e->replaceFunction(record(L"host", otherHostFunction, 0)); }, 5, 2 },
      { "record borrowed, then host added", [](ORVA_Environment *e) { e->findFunction(L"abs"); const ORVA_ExtFunction f = record(L"host", hostFunction, 0); e->registerFunctionSet(1, &f); }, 5, 1 },
      { "borrowed record changed", [](ORVA_Environment *e) { e->findFunction(L"abs")->handler = otherHostFunction; }, 2, 0 },
   };
   // One program per call runs in every setup in turn, twice: what a run found about the
   // names of its code must not carry over to an environment that differs.
   for (const wchar_t *source : { L"return abs(-5);", L"return host();" })
   {
      wchar_t error[1024] = L"";
      ORVA_Program *program = ORVACompile(source, error, 1024);
      ASSERT_NE(nullptr, program);
      for (int round = 0; round < 2; round++)
      {
         for (const Case &c : cases)
         {
            auto *environment = new ORVA_Environment;
            c.setup(environment);
            const int rc = program->run(environment, 0, nullptr);
            const int32_t expected = (source[7] == L'a') ? c.abs : c.host;
            if (expected == 0)
            {
               EXPECT_EQ(ORVA_ERR_FUNCTION_NOT_FOUND, program->getErrorInfo().code) << c.label;
            }
            else
            {
               ASSERT_EQ(0, rc) << c.label;
               EXPECT_EQ(expected, program->getResult()->getValueAsInt32()) << c.label;
            }
         }
      }
      delete program;
   }
   // The shared table itself never changes.
   EXPECT_EQ(builtinAbs, g_orvaDefaultFunctions[1].handler);
}

// Records lent before the environment takes its own copy of the table stay readable.
TEST(Environment, LentRecordsOutliveTheTableBecomingTheEnvironments)
{
   ORVA_Environment environment;
   const ORVA_ExtFunction host = record(L"host", hostFunction, 0);
   environment.registerFunctionSet(1, &host);
   const ORVA_ExtFunction *lentHost = environment.getFunction(32);
   const ORVA_ExtFunction *lentAbs = std::as_const(environment).findFunction(L"abs");
   ASSERT_NE(nullptr, lentHost);
   ASSERT_NE(nullptr, lentAbs);
   ORVA_ExtFunction *own = environment.findFunction(L"abs");
   ASSERT_NE(nullptr, own);
   EXPECT_EQ(own, environment.getFunction(1));
   EXPECT_STREQ(L"host", lentHost->name);
   EXPECT_EQ(hostFunction, lentHost->handler);
   EXPECT_EQ(builtinAbs, lentAbs->handler);
   EXPECT_EQ(33u, environment.getFunctionCount());
   EXPECT_EQ(32, environment.findFunction(L"host") - environment.findFunction(L"_exit"));
}

namespace {

int hostText(int, ORVA_Value **, ORVA_Value **result, ORVA_Program *)
{
   *result = new ORVA_Value(L"h");
   return 0;
}

}  // namespace

TEST(Environment, ManyNamesInOneProgramEachReachTheirOwnFunction)
{
   // Forty host functions and the built-ins in one program: every call must reach its own
   // record in every run, however many names the program has.
   std::vector<ORVA_ExtFunction> records;
   std::wstring source = L"s = \"\";\n";
   for (int i = 0; i < 40; i++)
   {
      const std::wstring name = L"f" + std::to_wstring(i);
      records.push_back(record(name.c_str(), hostText, i % 3));
      source += L"s .= " + name + L"(";
      for (int k = 0; k < i % 3; k++)
         source += (k == 0) ? L"1" : L", 1";
      source += L") . length(\"" + name + L"\") . abs(-" + std::to_wstring(i) + L");\n";
   }
   source += L"return s;";
   std::wstring expected;
   for (int i = 0; i < 40; i++)
      expected += L"h" + std::to_wstring(i < 10 ? 2 : 3) + std::to_wstring(i);
   wchar_t error[1024] = L"";
   ORVA_Program *program = ORVACompile(source.c_str(), error, 1024);
   ASSERT_NE(nullptr, program) << std::string(error, error + wcslen(error));
   for (int round = 0; round < 3; round++)
   {
      auto *environment = new ORVA_Environment;
      environment->registerFunctionSet(static_cast<uint32_t>(records.size()), records.data());
      ASSERT_EQ(0, program->run(environment, 0, nullptr)) << ORVAToUtf8(program->getErrorText());
      EXPECT_EQ(expected, program->getResult()->getValueAsCString()) << round;
   }
   delete program;
}
