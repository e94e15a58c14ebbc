// A small, complete ORVA host: it registers a host function and a host class, redirects
// print and trace, keeps a module in a script library, runs a script with arguments and
// constants, reads the result, and reports compile and runtime errors.
//
// docs/embedding.md shows this file piece by piece. Build it against an installed ORVA
// with the CMakeLists.txt beside it (find_package(orva)), or with
//   g++ -std=c++17 host.cpp $(pkg-config --cflags --libs orva) -o host
#include <orva.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <chrono>
#include <string>
#include <thread>

// --- host class ---
// A network device the host knows about. Scripts get DEVICE objects from device(name)
// and read name and status, and may assign status.
struct Device
{
   wchar_t name[64];
   wchar_t status[64];
};

class DeviceClass : public ORVA_Class
{
public:
   DeviceClass() { wcscpy(name, L"DEVICE"); }

   // Returns a new value (the engine owns it), or null for an unknown attribute.
   ORVA_Value *getAttr(ORVA_Object *object, const wchar_t *attribute) override
   {
      Device *device = static_cast<Device *>(object->getData());
      if (wcscmp(attribute, L"name") == 0)
         return new ORVA_Value(device->name);
      if (wcscmp(attribute, L"status") == 0)
         return new ORVA_Value(device->status);
      return nullptr;
   }

   // The value stays the engine's: keep a copy of what it says. Non-zero means "set".
   int setAttr(ORVA_Object *object, const wchar_t *attribute, ORVA_Value *value) override
   {
      Device *device = static_cast<Device *>(object->getData());
      if (wcscmp(attribute, L"status") != 0 || !value->isString())
         return 0;
      swprintf(device->status, 64, L"%ls", value->getValueAsCString());
      return 1;
   }

   // Called once, when the last script value that refers to the device goes away.
   void onObjectDelete(ORVA_Object *object) override
   {
      delete static_cast<Device *>(object->getData());
   }
};

// The class must outlive every object of it, so it lives as long as the host.
static DeviceClass s_deviceClass;
// --- end host class ---

// --- host functions ---
// device(name): a new DEVICE object. The engine checks the argument count (1, from the
// table below) before the handler runs; the handler checks the type itself.
static int deviceHandler(int argc, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *)
{
   (void)argc;
   if (!argv[0]->isString())
      return ORVA_ERR_NOT_A_STRING;
   Device *device = new Device();
   swprintf(device->name, 64, L"%ls", argv[0]->getValueAsCString());
   wcscpy(device->status, L"unknown");
   *result = new ORVA_Value(new ORVA_Object(&s_deviceClass, device));
   return 0;
}

// ping(address [, tries]): a made-up round-trip time in milliseconds. Any number of
// arguments (-1), so the handler checks the count.
static int pingHandler(int argc, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *)
{
   if (argc < 1 || argc > 2)
      return ORVA_ERR_INVALID_ARGUMENT_COUNT;
   if (!argv[0]->isString())
      return ORVA_ERR_NOT_A_STRING;
   if (argc == 2 && !argv[1]->isInteger())
      return ORVA_ERR_NOT_AN_INTEGER;
   int32_t tries = argc == 2 ? argv[1]->getValueAsInt32() : 1;
   *result = new ORVA_Value(static_cast<int32_t>(wcslen(argv[0]->getValueAsCString()) * tries));
   return 0;
}

static const ORVA_ExtFunction s_hostFunctions[] = {
   { L"device", deviceHandler, 1 },
   { L"ping", pingHandler, -1 },
};
// --- end host functions ---

// --- environment ---
// print and trace go wherever the host wants them; here, to standard output with a prefix.
// run() deletes the environment through an ORVA_Environment pointer; the destructor is
// virtual, so a subclass's own clean-up runs.
class HostEnvironment : public ORVA_Environment
{
public:
   void print(ORVA_Value *value) override
   {
      const wchar_t *text = value->getValueAsCString();   // null for null, object, array
      printf("%ls", text != nullptr ? text : L"(null)");
   }

   void trace(int level, const wchar_t *text) override
   {
      printf("[trace %d] %ls\n", level, text);
   }
};

static ORVA_Environment *newEnvironment(ORVA_Library *library)
{
   ORVA_Environment *environment = new HostEnvironment();
   environment->registerFunctionSet(sizeof(s_hostFunctions) / sizeof(s_hostFunctions[0]),
                                    s_hostFunctions);
   environment->setLibrary(library);   // not owned: the library outlives the run
   return environment;
}
// --- end environment ---

