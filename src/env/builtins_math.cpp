// Math, type and system built-ins: abs, pow, log, log10, exp, min, max, random, typeof,
// classof, _exit, trace and sleep.
#include <orva.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cwchar>
#include <thread>

#include "env/builtins.h"

namespace {

// How long sleep waits between two looks at the interrupt flag: the longest an interrupt
// waits for a sleeping script.
constexpr std::chrono::milliseconds kSleepSlice(10);

// random draws r from 0 to kRandomLimit - 1 whatever the C library's RAND_MAX is (glibc's
// rand reaches 2147483647). RAND_MAX + 1 is a power of two at least this large, so the
// reduction is unbiased.
constexpr int kRandomLimit = 32768;
static_assert(RAND_MAX >= kRandomLimit - 1, "rand() must reach 32767");

int realFunction(ORVA_Value **argv, ORVA_Value **result, double (*function)(double))
{
   if (!argv[0]->isNumeric())
      return ORVA_ERR_BAD_ARITHMETIC_CONVERSION;
   *result = new ORVA_Value(function(argv[0]->getValueAsReal()));
   return 0;
}

// min (wantLarger false) and max: a copy of the first smallest or largest argument, with
// its own type. Ties keep the earlier argument; a comparison with not-a-number is false and
// so never changes the selection.
int pickExtreme(int argc, ORVA_Value **argv, ORVA_Value **result, bool wantLarger)
{
   if (argc == 0)
      return ORVA_ERR_INVALID_ARGUMENT_COUNT;
   ORVA_Value *selected = argv[0];
   for (int i = 0; i < argc; i++)
   {
      if (!argv[i]->isNumeric())
         return ORVA_ERR_BAD_ARITHMETIC_CONVERSION;
      double candidate = argv[i]->getValueAsReal();
      double current = selected->getValueAsReal();
      if (wantLarger ? candidate > current : candidate < current)
         selected = argv[i];
   }
   *result = new ORVA_Value(selected);
   return 0;
}

}  // namespace

int builtinTypeof(int, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *)
{
   *result = new ORVA_Value(g_orvaDataTypeNames[argv[0]->getDataType()]);
   return 0;
}

// A value of type object always carries an instance with a class; one that does not is an
// engine fault, reported as an internal error rather than followed.
int builtinClassof(int, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *)
{
   if (!argv[0]->isObject())
      return ORVA_ERR_NOT_AN_OBJECT;
   ORVA_Object *object = argv[0]->getValueAsObject();
   if (object == nullptr || object->getClass() == nullptr)
      return ORVA_ERR_INTERNAL;
   // The class name lives in a buffer of 64 characters that a host class may fill to the
   // end without a terminator: never read past it.
   const wchar_t *name = object->getClass()->getName();
   *result = new ORVA_Value(name, static_cast<uint32_t>(wcsnlen(name, 64)));
   return 0;
}

// abs keeps the argument's type. A negative int32 or int64 copy is negated in place, which
// drops its text; the smallest int32 and int64 have no positive counterpart, and two's
// complement negation gives them back as the same number (with its plain decimal text).
// A copy that is not negated keeps the argument's text.
int builtinAbs(int, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *)
{
   ORVA_Value *argument = argv[0];
   if (!argument->isNumeric())
      return ORVA_ERR_BAD_ARITHMETIC_CONVERSION;
   if (argument->isReal())
   {
      *result = new ORVA_Value(fabs(argument->getValueAsReal()));
      return 0;
   }
   auto *copy = new ORVA_Value(argument);
   bool negative = false;
   if (argument->getDataType() == ORVA_DT_INT32)
      negative = argument->getValueAsInt32() < 0;
   else if (argument->getDataType() == ORVA_DT_INT64)
      negative = argument->getValueAsInt64() < 0;
   if (negative)
      copy->negate();
   *result = copy;
   return 0;
}

int builtinPow(int, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *)
{
   if (!argv[0]->isNumeric() || !argv[1]->isNumeric())
      return ORVA_ERR_BAD_ARITHMETIC_CONVERSION;
   *result = new ORVA_Value(pow(argv[0]->getValueAsReal(), argv[1]->getValueAsReal()));
   return 0;
}

int builtinLog(int, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *)
{
   return realFunction(argv, result, log);
}

int builtinLog10(int, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *)
{
   return realFunction(argv, result, log10);
}

int builtinExp(int, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *)
{
   return realFunction(argv, result, exp);
}

int builtinMin(int argc, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *)
{
   return pickExtreme(argc, argv, result, false);
}

int builtinMax(int argc, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *)
{
   return pickExtreme(argc, argv, result, true);
}

// random(low, high): low + (r rem (high - low + 1)) in 32-bit arithmetic, r from 0 to 32767.
// The divisor and the sum wrap like 32-bit machine integers; a divisor of 0 (high is
// low - 1) has no remainder, and then the result is low.
int builtinRandom(int, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *)
{
   if (!argv[0]->isInteger() || !argv[1]->isInteger())
      return ORVA_ERR_NOT_AN_INTEGER;
   uint32_t low = argv[0]->getValueAsUInt32();
   uint32_t high = argv[1]->getValueAsUInt32();
   auto divisor = static_cast<int32_t>(high - low + 1u);
   int32_t r = rand() % kRandomLimit;
   int32_t offset = divisor != 0 ? r % divisor : 0;
   *result = new ORVA_Value(static_cast<int32_t>(low + static_cast<uint32_t>(offset)));
   return 0;
}

// _exit([value]) ends the run; the result becomes the program's result.
int builtinExit(int argc, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *)
{
   if (argc > 1)
      return ORVA_ERR_INVALID_ARGUMENT_COUNT;
   *result = argc == 1 ? new ORVA_Value(argv[0]) : new ORVA_Value(static_cast<int32_t>(0));
   return -1;
}

// trace(level, text) hands both to the running program's environment.
int builtinTrace(int, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *program)
{
   if (!argv[0]->isInteger())
      return ORVA_ERR_NOT_AN_INTEGER;
   if (!argv[1]->isString())
      return ORVA_ERR_NOT_A_STRING;
   ORVA_Environment *environment = program != nullptr ? program->getEnvironment() : nullptr;
   if (environment != nullptr)
      environment->trace(argv[0]->getValueAsInt32(), argv[1]->getValueAsCString());
   *result = new ORVA_Value();
   return 0;
}

// sleep(milliseconds) blocks the thread running the program. It sleeps in short slices so
// that a host's interrupt ends the run promptly instead of after the whole delay.
int builtinSleep(int, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *program)
{
   if (!argv[0]->isInteger())
      return ORVA_ERR_NOT_AN_INTEGER;
   const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(argv[0]->getValueAsUInt32());
   for (;;)
   {
      if (program != nullptr && program->isInterruptRequested())
         return ORVA_ERR_INTERRUPTED;
      const auto now = std::chrono::steady_clock::now();
      if (now >= deadline)
         break;
      std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(deadline - now, kSleepSlice));
   }
   *result = new ORVA_Value();
   return 0;
}
