// Which values the engine may hold as a bare int32 and make again without losing anything,
// and the few reads and writes of a value's insides that its loops make inline.
#ifndef ORVA_VALUES_PLAIN_INT32_H
#define ORVA_VALUES_PLAIN_INT32_H

#include <cstdint>

#include <orva.h>

// An int32 without a name whose text, if it has one, is the one the number forms. The
// text "0x10" reads as the int32 16 but prints as it was written, so it is not plain.
inline bool IsPlainInt32(const ORVA_Value *value)
{
   return value != nullptr && value->m_dataType == ORVA_DT_INT32 && !value->m_named &&
          !(value->m_stringValid && value->m_string != nullptr && !value->m_textFormed);
}

// Stores `number` in a value that is an unnamed int32 holding no text at all, which is
// then all set(number) would change; false, with the value as it was, for any other.
inline bool OverwritePlainInt32(ORVA_Value *value, int32_t number)
{
   if (value->m_dataType != ORVA_DT_INT32 || value->m_named || value->m_string != nullptr ||
       value->m_stringValid)
      return false;
   value->m_content.int32 = number;
   return true;
}

// The array an array value holds (getValueAsArray without the call).
inline ORVA_Array *ArrayOf(const ORVA_Value *value)
{
   return value->m_dataType == ORVA_DT_ARRAY ? value->m_content.array : nullptr;
}

#endif
