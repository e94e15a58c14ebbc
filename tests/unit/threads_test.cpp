// Programs on several threads at once: separate programs compiled and run in parallel
// (built-ins with shared process state included: time, random, sleep, localtime), one
// program shared between threads under its lock, and one script library shared under its
// lock while runs load modules from it and another thread replaces them. Each thread checks
// its own results; the ThreadSanitizer build in CI checks that nothing races.
#include <orva.h>

#include <gtest/gtest.h>

#include "compile_script.h"

#include <algorithm>
#include <atomic>
#include <cwchar>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kThreads = 4;
constexpr int kRunsPerThread = 20;

// Keeps what a run prints, so each thread can compare its own output.
class CapturingEnvironment : public ORVA_Environment
{
public:
   explicit CapturingEnvironment(std::wstring *output) : m_output(output) {}
   void print(ORVA_Value *value) override
   {
      uint32_t length = 0;
      const wchar_t *text = value != nullptr ? value->getValueAsString(&length) : nullptr;
      if (text != nullptr)
         m_output->append(text, length);
   }

private:
   std::wstring *m_output;
};

// Runs program with one integer argument; returns the int32 result, or a negative number
// below any result the scripts produce when the run fails.
int32_t runWith(ORVA_Program *program, ORVA_Environment *environment, int32_t argument)
{
   ORVA_Value *argv[] = {new ORVA_Value(argument)};
   if (program->run(environment, 1, argv) != 0 || program->getResult() == nullptr)
      return -1000;
   return program->getResult()->getValueAsInt32();
}

void runThreads(int count, const std::function<void(int)> &body)
{
   std::vector<std::thread> threads;
   for (int t = 0; t < count; t++)
      threads.emplace_back(body, t);
   for (std::thread &thread : threads)
      thread.join();
}

// The script every thread compiles for itself. Negative results name the check that failed.
const wchar_t kSeparateScript[] =
   L"sub fib(n) { if (n < 2) return n; return fib(n - 1) + fib(n - 2); }\n"
   L"n = $1; start = time(); r = random(1, 6); sleep(1);\n"
   L"if (r < 1 || r > 6) return -1;\n"
   L"if (time() < start) return -2;\n"
   L"when = localtime(start); if (when->year < 2000) return -3;\n"
   L"if (length(strftime(\"%Y-%m-%d\", start)) != 10) return -4;\n"
   L"array a; for (k = 0; k < 20; k++) a[k] = k * n;\n"
   L"s = 0; foreach (v : a) s += v;\n"
   L"if ((\"id-\" . n) ~= \"^id-([0-9]+)$\") println upper(\"x\" . $1) . \" \" . s . \" \" . fib(10);\n"
   L"return s;\n";

}  // namespace

TEST(Threads, SeparateProgramsCompileAndRunAtOnce)
{
   std::vector<int> failures(kThreads, 0);
   std::vector<std::wstring> details(kThreads);   // the first failure of each thread
   runThreads(kThreads, [&failures, &details](int t) {
      for (int i = 0; i < kRunsPerThread; i++)
      {
         int32_t n = t * 1000 + i;
         ORVA_Program *program = compile(kSeparateScript);
         if (program == nullptr)
         {
            failures[t]++;
            continue;
         }
         std::wstring output;
         int32_t result = runWith(program, new CapturingEnvironment(&output), n);
         std::wstring expected = L"X" + std::to_wstring(n) + L" " + std::to_wstring(190 * n) + L" 55\n";
         if (result != 190 * n || output != expected)
         {
            if (failures[t]++ == 0)
               details[t] = L"result " + std::to_wstring(result) + L", output " + output;
         }
         delete program;
      }
   });
   EXPECT_EQ(failures, std::vector<int>(kThreads, 0));
   for (const std::wstring &detail : details)
      EXPECT_EQ(detail, L"");
}

TEST(Threads, SharedProgramRunsUnderItsLock)
{
   ORVA_Program *program = compile(
      L"sub twice(x) { return x * 2; }\n"
      L"array seen; seen[$1] = $1; sleep(0);\n"
      L"return twice($1) + length(strftime(\"%Y\", time()));");
   ASSERT_NE(program, nullptr);
   std::vector<int> failures(kThreads, 0);
   runThreads(kThreads, [program, &failures](int t) {
      for (int i = 0; i < kRunsPerThread; i++)
      {
         int32_t n = t * 1000 + i;
         program->lock();
         auto *environment = new ORVA_Environment();
         environment->setIO(nullptr, nullptr);
         int32_t result = runWith(program, environment, n);
         // The result belongs to the program until its next run: read it under the lock.
         if (result != 2 * n + 4)
            failures[t]++;
         program->unlock();
      }
   });
   EXPECT_EQ(failures, std::vector<int>(kThreads, 0));
   delete program;
}

