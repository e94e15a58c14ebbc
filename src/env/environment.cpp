// ORVA_Environment: the function table scripts call into, the output stream of print, the
// script library modules come from, and the print/trace hooks a host overrides.
//
// The table starts as a private copy of g_orvaDefaultFunctions, so the 32 built-ins always
// occupy the first slots; host records are appended after them. findFunction scans from the
// front, so a host function never hides a built-in, and of two host functions with one name
// the first registered wins. A sandbox takes functions out (removeFunction) or puts its own
// in their place (replaceFunction) explicitly. useModule lives with module linking
// (src/vm/modules.cpp).
#include <orva.h>

#include <cstdlib>
#include <cstring>
#include <new>

#include "env/builtins.h"
#include "platform/platform.h"

// The order and the argument counts are part of the language: hosts see the built-ins in
// these slots and the engine rejects a call whose count differs from a count other than -1.
const ORVA_ExtFunction g_orvaDefaultFunctions[kBuiltinFunctionCount] = {
   { L"_exit", builtinExit, -1 },
   { L"abs", builtinAbs, 1 },
   { L"classof", builtinClassof, 1 },
   { L"d2x", builtinD2x, -1 },
   { L"exp", builtinExp, 1 },
   { L"gmtime", builtinGmtime, -1 },
   { L"index", builtinIndex, -1 },
   { L"left", builtinLeft, -1 },
   { L"length", builtinLength, 1 },
   { L"localtime", builtinLocaltime, -1 },
   { L"log", builtinLog, 1 },
   { L"log10", builtinLog10, 1 },
   { L"lower", builtinLower, 1 },
   { L"ltrim", builtinLTrim, 1 },
   { L"max", builtinMax, -1 },
   { L"min", builtinMin, -1 },
   { L"pow", builtinPow, 2 },
   { L"random", builtinRandom, 2 },
   { L"right", builtinRight, -1 },
   { L"rindex", builtinRIndex, -1 },
   { L"rtrim", builtinRTrim, 1 },
   { L"sleep", builtinSleep, 1 },
   { L"strftime", builtinStrftime, -1 },
   { L"substr", builtinSubstr, -1 },
   { L"time", builtinTime, 0 },
   { L"trace", builtinTrace, 2 },
   { L"trim", builtinTrim, 1 },
   { L"typeof", builtinTypeof, 1 },
   { L"upper", builtinUpper, 1 },
   { L"AddrInRange", builtinAddrInRange, 3 },
   { L"AddrInSubnet", builtinAddrInSubnet, 3 },
   { L"SecondsToUptime", builtinSecondsToUptime, 1 },
};

// Room for a function name, terminator included.
constexpr size_t kFunctionNameSize = sizeof(ORVA_ExtFunction::name) / sizeof(wchar_t);

// Starts with the built-ins only. Should the copy fail for want of memory, the table is
// empty rather than dangling: every lookup then reports "not found".
ORVA_Environment::ORVA_Environment()
   : m_functionCount(0), m_functions(nullptr), m_library(nullptr), m_stdIn(nullptr), m_stdOut(nullptr)
{
   m_functions = static_cast<ORVA_ExtFunction *>(qv_memdup(g_orvaDefaultFunctions, sizeof(g_orvaDefaultFunctions)));
   if (m_functions != nullptr)
      m_functionCount = kBuiltinFunctionCount;
}

// Releases the table only; the library and the streams belong to the host.
ORVA_Environment::~ORVA_Environment()
{
   free(m_functions);
}

// Appends copies of the host's records; the caller's array is not kept. When the table
// cannot grow (count overflow or no memory) it stays exactly as it was.
void ORVA_Environment::registerFunctionSet(uint32_t count, const ORVA_ExtFunction *functions)
{
   if (count == 0 || functions == nullptr)
      return;
   uint64_t newCount = static_cast<uint64_t>(m_functionCount) + count;
   if (newCount > UINT32_MAX || newCount > SIZE_MAX / sizeof(ORVA_ExtFunction))
      return;
   auto *grown = static_cast<ORVA_ExtFunction *>(realloc(m_functions, static_cast<size_t>(newCount) * sizeof(ORVA_ExtFunction)));
   if (grown == nullptr)
      return;
   memcpy(grown + m_functionCount, functions, static_cast<size_t>(count) * sizeof(ORVA_ExtFunction));
   m_functions = grown;
   m_functionCount = static_cast<uint32_t>(newCount);
}

// Position of the first of count records whose name equals name exactly (case-sensitive),
// or count. The comparison never reads past a record's 64 characters, even if a host left
// a name unterminated; a name of 64 characters or more cannot be in the table.
static uint32_t findRecord(const ORVA_ExtFunction *functions, uint32_t count, const wchar_t *name)
{
   if (name == nullptr || wcsnlen(name, kFunctionNameSize) >= kFunctionNameSize)
      return count;
   for (uint32_t i = 0; i < count; i++)
   {
      if (wcsncmp(functions[i].name, name, kFunctionNameSize) == 0)
         return i;
   }
   return count;
}

// The record scripts reach under that name, or null. The pointer stays valid until the
// next registerFunctionSet.
const ORVA_ExtFunction *ORVA_Environment::findFunction(const wchar_t *name) const
{
   uint32_t position = findRecord(m_functions, m_functionCount, name);
   return (position < m_functionCount) ? &m_functions[position] : nullptr;
}

// The same lookup for a host that holds a modifiable environment and wants the record as
// a plain pointer into the table.
ORVA_ExtFunction *ORVA_Environment::findFunction(const wchar_t *name)
{
   uint32_t position = findRecord(m_functions, m_functionCount, name);
   return (position < m_functionCount) ? &m_functions[position] : nullptr;
}

uint32_t ORVA_Environment::removeFunction(const wchar_t *name)
{
   uint32_t kept = 0;
   for (uint32_t i = 0; i < m_functionCount; i++)
   {
      if (findRecord(&m_functions[i], 1, name) == 0)
         continue;
      m_functions[kept++] = m_functions[i];
   }
   const uint32_t removed = m_functionCount - kept;
   m_functionCount = kept;
   return removed;
}

int ORVA_Environment::replaceFunction(const ORVA_ExtFunction &function)
{
   uint32_t position = findRecord(m_functions, m_functionCount, function.name);
   if (position == m_functionCount)
   {
      registerFunctionSet(1, &function);
      return 0;
   }
   m_functions[position] = function;
   return 1;
}

// Writes the value's text form as UTF-8, with no terminator and no line end. Values without
// a text form (null, object, array) write "(null)". The whole text is written, zero
// characters included (each as a 0 byte), so a text made with an explicit length reaches
// the stream intact instead of being cut at its first zero character.
void ORVA_Environment::print(ORVA_Value *value)
{
   if (m_stdOut == nullptr)
      return;
   if (value == nullptr || value->isNull() || value->isObject() || value->isArray())
   {
      fputs("(null)", m_stdOut);
      return;
   }
   uint32_t length = 0;
   const wchar_t *text = value->getValueAsString(&length);
   if (text == nullptr || length == 0)
      return;
   size_t byteCount = 0;
   char *bytes = UTF8StringFromWideStringN(text, length, &byteCount);
   if (bytes == nullptr)
      throw std::bad_alloc();
   fwrite(bytes, 1, byteCount, m_stdOut);
   free(bytes);
}

// Trace messages go nowhere unless a host overrides this hook.
void ORVA_Environment::trace(int, const wchar_t *)
{
}
