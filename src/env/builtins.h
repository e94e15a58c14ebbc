// The built-in functions scripts can call without declaring them, and the read-only table
// that every new ORVA_Environment starts with.
//
// Every handler follows the one calling convention of ORVA_Handler: it reads argv[0] to
// argv[argc-1] (the engine's values: never destroyed, never handed back), checks them in a
// fixed order, and either stores a newly allocated value in *result and returns 0, or
// returns a runtime error code and stores nothing. _exit alone returns -1, the stop code.
// Functions declared with a fixed argument count in the table are only called with that
// count; the others check the count themselves.
#ifndef ORVA_ENV_BUILTINS_H
#define ORVA_ENV_BUILTINS_H

#include <orva.h>

#include <cstdint>

// The number of built-in functions; they fill the first slots of every function table.
constexpr uint32_t kBuiltinFunctionCount = 32;

// The default function table, in the order scripts and hosts rely on (builtin_table.cpp).
extern const ORVA_ExtFunction g_orvaDefaultFunctions[kBuiltinFunctionCount];

// The position of the built-in of exactly that name (case-sensitive), or
// kBuiltinFunctionCount when there is none.
uint32_t FindBuiltin(const wchar_t *name);

// Whether the record is one of the shared built-in records (an environment that changed
// its table holds copies, which this does not recognise).
inline bool IsBuiltinRecord(const ORVA_ExtFunction *record)
{
   const auto at = reinterpret_cast<uintptr_t>(record);
   const auto first = reinterpret_cast<uintptr_t>(g_orvaDefaultFunctions);
   return at >= first && at < first + sizeof(g_orvaDefaultFunctions);
}

// Text (builtins_text.cpp)
int builtinUpper(int argc, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *program);
int builtinLower(int argc, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *program);
int builtinLength(int argc, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *program);
int builtinSubstr(int argc, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *program);
int builtinD2x(int argc, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *program);
int builtinLeft(int argc, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *program);
int builtinRight(int argc, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *program);
int builtinTrim(int argc, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *program);
int builtinRTrim(int argc, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *program);
int builtinLTrim(int argc, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *program);
int builtinIndex(int argc, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *program);
int builtinRIndex(int argc, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *program);

// Math, type and system (builtins_math.cpp)
int builtinAbs(int argc, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *program);
int builtinPow(int argc, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *program);
int builtinLog(int argc, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *program);
int builtinLog10(int argc, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *program);
int builtinExp(int argc, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *program);
int builtinMin(int argc, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *program);
int builtinMax(int argc, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *program);
int builtinRandom(int argc, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *program);
int builtinTypeof(int argc, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *program);
int builtinClassof(int argc, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *program);
int builtinExit(int argc, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *program);
int builtinTrace(int argc, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *program);
int builtinSleep(int argc, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *program);

// Time (builtins_time.cpp)
int builtinTime(int argc, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *program);
int builtinStrftime(int argc, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *program);
int builtinLocaltime(int argc, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *program);
int builtinGmtime(int argc, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *program);

// Network addresses and uptime (builtins_network.cpp)
int builtinAddrInRange(int argc, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *program);
int builtinAddrInSubnet(int argc, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *program);
int builtinSecondsToUptime(int argc, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *program);

#endif
