// Host mistakes that used to crash or leak, now handled where a check is cheap, and the
// sandboxing a host needs: functions taken out or replaced, host data through the
// environment, and an interrupt aimed at one run only.
#include <orva.h>

#include <gtest/gtest.h>

#include "compile_script.h"

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>

namespace {

// Counts the host objects released, so a leaked or twice-freed result shows.
class Thing : public ORVA_Class
{
public:
   Thing() { wcscpy(name, L"THING"); }
   void onObjectDelete(ORVA_Object *) override { deleted++; }
   int deleted = 0;
};

Thing s_thing;

int makeThing(int, ORVA_Value **, ORVA_Value **result, ORVA_Program *)
{
   *result = new ORVA_Value(new ORVA_Object(&s_thing, nullptr));
   return 0;
}

// Hands its argument back as the result, then returns the code in its second argument.
int handBack(int, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *)
{
   *result = argv[0];
   return argv[1]->getValueAsInt32();
}

// Stores a result, then throws: a new value, or its own argument.
int throwAfterResult(int, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *)
{
   *result = argv[1]->getValueAsInt32() != 0 ? argv[0] : new ORVA_Value(new ORVA_Object(&s_thing, nullptr));
   throw std::runtime_error("host failure");
}

ORVA_Environment *thingEnvironment()
{
   static const ORVA_ExtFunction functions[] = {
      {L"thing", makeThing, 0}, {L"handBack", handBack, 2}, {L"throwAfter", throwAfterResult, 2}};
   auto *environment = new ORVA_Environment();
   environment->registerFunctionSet(3, functions);
   return environment;
}

}  // namespace

TEST(HostMistakes, ArgumentStoredAsResultIsACopy)
{
   struct Case { const wchar_t *source; int rc; const wchar_t *text; };
   const Case cases[] = {
      {L"o = handBack(thing(), 0);\nreturn classof(o) . classof(handBack(o, 0));", 0, L""},
      {L"return handBack(thing(), -1);", 0, L""},
      {L"x = handBack(thing(), 17);", -1, L"Error 17 in line 1: Argument is not of string type and cannot be converted to string"},
   };
   for (const Case &c : cases)
   {
      s_thing.deleted = 0;
      ORVA_Program *program = compile(c.source);
      EXPECT_EQ(program->run(thingEnvironment(), 0, nullptr), c.rc) << c.source;
      EXPECT_STREQ(program->getErrorText(), c.text);
      if (c.rc == 0 && program->getResult()->isString())
      {
         EXPECT_STREQ(program->getResult()->getValueAsCString(), L"THINGTHING");
      }
      delete program;
      EXPECT_EQ(s_thing.deleted, 1) << c.source;
   }
}

TEST(HostMistakes, ResultOfAThrowingHandlerIsReleased)
{
   for (int storesArgument : {0, 1})
   {
      s_thing.deleted = 0;
      ORVA_Program *program = compile(storesArgument ? L"throwAfter(thing(), 1);" : L"throwAfter(1, 0);");
      EXPECT_EQ(program->run(thingEnvironment(), 0, nullptr), -1);
      EXPECT_STREQ(program->getErrorText(), L"Error 6 in line 1: Internal error");
      delete program;
      EXPECT_EQ(s_thing.deleted, 1) << storesArgument;
   }
}

TEST(HostMistakes, LibraryRefusesNoProgramAndAProgramItHolds)
{
   ORVA_Library library;
   EXPECT_EQ(library.addScript(1, L"none", nullptr), 0);
   ORVA_Program *program = compile(L"sub f() { return 1; }");
   EXPECT_EQ(library.addScript(1, L"first", program), 1);
   EXPECT_EQ(library.addScript(2, L"second", program), 0);
   EXPECT_EQ(library.getCount(), 1u);
   EXPECT_EQ(library.findScript(L"second"), nullptr);
}

