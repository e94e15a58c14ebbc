// The one-bit summary of a variable name that ORVA_VariableSystem keeps for every name it
// holds (m_nameBits): a name whose bit is clear in a set is certainly not in it, which
// small sets answer without comparing names and the engine's lookup cache uses to confirm
// that a name is still not in the sets searched before the one it was found in.
#ifndef ORVA_VALUES_NAME_BITS_H
#define ORVA_VALUES_NAME_BITS_H

#include <cstdint>
#include <cwchar>

// The name's bit, from its first two characters: "$1" and "$2", "i" and "j" differ there.
// A variable without a name has none (no search finds it).
inline uint64_t NameBit(const wchar_t *name)
{
   if (name == nullptr)
      return 0;
   uint32_t hash = static_cast<uint32_t>(name[0]);
   if (hash != 0)
      hash = hash * 31 + static_cast<uint32_t>(name[1]);
   return uint64_t{1} << (hash & 63);
}

#endif