// --- sandbox ---
// Host data for handlers: every handler gets the running program, and
// program->getEnvironment() is the environment the host made for that run, so a subclass
// carries what the handlers need. This one also takes _exit away and puts its own sleep in
// the built-in's place.
static int sandboxSleep(int argc, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *program);

class SandboxEnvironment : public ORVA_Environment
{
public:
   explicit SandboxEnvironment(int32_t *budget) : budget(budget)
   {
      removeFunction(L"_exit");   // a call of _exit is now error 11
      static const ORVA_ExtFunction sleep = { L"sleep", sandboxSleep, 1 };
      replaceFunction(sleep);     // registerFunctionSet could not hide the built-in
   }

   int32_t *budget;   // the host's milliseconds; not owned
};

// sleep(ms) spends the host's budget instead of stalling the worker thread.
static int sandboxSleep(int, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *program)
{
   auto *environment = static_cast<SandboxEnvironment *>(program->getEnvironment());
   *environment->budget -= argv[0]->getValueAsInt32();
   *result = new ORVA_Value(*environment->budget);
   return 0;
}
// --- end sandbox ---

// --- compile ---
// Compiles source text; on failure prints "Error in line N: ..." and returns null.
static ORVA_Program *compile(const wchar_t *source)
{
   wchar_t error[1024];
   ORVA_Program *program = ORVACompile(source, error, 1024);
   if (program == nullptr)
      printf("compile error: %ls\n", error);
   return program;
}
// --- end compile ---

static const wchar_t s_netcheckModule[] =
   L"sub zone(address) {\n"
   L"   if (AddrInSubnet(address, \"10.0.0.0\", \"255.0.0.0\")) return \"internal\";\n"
   L"   return \"external\";\n"
   L"}\n";

static const wchar_t s_checkScript[] =
   L"use netcheck;\n"
   L"sub main(name, address) {\n"
   L"   dev = device(name);\n"
   L"   trace(1, \"checking \" . dev->name);\n"
   L"   println dev->name . \" (\" . address . \") is \" . zone(address) . \" at \" . SITE;\n"
   L"   dev->status = \"checked\";\n"
   L"   println \"status: \" . dev->status;\n"
   L"   return ping(address, 2);\n"
   L"}\n";

