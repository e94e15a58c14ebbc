// Small helpers shared by the execution engine and the operator dispatch.
#ifndef ORVA_VM_ENGINE_H
#define ORVA_VM_ENGINE_H

#include <cstdint>
#include <cwchar>
#include <memory>

#include <orva.h>

// Room for "$" and the decimal digits of any uint32, terminator included.
constexpr size_t kDollarNameSize = 16;

// Writes "$<number>" into buffer: the name of argument variables ("$1", "$2", ...) and of
// regular-expression capture variables. Formats digits directly: no printf on this path.
inline void FormatDollarName(wchar_t (&buffer)[kDollarNameSize], uint32_t number)
{
   wchar_t digits[12];
   int count = 0;
   do
   {
      digits[count++] = static_cast<wchar_t>(L'0' + number % 10);
      number /= 10;
   } while (number != 0);
   int length = 0;
   buffer[length++] = L'$';
   while (count > 0)
      buffer[length++] = digits[--count];
   buffer[length] = 0;
}

// A new value holding a new empty array; nothing is left behind when memory runs out.
inline ORVA_Value *NewArrayValue()
{
   std::unique_ptr<ORVA_Array> array(new ORVA_Array());
   auto *value = new ORVA_Value(array.get());
   array.release();
   return value;
}

#endif