// Runs that load modules hold the library's lock for the whole run, since linking reads
// the module's program; one thread keeps replacing the modules under the same lock, so a
// run always links a whole, live module.
TEST(Threads, SharedLibraryUnderItsLockWhileModulesLoad)
{
   const wchar_t *utilSource = L"sub twice(x) { return x * 2; }";
   const wchar_t *extraSource = L"sub plus(x, y) { return x + y; }";
   ORVA_Library library;
   library.addScript(1, L"util", compile(utilSource));
   library.addScript(2, L"extra", compile(extraSource));

   std::atomic<bool> running(true);
   std::thread changer([&]() {
      uint32_t id = 3;
      while (running)
      {
         // Compiled outside the lock: compilations need none.
         ORVA_Program *util = compile(utilSource);
         ORVA_Program *extra = compile(extraSource);
         library.lock();
         library.deleteScript(L"util");
         library.deleteScript(L"EXTRA");
         library.addScript(id++, L"Util", util);
         library.addScript(id++, L"extra", extra);
         library.unlock();
         std::this_thread::yield();
      }
   });

   std::vector<int> failures(kThreads, 0);
   runThreads(kThreads, [&library, &failures](int t) {
      for (int i = 0; i < kRunsPerThread; i++)
      {
         int32_t n = t * 1000 + i;
         ORVA_Program *program = compile(L"use util; use extra; return plus(twice($1), 1);");
         if (program == nullptr)
         {
            failures[t]++;
            continue;
         }
         auto *environment = new ORVA_Environment();
         environment->setLibrary(&library);
         library.lock();
         int32_t result = runWith(program, environment, n);
         library.unlock();
         if (result != 2 * n + 1)
            failures[t]++;
         delete program;
      }
   });
   running = false;
   changer.join();
   EXPECT_EQ(failures, std::vector<int>(kThreads, 0));
   EXPECT_EQ(library.getCount(), 2u);
}

namespace {

// Counts the deletions of its objects; its one attribute reads the object's data.
class ProbeClass : public ORVA_Class
{
public:
   ProbeClass() { wcscpy(name, L"probe"); }
   ORVA_Value *getAttr(ORVA_Object *object, const wchar_t *attribute) override
   {
      if (wcscmp(attribute, L"id") != 0)
         return nullptr;
      return new ORVA_Value(*static_cast<int32_t *>(object->getData()));
   }
   void onObjectDelete(ORVA_Object *) override { deleted++; }
   std::atomic<int> deleted{0};
};

}  // namespace

// Hosts share one constant set, holding a host object, between programs that run at once:
// every run copies the set, so the copies count references to the same object together.
TEST(Threads, SharedConstantSetWithAHostObject)
{
   ProbeClass probe;
   int32_t id = 42;
   {
      ORVA_VariableSystem constants(true);
      constants.create(L"host", new ORVA_Value(new ORVA_Object(&probe, &id)));
      constants.create(L"label", new ORVA_Value(L"edge-7"));
      std::vector<int> failures(kThreads, 0);
      runThreads(kThreads, [&constants, &failures](int t) {
         ORVA_Program *program = compile(L"copy = host; return copy->id + length(label) + $1;");
         for (int i = 0; program != nullptr && i < kRunsPerThread * 10; i++)
         {
            ORVA_Value *argv[] = {new ORVA_Value(static_cast<int32_t>(t))};
            auto *environment = new ORVA_Environment();
            environment->setIO(nullptr, nullptr);
            if (program->run(environment, 1, argv, nullptr, nullptr, &constants) != 0 ||
                program->getResult()->getValueAsInt32() != 42 + 6 + t)
               failures[t]++;
         }
         failures[t] += program == nullptr ? 1 : 0;
         delete program;
      });
      EXPECT_EQ(failures, std::vector<int>(kThreads, 0));
      EXPECT_EQ(probe.deleted, 0);
   }
   EXPECT_EQ(probe.deleted, 1);
}

