// The runtime error table and the error text format.
#include "vm/errors.h"

#include <orva.h>

namespace
{

const wchar_t *const s_messages[] = {
   L"Data stack underflow",                                               // 1
   L"Control stack underflow",                                            // 2
   L"Condition value is not a number",                                    // 3
   L"Bad arithmetic conversion",                                          // 4
   L"Invalid operation with NULL value",                                  // 5
   L"Internal error",                                                     // 6
   L"main() function not presented",                                      // 7
   L"Control stack overflow",                                             // 8
   L"Divide by zero",                                                     // 9
   L"Invalid operation with real numbers",                                // 10
   L"Function not found",                                                 // 11
   L"Invalid number of function's arguments",                             // 12
   L"Cannot do automatic type cast",                                      // 13
   L"Function or operation argument is not an object",                   // 14
   L"Unknown object's attribute",                                         // 15
   L"Requested module not found or cannot be loaded",                     // 16
   L"Argument is not of string type and cannot be converted to string",   // 17
   L"Invalid regular expression",                                         // 18
   L"Function or operation argument is not a whole number",               // 19
   L"Invalid operation on object",                                        // 20
   L"Bad (or incompatible) object class",                                 // 21
   L"Variable already exist",                                             // 22
   L"Array index is not an integer",                                      // 23
   L"Attempt to use array element access operation on non-array",        // 24
   L"Cannot assign to a variable that is constant",                       // 25
   L"Named parameter required",                                           // 26
};

constexpr int kMessageCount = static_cast<int>(sizeof(s_messages) / sizeof(s_messages[0]));
static_assert(kMessageCount == ORVA_ERR_NAMED_PARAMETER_REQUIRED, "one message per error code");

// Errors that stop a run the host has bounded, one that ran out of memory, and a run
// refused because the program is running already. They start at 28 so that 27 keeps its
// "Unknown error code" message.
const wchar_t *const s_limitMessages[] = {
   L"Instruction limit exceeded",                                         // 28
   L"Text length limit exceeded",                                         // 29
   L"Array size limit exceeded",                                          // 30
   L"Run interrupted",                                                    // 31
   L"Out of memory",                                                      // 32
   L"Program is already running",                                         // 33
};

constexpr int kFirstLimitCode = ORVA_ERR_STEP_LIMIT;
constexpr int kLimitMessageCount = static_cast<int>(sizeof(s_limitMessages) / sizeof(s_limitMessages[0]));
static_assert(kFirstLimitCode + kLimitMessageCount - 1 == ORVA_ERR_ALREADY_RUNNING, "one message per error code");

// Appends to a bounded buffer; keeps room for the terminator and silently stops when full.
struct TextSink
{
   wchar_t *buffer;
   size_t size;
   size_t length;

   void put(wchar_t c)
   {
      if (length + 1 < size)
         buffer[length++] = c;
   }
   void put(const wchar_t *text)
   {
      while (*text != 0)
         put(*text++);
   }
   void putNumber(int number)
   {
      // Digits of the magnitude, computed unsigned so the smallest int has no overflow.
      unsigned int magnitude = (number < 0) ? 0u - static_cast<unsigned int>(number) : static_cast<unsigned int>(number);
      wchar_t digits[16];
      int count = 0;
      do
      {
         digits[count++] = static_cast<wchar_t>(L'0' + magnitude % 10);
         magnitude /= 10;
      } while (magnitude != 0);
      if (number < 0)
         put(L'-');
      while (count > 0)
         put(digits[--count]);
   }
};

}  // namespace

const wchar_t *GetRuntimeErrorMessage(int code)
{
   if (code >= 1 && code <= kMessageCount)
      return s_messages[code - 1];
   if (code >= kFirstLimitCode && code < kFirstLimitCode + kLimitMessageCount)
      return s_limitMessages[code - kFirstLimitCode];
   return L"Unknown error code";
}

size_t FormatRuntimeError(wchar_t *buffer, size_t size, int code, int line)
{
   if (buffer == nullptr || size == 0)
      return 0;
   TextSink sink{buffer, size, 0};
   sink.put(L"Error ");
   sink.putNumber(code);
   sink.put(L" in line ");
   sink.putNumber(line);
   sink.put(L": ");
   sink.put(GetRuntimeErrorMessage(code));
   buffer[sink.length] = 0;
   return sink.length;
}
