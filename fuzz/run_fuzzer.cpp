// Fuzz target: compile arbitrary bytes and run what compiles, under run limits, with all
// output discarded.
//
// Limits. Every run may execute 100000 instructions, make texts of up to 1024 characters
// and arrays of up to 10000 elements. The limits bound each text and array, not their sum:
// a loop that stores copies of one long text keeps every copy, so the text limit is kept
// well below what the step limit times the text size would take beyond libFuzzer's memory
// limit (100000 steps store at most about 25000 texts, 100 MiB at 4 KiB each, which
// AddressSanitizer's own bookkeeping and quarantine multiply).
//
// sleep. Its wait is real time that no step limit counts, and a host function of the same
// name would never be found (the built-ins come first), so inputs that name it are
// skipped; the built-ins fuzzer calls sleep with an interrupt pending instead.
//
// Modules. The environment's library holds two small modules, so "use" links code; a
// module that is not there is looked for as a file in the current directory, which
// fuzz/run_fuzzers.sh makes an empty folder.
#include <orva.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cwchar>
#include <string>

#include "platform/platform.h"

namespace {

ORVA_RunLimits fuzzLimits()
{
   ORVA_RunLimits limits;
   limits.maxSteps = 100000;
   limits.maxTextLength = 1024;
   limits.maxArrayElements = 10000;
   return limits;
}

// Trace messages are dropped like the output.
class QuietEnvironment : public ORVA_Environment
{
public:
   QuietEnvironment() { setIO(nullptr, nullptr); }
   void trace(int, const wchar_t *) override {}
};

ORVA_Library *moduleLibrary()
{
   static ORVA_Library *library = []() {
      auto *made = new ORVA_Library();
      made->addScript(1, L"util",
         ORVACompile(L"sub twice(x) { return x * 2; } sub join(a, b) { return a . \",\" . b; }", nullptr, 0));
      made->addScript(2, L"counter",
         ORVACompile(L"global calls; sub count() { calls++; return calls; } x = 1;", nullptr, 0));
      return made;
   }();
   return library;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
   std::string bytes(reinterpret_cast<const char *>(data), size);
   wchar_t *source = WideStringFromUTF8String(bytes.c_str());
   if (source == nullptr)
      return 0;
   if (wcsstr(source, L"sleep") != nullptr)
   {
      free(source);
      return -1;   // not added to the corpus
   }

   ORVA_Program *program = ORVACompile(source, nullptr, 0);
   free(source);
   if (program == nullptr)
      return 0;

   program->setRunLimits(fuzzLimits());
   auto *environment = new QuietEnvironment();
   environment->setLibrary(moduleLibrary());
   ORVA_Value *argv[] = {new ORVA_Value("first argument"), new ORVA_Value(static_cast<int32_t>(42))};
   ORVA_VariableSystem *globals = nullptr;
   program->run(environment, 2, argv, nullptr, &globals);
   delete globals;
   // What a host reads after a run.
   if (program->getResult() != nullptr)
   {
      uint32_t length = 0;
      program->getResult()->getValueAsString(&length);
   }
   program->getErrorText();
   delete program;
   return 0;
}