// Clones of one compiled program run on eight threads at once: each links modules from one
// shared library (a copy of their code per run, appended to the clone's own code array),
// converts CASE constants (which each clone does on a copy of its own), matches, and keeps
// its globals from call to call. The template itself never runs; clones are deleted while
// others still run, and the template before the last of them.
TEST(Threads, ClonesOfOneProgramRunAtOnce)
{
   constexpr int kCloneThreads = 8;
   ORVA_Library library;
   library.addScript(1, L"util", compile(L"sub twice(x) { return x * 2; }"));
   library.addScript(2, L"extra", compile(L"sub plus(x, y) { return x + y; }"));
   ORVA_Program *templateProgram = compile(
      L"use util; use extra;\n"
      L"global count = 0;\n"
      L"sub kind(v) { switch (v) { case 1: return \"one\"; case 2.5: return \"two and a half\"; default: return \"other\"; } }\n"
      L"sub onEvent(n, x) {\n"
      L"   count++;\n"
      L"   if (!((\"id-\" . n) ~= \"^id-([0-9]+)$\")) return -1;\n"
      L"   if (kind(x) != (x == 1 ? \"one\" : x == 2.5 ? \"two and a half\" : \"other\")) return -2;\n"
      L"   return plus(twice($1), count);\n"
      L"}\n");
   ASSERT_NE(templateProgram, nullptr);
   templateProgram->setKeepGlobals(true);

   std::vector<ORVA_Program *> clones(kCloneThreads, nullptr);
   for (ORVA_Program *&clone : clones)
      clone = templateProgram->clone();
   ASSERT_EQ(std::count(clones.begin(), clones.end(), nullptr), 0);

   std::vector<int> failures(kCloneThreads, 0);
   runThreads(kCloneThreads, [&](int t) {
      ORVA_Program *program = clones[t];
      auto *setup = new ORVA_Environment();
      setup->setLibrary(&library);
      if (program->run(setup, 0, nullptr) != 0)
         failures[t]++;
      for (int i = 1; i <= kRunsPerThread; i++)
      {
         auto *environment = new ORVA_Environment();
         environment->setLibrary(&library);
         const double x = (i % 3 == 0) ? 2.5 : (i % 3 == 1) ? 1.0 : 7.0;
         ORVA_Value *argv[] = {new ORVA_Value(static_cast<int32_t>(t * 100 + i)), new ORVA_Value(x)};
         if (program->call(L"onEvent", 2, argv, environment) != 0 || program->getResult() == nullptr ||
             program->getResult()->getValueAsInt32() != 2 * (t * 100 + i) + i)
            failures[t]++;
      }
      if (t % 2 == 0)
      {
         delete program;
         clones[t] = nullptr;
      }
   });
   EXPECT_EQ(failures, std::vector<int>(kCloneThreads, 0));
   delete templateProgram;
   for (ORVA_Program *clone : clones)
   {
      if (clone == nullptr)
         continue;
      auto *environment = new ORVA_Environment();
      environment->setLibrary(&library);
      ORVA_Value *argv[] = {new ORVA_Value(static_cast<int32_t>(1)), new ORVA_Value(7.0)};
      EXPECT_EQ(clone->call(L"onEvent", 2, argv, environment), 0);
      EXPECT_EQ(clone->getResult()->getValueAsInt32(), 2 + kRunsPerThread + 1);
      delete clone;
   }
}

// Copies of one value share its text across threads: every thread copies the host's value,
// changes some of its copies (which makes their text their own) and drops copies that the
// host made for it, while scripts run with copies as arguments; the results the threads
// copy out are dropped here. A count of holders that drifts shows as a buffer given back
// too early or never (the AddressSanitizer build checks leaks).
TEST(Threads, TextsSharedAcrossThreads)
{
   constexpr int kRounds = 200;
   ORVA_Value original(L"one text that every thread shares");
   const ORVA_Value *source = &original;
   std::vector<std::vector<ORVA_Value *>> handed(kThreads);
   for (std::vector<ORVA_Value *> &copies : handed)
   {
      for (int i = 0; i < kRounds; i++)
         copies.push_back(new ORVA_Value(source));
   }
   std::vector<ORVA_Value *> results(kThreads, nullptr);
   std::vector<int> failures(kThreads, 0);
   runThreads(kThreads, [&](int t) {
      ORVA_Program *program = compile(L"sub onEvent(line) { copy = line; copy .= \"!\"; return copy; }");
      for (int i = 0; i < kRounds; i++)
      {
         ORVA_Value copy(source);
         if (i % 2 == 0)
            copy.concatenate(L"+", 1);
         if (std::wcscmp(copy.getValueAsCString(), i % 2 == 0 ? L"one text that every thread shares+"
                                                               : L"one text that every thread shares") != 0)
            failures[t]++;
         delete handed[t][i];
         ORVA_Value *argv[] = {new ORVA_Value(source)};
         if (program->call(L"onEvent", 1, argv) != 0)
            failures[t]++;
      }
      results[t] = new ORVA_Value(program->getResult());
      delete program;
   });
   EXPECT_EQ(failures, std::vector<int>(kThreads, 0));
   for (ORVA_Value *result : results)
   {
      EXPECT_STREQ(result->getValueAsCString(), L"one text that every thread shares!");
      delete result;
   }
   original.concatenate(L".", 1);
   EXPECT_STREQ(original.getValueAsCString(), L"one text that every thread shares.");
}

// Two threads each hold a copy of the same texts, read them and drop their copies at once:
// whichever drops a text last gives its buffer back to its pool, which writes into it, so
// the other thread's reads must come before.
TEST(Threads, LastHolderOfASharedTextOnEitherThread)
{
   constexpr int kTexts = 2000;
   std::vector<ORVA_Value *> holders[2];
   for (int i = 0; i < kTexts; i++)
   {
      holders[0].push_back(new ORVA_Value((L"text " + std::to_wstring(i)).c_str()));
      holders[1].push_back(new ORVA_Value(holders[0].back()));
   }
   std::vector<int> failures(2, 0);
   runThreads(2, [&](int t) {
      for (int i = 0; i < kTexts; i++)
      {
         if (std::wcscmp(holders[t][i]->getValueAsCString(), (L"text " + std::to_wstring(i)).c_str()) != 0)
            failures[t]++;
         delete holders[t][i];
      }
   });
   EXPECT_EQ(failures, std::vector<int>(2, 0));
}
