// Time built-ins: time, strftime, localtime and gmtime.
//
// A point in time is a count of seconds since 1970-01-01 00:00:00 UTC in the C library's
// 64-bit time_t. Breaking it down uses the re-entrant localtime_r and gmtime_r, since hosts
// run scripts on several threads.
#include <orva.h>

#include <ctime>
#include <cwchar>

#include "env/builtins.h"
#include "env/time_class.h"

namespace {

// strftime formats into a buffer of this many characters, terminator included.
constexpr size_t kStrftimeBufferSize = 512;

bool breakDown(time_t when, bool local, struct tm *out)
{
   return (local ? localtime_r(&when, out) : gmtime_r(&when, out)) != nullptr;
}

// localtime (local true) and gmtime: the current time, or the low 32 bits of the argument
// as an unsigned count of seconds (so negative numbers are times after 2038).
int timeObject(int argc, ORVA_Value **argv, ORVA_Value **result, bool local)
{
   if (argc > 1)
      return ORVA_ERR_INVALID_ARGUMENT_COUNT;
   if (argc == 1 && !argv[0]->isInteger())
      return ORVA_ERR_NOT_AN_INTEGER;
   time_t when = argc == 1 ? static_cast<time_t>(argv[0]->getValueAsUInt32()) : time(nullptr);
   struct tm broken = {};
   if (!breakDown(when, local, &broken))
   {
      // Every 32-bit time can be broken down; this only guards against a broken C library.
      *result = new ORVA_Value();
      return 0;
   }
   *result = ORVA_TimeClass::createValue(broken);
   return 0;
}

}  // namespace

// time(): the low 32 bits of the current time.
int builtinTime(int, ORVA_Value **, ORVA_Value **result, ORVA_Program *)
{
   *result = new ORVA_Value(static_cast<uint32_t>(time(nullptr)));
   return 0;
}

// strftime(format [, time [, local]]). Three results are the empty text: a time the C
// library cannot break down (such as a year beyond what struct tm holds), a formatted text
// that does not fit the buffer, and a format that produces nothing. A partial or truncated
// text is never returned.
int builtinStrftime(int argc, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *)
{
   if (argc < 1 || argc > 3)
      return ORVA_ERR_INVALID_ARGUMENT_COUNT;
   if (!argv[0]->isString())
      return ORVA_ERR_NOT_A_STRING;
   if (argc >= 2 && !argv[1]->isNull() && !argv[1]->isNumeric())
      return ORVA_ERR_BAD_ARITHMETIC_CONVERSION;
   if (argc == 3 && !argv[2]->isInteger())
      return ORVA_ERR_NOT_A_NUMBER;

   time_t when = time(nullptr);
   if (argc >= 2 && !argv[1]->isNull())
      when = static_cast<time_t>(static_cast<int64_t>(argv[1]->getValueAsUInt64()));
   bool local = argc < 3 || argv[2]->getValueAsInt32() != 0;

   wchar_t buffer[kStrftimeBufferSize];
   size_t length = 0;
   struct tm broken = {};
   if (breakDown(when, local, &broken))
      length = wcsftime(buffer, kStrftimeBufferSize, argv[0]->getValueAsCString(), &broken);
   buffer[length] = 0;
   *result = new ORVA_Value(buffer, static_cast<uint32_t>(length));
   return 0;
}

int builtinLocaltime(int argc, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *)
{
   return timeObject(argc, argv, result, true);
}

int builtinGmtime(int argc, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *)
{
   return timeObject(argc, argv, result, false);
}
