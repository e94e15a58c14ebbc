// Fuzz target: the built-in functions called the way the engine calls them, with argument
// values a host can make but a script cannot.
//
// A script only hands the built-ins values it can write: texts without zero characters
// or code points outside Unicode, numbers of the literal types, arrays, null. A host
// passes run arguments and returns values from its own functions, so the built-ins also
// see texts with zero characters and any wchar_t, host objects, and iterators. Here the
// input picks a built-in from the default table and builds its arguments:
//
//   byte 0        which built-in (modulo the table size)
//   byte 1        argument count for the built-ins that accept any count (0 to 4); the
//                 others always get their declared count, as the engine guarantees
//   then per argument: one type byte and the payload the type needs
//
// The handlers get a program with run limits, as in a run: left and right must refuse a
// length beyond the text limit before allocating it. sleep gets a program with an interrupt
// pending, so it returns at once instead of waiting. The result is formed as text, as print
// would do, and released; run_fuzzer covers the same handlers through scripts.
#include <orva.h>

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <vector>

#include "env/builtins.h"

namespace {

// The most arguments given to a built-in that takes any count.
constexpr int kMaxArguments = 4;
// The longest text argument, in characters.
constexpr size_t kMaxArgumentLength = 64;
// The text limit of the program the handlers get.
constexpr uint32_t kMaxTextLength = 65536;

// A class of the host's whose objects are opaque to the built-ins.
class FuzzClass : public ORVA_Class
{
public:
   FuzzClass() { wcscpy(name, L"FUZZ"); }
};

FuzzClass g_fuzzClass;

ORVA_Value *makeText(FuzzedDataProvider &input, bool anyCharacter)
{
   size_t length = input.ConsumeIntegralInRange<size_t>(0, kMaxArgumentLength);
   std::vector<wchar_t> text;
   for (size_t i = 0; i < length && input.remaining_bytes() > 0; i++)
   {
      if (anyCharacter)
         text.push_back(static_cast<wchar_t>(input.ConsumeIntegral<uint32_t>()));
      else
         text.push_back(static_cast<wchar_t>(input.ConsumeIntegralInRange<uint32_t>(0, 127)));
   }
   return new ORVA_Value(text.data(), static_cast<uint32_t>(text.size()));
}

ORVA_Value *makeArray(FuzzedDataProvider &input)
{
   auto *array = new ORVA_Array();
   int count = input.ConsumeIntegralInRange<int>(0, 3);
   for (int i = 0; i < count; i++)
      array->set(input.ConsumeIntegral<int32_t>(), new ORVA_Value(input.ConsumeIntegral<int32_t>()));
   return new ORVA_Value(array);
}

ORVA_Value *makeArgument(FuzzedDataProvider &input)
{
   switch (input.ConsumeIntegralInRange<int>(0, 11))
   {
      case 0:
         return new ORVA_Value();
      case 1:
         return makeText(input, false);
      case 2:
         return makeText(input, true);
      case 3:
         return new ORVA_Value(input.ConsumeIntegral<int32_t>());
      case 4:
         return new ORVA_Value(input.ConsumeIntegral<int64_t>());
      case 5:
         return new ORVA_Value(input.ConsumeIntegral<uint32_t>());
      case 6:
         return new ORVA_Value(input.ConsumeIntegral<uint64_t>());
      case 7:
         return new ORVA_Value(input.ConsumeFloatingPoint<double>());
      case 8:
         return makeArray(input);
      case 9:
      {
         auto *array = new ORVA_Array();
         array->set(1, new ORVA_Value(static_cast<int32_t>(1)));
         return new ORVA_Value(new ORVA_Iterator(L"x", array));
      }
      case 10:
         return new ORVA_Value(new ORVA_Object(&g_fuzzClass, nullptr));
      default:
      {
         // A TIME object, as localtime and gmtime make them.
         ORVA_Value *when = new ORVA_Value(input.ConsumeIntegral<uint32_t>());
         ORVA_Value *object = nullptr;
         builtinGmtime(1, &when, &object, nullptr);
         delete when;
         return object != nullptr ? object : new ORVA_Value();
      }
   }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
   FuzzedDataProvider input(data, size);
   const ORVA_ExtFunction &function =
      g_orvaDefaultFunctions[input.ConsumeIntegralInRange<uint32_t>(0, kBuiltinFunctionCount - 1)];
   int argc = input.ConsumeIntegralInRange<int>(0, kMaxArguments);
   if (function.numArgs >= 0)
      argc = function.numArgs;

   std::vector<ORVA_Value *> argv;
   for (int i = 0; i < argc; i++)
      argv.push_back(makeArgument(input));

   ORVA_Program program;
   ORVA_RunLimits limits;
   limits.maxTextLength = kMaxTextLength;
   program.setRunLimits(limits);
   if (function.handler == builtinSleep)
      program.interrupt();
   ORVA_Value *result = nullptr;
   int status = function.handler(argc, argv.data(), &result, &program);
   if (status == 0 || status == -1)
   {
      // Every handler stores a result when it succeeds or stops the run.
      if (result == nullptr)
         __builtin_trap();
      uint32_t length = 0;
      result->getValueAsString(&length);
   }
   else if (result != nullptr)
   {
      // An error code means nothing was stored.
      __builtin_trap();
   }
   delete result;
   for (ORVA_Value *argument : argv)
      delete argument;
   return 0;
}
