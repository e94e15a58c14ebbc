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
   // --- end threads ---

   delete program;
   delete library;   // deletes the module program it owns
   return 0;
}