TEST(RunSerial, LateInterruptDoesNotStopTheNextRun)
{
   ORVA_Program *program = compile(L"return 7;");
   const uint64_t first = program->getRunSerial();
   EXPECT_EQ(program->run(nullptr, 0, nullptr), 0);
   EXPECT_EQ(program->getRunSerial(), first + 1);
   program->interrupt(first);   // a watchdog that woke after its run ended
   EXPECT_EQ(program->run(nullptr, 0, nullptr), 0);
   EXPECT_EQ(program->getResult()->getValueAsInt32(), 7);
   delete program;
}

TEST(RunSerial, InterruptForTheComingRunStopsIt)
{
   ORVA_Program *program = compile(L"return 7;");
   program->interrupt(program->getRunSerial());
   EXPECT_EQ(program->run(nullptr, 0, nullptr), -1);
   EXPECT_STREQ(program->getErrorText(), L"Error 31 in line 1: Run interrupted");
   EXPECT_EQ(program->run(nullptr, 0, nullptr), 0);
   delete program;
}

TEST(RunSerial, WatchdogStopsItsRunFromAnotherThread)
{
   ORVA_Program *program = compile(L"while (1) { sleep(1); }");
   const uint64_t serial = program->getRunSerial();
   std::thread watchdog([program, serial] {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      program->interrupt(serial);
   });
   EXPECT_EQ(program->run(nullptr, 0, nullptr), -1);
   watchdog.join();
   EXPECT_EQ(program->getErrorInfo().code, ORVA_ERR_INTERRUPTED);
   delete program;
}

namespace {

int hostSleep(int, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *);

// The environment subclass is how handlers reach host data: the program hands the
// environment of the run to every handler.
class SandboxEnvironment : public ORVA_Environment
{
public:
   explicit SandboxEnvironment(int *slept) : slept(slept)
   {
      removeFunction(L"_exit");
      const ORVA_ExtFunction sleep = {L"sleep", hostSleep, 1};
      replaceFunction(sleep);
   }
   int *slept;
};

int hostSleep(int, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *program)
{
   *static_cast<SandboxEnvironment *>(program->getEnvironment())->slept += argv[0]->getValueAsInt32();
   *result = new ORVA_Value();
   return 0;
}

}  // namespace

TEST(Sandbox, BuiltInsRemovedOrReplaced)
{
   int slept = 0;
   ORVA_Program *program = compile(L"sleep(100000);\nsleep(5);\n_exit(3);");
   EXPECT_EQ(program->run(new SandboxEnvironment(&slept), 0, nullptr), -1);
   EXPECT_EQ(slept, 100005);
   EXPECT_EQ(program->getErrorInfo().code, ORVA_ERR_FUNCTION_NOT_FOUND);
   EXPECT_EQ(program->getErrorInfo().name, L"_exit");
   delete program;
}

TEST(Sandbox, TableEditsKeepTheOrder)
{
   ORVA_Environment environment;
   const ORVA_ExtFunction twice[] = {{L"host", makeThing, 0}, {L"host", makeThing, 0}};
   environment.registerFunctionSet(2, twice);
   EXPECT_EQ(environment.getFunctionCount(), 34u);
   EXPECT_EQ(environment.removeFunction(L"host"), 2u);
   EXPECT_EQ(environment.removeFunction(L"abs"), 1u);
   EXPECT_EQ(environment.removeFunction(L"abs"), 0u);
   EXPECT_EQ(environment.getFunctionCount(), 31u);
   EXPECT_STREQ(environment.getFunction(0)->name, L"_exit");
   EXPECT_STREQ(environment.getFunction(1)->name, L"classof");
   EXPECT_EQ(environment.getFunction(31), nullptr);

   const ORVA_ExtFunction fresh = {L"fresh", makeThing, 0};
   EXPECT_EQ(environment.replaceFunction(fresh), 0);
   EXPECT_EQ(environment.findFunction(L"fresh")->handler, makeThing);
   const ORVA_ExtFunction typeofNew = {L"typeof", makeThing, 0};
   EXPECT_EQ(environment.replaceFunction(typeofNew), 1);
   EXPECT_EQ(environment.findFunction(L"typeof")->handler, makeThing);
   EXPECT_EQ(environment.getFunctionCount(), 32u);
}
