// The table of the 32 built-in functions, and the lookup of a name among them.
//
// Every environment starts with these records in its first slots. The table is one
// read-only array that all environments share until a host asks to change or hold one of
// its records (see environment.cpp), so making an environment copies nothing. The engine
// resolves the name of nearly every call against this table first, so the lookup goes
// through a small hash index instead of comparing the name with each record.
#include <orva.h>

#include <array>

#include "env/builtins.h"
#include "values/name_hash.h"

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

namespace
{

// Slots of the hash index: a power of two, at least twice the number of built-ins, so
// that probe sequences stay short.
constexpr uint32_t kIndexSize = 64;
static_assert(kIndexSize >= 2 * kBuiltinFunctionCount && (kIndexSize & (kIndexSize - 1)) == 0,
              "the index needs room and a power-of-two size");

// Slot -> built-in position + 1 (0: empty).
using BuiltinIndex = std::array<uint8_t, kIndexSize>;

BuiltinIndex buildIndex()
{
   BuiltinIndex index{};
   for (uint32_t i = 0; i < kBuiltinFunctionCount; i++)
   {
      uint32_t slot = HashName(g_orvaDefaultFunctions[i].name) & (kIndexSize - 1);
      while (index[slot] != 0)
         slot = (slot + 1) & (kIndexSize - 1);
      index[slot] = static_cast<uint8_t>(i + 1);
   }
   return index;
}

}  // namespace

uint32_t FindBuiltin(const wchar_t *name)
{
   static const BuiltinIndex index = buildIndex();
   if (name == nullptr)
      return kBuiltinFunctionCount;
   for (uint32_t slot = HashName(name) & (kIndexSize - 1); index[slot] != 0; slot = (slot + 1) & (kIndexSize - 1))
   {
      const uint32_t position = index[slot] - 1u;
      if (SameName(g_orvaDefaultFunctions[position].name, name))
         return position;
   }
   return kBuiltinFunctionCount;
}
