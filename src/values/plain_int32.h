// Which values the engine may hold as a bare int32 and make again without losing anything.
#ifndef ORVA_VALUES_PLAIN_INT32_H
#define ORVA_VALUES_PLAIN_INT32_H

#include <orva.h>

// An int32 without a name whose text, if it has one, is the one the number forms. The
// text "0x10" reads as the int32 16 but prints as it was written, so it is not plain.
bool IsPlainInt32(const ORVA_Value *value);

#endif