int main()
{
   std::setlocale(LC_CTYPE, "C.UTF-8");   // printf("%ls") writes UTF-8
   printf("ORVA %s (header %s)\n", ORVAGetVersion(), ORVA_VERSION_STRING);

   // --- library ---
   // The library owns the programs it accepts; scripts load them with "use NAME;".
   ORVA_Library *library = new ORVA_Library();
   ORVA_Program *module = compile(s_netcheckModule);
   if (module == nullptr || !library->addScript(1, L"netcheck", module))
      return 1;   // (a refused program would still be ours to delete)
   // --- end library ---

   // --- run ---
   ORVA_Program *program = compile(s_checkScript);
   if (program == nullptr)
      return 1;

   // run() takes over the environment and the argument values; the constant set stays
   // ours (run copies what it needs).
   ORVA_VariableSystem constants(true);
   constants.create(L"SITE", new ORVA_Value(L"lab-2"));
   ORVA_Value *args[] = { new ORVA_Value(L"core-sw1"), new ORVA_Value(L"10.1.2.3") };
   if (program->run(newEnvironment(library), 2, args, nullptr, nullptr, &constants) == 0)
   {
      ORVA_Value *result = program->getResult();   // lent: the program keeps it
      printf("result: %ls (%ls)\n", result->getValueAsCString(),
             g_orvaDataTypeNames[result->getDataType()]);
   }
   else
   {
      printf("runtime error: %ls\n", program->getErrorText());
   }
   // --- end run ---

   // --- errors ---
   // A runtime error stops the run; the program stays usable for the next run.
   ORVA_Program *broken = compile(L"println \"before\";\nx = device();\nprintln \"after\";");
   if (broken != nullptr)
   {
      if (broken->run(newEnvironment(library), 0, nullptr) != 0)
         printf("runtime error: %ls\n", broken->getErrorText());
      delete broken;
   }
   delete compile(L"x = 1 +;");   // prints the compile error; deleting null is fine
   // --- end errors ---

   // --- error details ---
   // getErrorInfo takes the error apart: the code, the line and its module, what the
   // error is about, and the calls in progress, innermost first.
   ORVA_Program *failing = compile(L"use netcheck;\nsub check(a) {\n   return zone(a) . lookup(a);\n}\ncheck(\"10.1.1.1\");");
   if (failing != nullptr)
   {
      if (failing->run(newEnvironment(library), 0, nullptr) != 0)
      {
         const ORVA_ErrorInfo &info = failing->getErrorInfo();
         printf("error %d in line %d of %s, about %s\n", info.code, info.line,
                info.module.empty() ? "the script" : ORVAToUtf8(info.module.c_str()).c_str(),
                ORVAToUtf8(info.name.c_str()).c_str());
         for (const ORVA_StackFrame &frame : info.callStack)
            printf("  at %s, line %d\n", ORVAToUtf8(frame.function.c_str()).c_str(), frame.line);
      }
      delete failing;
   }
   // --- end error details ---

   // --- sandbox run ---
   int32_t budget = 1000;
   ORVA_Program *untrusted = compile(L"sleep(300);\nleft = sleep(200);\n_exit(left);");
   if (untrusted != nullptr)
   {
      untrusted->run(new SandboxEnvironment(&budget), 0, nullptr);
      printf("budget left: %d; %s\n", budget, ORVAToUtf8(untrusted->getErrorText()).c_str());
      delete untrusted;
   }
   // --- end sandbox run ---

   // --- utf-8 ---
   // UTF-8 in and out, whatever the locale: a std::string becomes a value, and
   // getValueAsUtf8 gives text for printf("%s") or std::cout.
   ORVA_Program *greeter = compile(L"return \"Gr\u00fc\u00dfe, \" . $1;");
   if (greeter != nullptr)
   {
      std::string name = "Zo\u00eb";
      ORVA_Value *greetArgs[] = { new ORVA_Value(name) };
      if (greeter->run(nullptr, 1, greetArgs) == 0)
         printf("%s\n", greeter->getResult()->getValueAsUtf8().c_str());
      delete greeter;
   }
   // --- end utf-8 ---

   // --- watchdog ---
   // A watchdog aims at one run: take the serial before run() and interrupt that serial.
   // Should the watchdog fire after its run has ended, the next run is not touched.
   ORVA_Program *looping = compile(L"while (1) { sleep(1); }");
   if (looping != nullptr)
   {
      const uint64_t serial = looping->getRunSerial();
      std::thread watchdog([looping, serial] {
         std::this_thread::sleep_for(std::chrono::milliseconds(50));
         looping->interrupt(serial);
      });
      looping->run(nullptr, 0, nullptr);
      watchdog.join();
      printf("watchdog: %s\n", ORVAToUtf8(looping->getErrorText()).c_str());
      delete looping;
   }
   // --- end watchdog ---

   // --- threads ---
   // One program, two threads: each run takes the program's lock. (Separate programs
   // need no lock; compiling never does.)
   ORVA_Program *shared = compile(L"return ping($1);");
   if (shared != nullptr)
   {
      auto worker = [shared, library](const wchar_t *address, int32_t *out) {
         shared->lock();
         ORVA_Value *argv[] = { new ORVA_Value(address) };
         *out = shared->run(newEnvironment(library), 1, argv) == 0
                   ? shared->getResult()->getValueAsInt32() : -1;
         shared->unlock();
      };
      int32_t first = 0, second = 0;
      std::thread a(worker, L"10.0.0.1", &first);
      std::thread b(worker, L"192.168.100.200", &second);
      a.join();
      b.join();
      printf("threads: %d %d\n", first, second);
      delete shared;
   }

   // One compiled handler, a clone per thread: no lock, no recompilation. A clone shares
   // the code and has its own runs, result and error text.
   ORVA_Program *handler = compile(L"use netcheck;\n"
                                   L"sub onEvent(address) { return zone(address) == \"internal\" ? ping(address) : -ping(address); }");
   if (handler != nullptr)
   {
      auto worker = [handler, library](const wchar_t *address, int32_t *out) {
         ORVA_Program *mine = handler->clone();
         ORVA_Value *argv[] = { new ORVA_Value(address) };
         *out = mine != nullptr && mine->call(L"onEvent", 1, argv, newEnvironment(library)) == 0
                   ? mine->getResult()->getValueAsInt32() : -1;
         delete mine;
      };
      int32_t first = 0, second = 0;
      std::thread a(worker, L"10.0.0.1", &first);
      std::thread b(worker, L"192.168.100.200", &second);
      a.join();
      b.join();
      printf("clones: %d %d\n", first, second);
      delete handler;
   }
   // --- end threads ---

   delete program;
   delete library;   // deletes the module program it owns
   return 0;
}
