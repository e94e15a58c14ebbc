// ORVA_Value operations that compute in place: concatenation, increment and decrement,
// negation, complement, zero tests, comparisons, arithmetic, bitwise operations and shifts.
//
// The caller (the operator dispatch) has checked the data types and converted both operands
// of a binary operation to one type; `other` is read in the receiver's representation.
// Integer arithmetic wraps: it is done on the unsigned representation, so no operation has
// undefined behaviour. Receivers an operation does not apply to (null, object, array,
// iterator, string) keep their type, number and text. Division and remainder by an integer
// zero leave the receiver unchanged (the dispatch reports the error before calling), and
// int32 -2147483648 / -1 wraps to -2147483648 with remainder 0, as int64 does.
#include "orva.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

/* ---------------------------------------------------------------------------------------
 * Concatenation
 * --------------------------------------------------------------------------------------- */

namespace {

bool isDigit(wchar_t c)
{
   return c >= L'0' && c <= L'9';
}

bool allDigits(const wchar_t *text, uint32_t length)
{
   for (uint32_t i = 0; i < length; i++)
   {
      if (!isDigit(text[i]))
         return false;
   }
   return length > 0;
}

// Whether an integer's text is decimal: white space, a sign, then a digit other than 0
// (a leading 0 is octal, "0x" hexadecimal).
bool isDecimalText(const wchar_t *text, uint32_t length)
{
   uint32_t i = 0;
   while (i < length && (text[i] == L' ' || (text[i] >= L'\t' && text[i] <= L'\r')))
      i++;
   if (i < length && (text[i] == L'-' || text[i] == L'+'))
      i++;
   return i < length && text[i] >= L'1' && text[i] <= L'9';
}

// The decimal integer `number` with `digits` written after it, saturating at the int64
// bounds as number recognition does; *overflowed reports saturation.
int64_t withDigits(int64_t number, const wchar_t *digits, uint32_t length, bool *overflowed)
{
   *overflowed = false;
   const bool negative = number < 0;
   for (uint32_t i = 0; i < length; i++)
   {
      const int64_t digit = digits[i] - L'0';
      int64_t next;
      if (__builtin_mul_overflow(number, 10, &next) ||
          (negative ? __builtin_sub_overflow(next, digit, &next) : __builtin_add_overflow(next, digit, &next)))
      {
         *overflowed = true;
         return negative ? std::numeric_limits<int64_t>::min() : std::numeric_limits<int64_t>::max();
      }
      number = next;
   }
   return number;
}

}  // namespace

// Appends length characters of text (zero characters included) to the receiver's text form
// and runs number recognition on the result. An array, iterator or object receiver has the
// empty text form: its reference is released and it becomes the appended text. A text that
// cannot grow (no memory, or longer than a length can count) throws std::bad_alloc and
// leaves the receiver as it was.
void ORVA_Value::concatenate(const wchar_t *text, uint32_t length)
{
   if (m_dataType < ORVA_DT_STRING)
   {
      releaseReference();
      m_dataType = ORVA_DT_STRING;
      invalidateString();
   }
   if (!m_stringValid)
      updateString();
   if (text == nullptr)
      length = 0;
   // Digits appended to a decimal integer's text give the integer those digits longer:
   // recognition need not read the whole text again, so a text of digits grows by
   // appending in linear time. The data type and number are what recognition would give.
   const bool growsInteger = (m_dataType == ORVA_DT_INT32 || m_dataType == ORVA_DT_INT64) && allDigits(text, length) &&
                             isDecimalText(m_string, m_stringLength);
   const int64_t integer = getValueAsInt64();
   const bool integerFormed = m_textFormed;

   size_t newLength = static_cast<size_t>(m_stringLength) + length;
   if (newLength > std::numeric_limits<uint32_t>::max() - 1)
      throw std::bad_alloc();
   // The appended text may be the receiver's own text; keep it reachable as the buffer
   // moves. Small texts move to the next power-of-two class of the text pool, which leaves
   // room for the appends that follow; large ones are reallocated to the size asked, which
   // the C allocator often extends in place.
   const bool selfAppend = (text >= m_string && text <= m_string + m_stringLength);
   const size_t offset = selfAppend ? static_cast<size_t>(text - m_string) : 0;
   wchar_t *joined = ownText(newLength + 1);
   if (selfAppend)
      text = joined + offset;
   if (length > 0)
      memmove(joined + m_stringLength, text, static_cast<size_t>(length) * sizeof(wchar_t));
   joined[newLength] = 0;
   m_stringLength = static_cast<uint32_t>(newLength);
   m_stringValid = true;
   m_textFormed = false;

   m_dataType = ORVA_DT_STRING;
   m_content.uint64 = 0;
   if (!growsInteger)
   {
      updateNumber();
      return;
   }
   bool overflowed;
   const int64_t grown = withDigits(integer, joined + newLength - length, length, &overflowed);
   const bool fitsInt32 = grown >= std::numeric_limits<int32_t>::min() && grown <= std::numeric_limits<int32_t>::max();
   m_dataType = fitsInt32 ? ORVA_DT_INT32 : ORVA_DT_INT64;
   if (fitsInt32)
      m_content.int32 = static_cast<int32_t>(grown);
   else
      m_content.int64 = grown;
   // A text that was the number's own form stays so, unless the number saturated.
   m_textFormed = integerFormed && !overflowed;
}

/* ---------------------------------------------------------------------------------------
 * Unary operations
 * --------------------------------------------------------------------------------------- */

void ORVA_Value::increment()
{
   switch (m_dataType)
   {
      case ORVA_DT_REAL: m_content.real += 1.0; break;
      case ORVA_DT_INT32: m_content.int32 = static_cast<int32_t>(m_content.uint32 + 1u); break;
      case ORVA_DT_UINT32: m_content.uint32++; break;
      case ORVA_DT_INT64: m_content.int64 = static_cast<int64_t>(m_content.uint64 + 1u); break;
      case ORVA_DT_UINT64: m_content.uint64++; break;
      default: return;
   }
   invalidateString();
}

void ORVA_Value::decrement()
{
   switch (m_dataType)
   {
      case ORVA_DT_REAL: m_content.real -= 1.0; break;
      case ORVA_DT_INT32: m_content.int32 = static_cast<int32_t>(m_content.uint32 - 1u); break;
      case ORVA_DT_UINT32: m_content.uint32--; break;
      case ORVA_DT_INT64: m_content.int64 = static_cast<int64_t>(m_content.uint64 - 1u); break;
      case ORVA_DT_UINT64: m_content.uint64--; break;
      default: return;
   }
   invalidateString();
}

// Unsigned types become signed: uint32 5 negated is int32 -5.
void ORVA_Value::negate()
{
   switch (m_dataType)
   {
      case ORVA_DT_REAL:
         m_content.real = -m_content.real;
         break;
      case ORVA_DT_INT32:
      case ORVA_DT_UINT32:
         m_content.int32 = static_cast<int32_t>(0u - m_content.uint32);
         m_dataType = ORVA_DT_INT32;
         break;
      case ORVA_DT_INT64:
      case ORVA_DT_UINT64:
         m_content.int64 = static_cast<int64_t>(0u - m_content.uint64);
         m_dataType = ORVA_DT_INT64;
         break;
      default:
         return;
   }
   invalidateString();
}

void ORVA_Value::bitNot()
{
   switch (m_dataType)
   {
      case ORVA_DT_REAL: break;
      case ORVA_DT_INT32:
      case ORVA_DT_UINT32: m_content.uint32 = ~m_content.uint32; break;
      case ORVA_DT_INT64:
      case ORVA_DT_UINT64: m_content.uint64 = ~m_content.uint64; break;
      default: return;
   }
   invalidateString();
}

// Zero test of any data type (isZero reads int32 values inline): only numbers are zero,
// and NaN is not.
bool ORVA_Value::testZero() const
{
   switch (m_dataType)
   {
      case ORVA_DT_REAL: return m_content.real == 0.0;
      case ORVA_DT_INT32:
      case ORVA_DT_UINT32: return m_content.uint32 == 0;
      case ORVA_DT_INT64:
      case ORVA_DT_UINT64: return m_content.uint64 == 0;
      default: return false;
   }
}

/* ---------------------------------------------------------------------------------------
 * Comparisons: 1 or 0; a non-numeric receiver gives 0, NaN makes every comparison 0.
 * --------------------------------------------------------------------------------------- */

#define ORVA_COMPARE(method, op)                                                        \
   int ORVA_Value::method(const ORVA_Value *other) const                                \
   {                                                                                    \
      switch (m_dataType)                                                               \
      {                                                                                 \
         case ORVA_DT_REAL: return m_content.real op other->m_content.real;             \
         case ORVA_DT_INT32: return m_content.int32 op other->m_content.int32;          \
         case ORVA_DT_INT64: return m_content.int64 op other->m_content.int64;          \
         case ORVA_DT_UINT32: return m_content.uint32 op other->m_content.uint32;       \
         case ORVA_DT_UINT64: return m_content.uint64 op other->m_content.uint64;       \
         default: return 0;                                                             \
      }                                                                                 \
   }

ORVA_COMPARE(EQ, ==)
ORVA_COMPARE(LT, <)
ORVA_COMPARE(LE, <=)
ORVA_COMPARE(GT, >)
ORVA_COMPARE(GE, >=)

#undef ORVA_COMPARE

/* ---------------------------------------------------------------------------------------
 * Arithmetic and bitwise operations
 * --------------------------------------------------------------------------------------- */

// Wrapping add, sub and mul: computed on the unsigned bits, which also serve the signed types.
#define ORVA_WRAPPING(method, op)                                                             \
   void ORVA_Value::method(const ORVA_Value *other)                                           \
   {                                                                                          \
      switch (m_dataType)                                                                     \
      {                                                                                       \
         case ORVA_DT_REAL: m_content.real = m_content.real op other->m_content.real; break;  \
         case ORVA_DT_INT32:                                                                  \
         case ORVA_DT_UINT32: m_content.uint32 = m_content.uint32 op other->m_content.uint32; break; \
         case ORVA_DT_INT64:                                                                  \
         case ORVA_DT_UINT64: m_content.uint64 = m_content.uint64 op other->m_content.uint64; break; \
         default: return;                                                                     \
      }                                                                                       \
      invalidateString();                                                                     \
   }

ORVA_WRAPPING(add, +)
ORVA_WRAPPING(sub, -)
ORVA_WRAPPING(mul, *)

#undef ORVA_WRAPPING

void ORVA_Value::div(const ORVA_Value *other)
{
   switch (m_dataType)
   {
      case ORVA_DT_REAL:
         m_content.real = m_content.real / other->m_content.real;
         break;
      case ORVA_DT_INT32:
         if (other->m_content.int32 == 0)
            return;
         if (other->m_content.int32 == -1)
            m_content.int32 = static_cast<int32_t>(0u - m_content.uint32);
         else
            m_content.int32 /= other->m_content.int32;
         break;
      case ORVA_DT_INT64:
         if (other->m_content.int64 == 0)
            return;
         if (other->m_content.int64 == -1)
            m_content.int64 = static_cast<int64_t>(0u - m_content.uint64);
         else
            m_content.int64 /= other->m_content.int64;
         break;
      case ORVA_DT_UINT32:
         if (other->m_content.uint32 == 0)
            return;
         m_content.uint32 /= other->m_content.uint32;
         break;
      case ORVA_DT_UINT64:
         if (other->m_content.uint64 == 0)
            return;
         m_content.uint64 /= other->m_content.uint64;
         break;
      default:
         return;
   }
   invalidateString();
}

// The remainder has the sign of the dividend; a real receiver keeps its number.
void ORVA_Value::rem(const ORVA_Value *other)
{
   switch (m_dataType)
   {
      case ORVA_DT_REAL:
         break;
      case ORVA_DT_INT32:
         if (other->m_content.int32 == 0)
            return;
         m_content.int32 = (other->m_content.int32 == -1) ? 0 : m_content.int32 % other->m_content.int32;
         break;
      case ORVA_DT_INT64:
         if (other->m_content.int64 == 0)
            return;
         m_content.int64 = (other->m_content.int64 == -1) ? 0 : m_content.int64 % other->m_content.int64;
         break;
      case ORVA_DT_UINT32:
         if (other->m_content.uint32 == 0)
            return;
         m_content.uint32 %= other->m_content.uint32;
         break;
      case ORVA_DT_UINT64:
         if (other->m_content.uint64 == 0)
            return;
         m_content.uint64 %= other->m_content.uint64;
         break;
      default:
         return;
   }
   invalidateString();
}

// Bitwise operations on the integers; a real receiver keeps its number and loses its text.
#define ORVA_BITWISE(method, op)                                                              \
   void ORVA_Value::method(const ORVA_Value *other)                                           \
   {                                                                                          \
      switch (m_dataType)                                                                     \
      {                                                                                       \
         case ORVA_DT_REAL: break;                                                            \
         case ORVA_DT_INT32:                                                                  \
         case ORVA_DT_UINT32: m_content.uint32 = m_content.uint32 op other->m_content.uint32; break; \
         case ORVA_DT_INT64:                                                                  \
         case ORVA_DT_UINT64: m_content.uint64 = m_content.uint64 op other->m_content.uint64; break; \
         default: return;                                                                     \
      }                                                                                       \
      invalidateString();                                                                     \
   }

ORVA_BITWISE(bitAnd, &)
ORVA_BITWISE(bitOr, |)
ORVA_BITWISE(bitXor, ^)

#undef ORVA_BITWISE

/* ---------------------------------------------------------------------------------------
 * Shifts: 32-bit types use count modulo 32; 64-bit types use the low 8 bits of the count,
 * and a count of 64 to 255 shifts everything out (sign bits remain for rshift of int64).
 * --------------------------------------------------------------------------------------- */

void ORVA_Value::lshift(int count)
{
   unsigned bits32 = static_cast<unsigned>(count) & 31u;
   unsigned bits64 = static_cast<unsigned>(count) & 255u;
   switch (m_dataType)
   {
      case ORVA_DT_REAL:
         break;
      case ORVA_DT_INT32:
      case ORVA_DT_UINT32:
         m_content.uint32 = m_content.uint32 << bits32;
         break;
      case ORVA_DT_INT64:
      case ORVA_DT_UINT64:
         m_content.uint64 = (bits64 < 64) ? m_content.uint64 << bits64 : 0;
         break;
      default:
         return;
   }
   invalidateString();
}

void ORVA_Value::rshift(int count)
{
   unsigned bits32 = static_cast<unsigned>(count) & 31u;
   unsigned bits64 = static_cast<unsigned>(count) & 255u;
   switch (m_dataType)
   {
      case ORVA_DT_REAL:
         break;
      case ORVA_DT_INT32:
         m_content.int32 = m_content.int32 >> bits32;   // arithmetic
         break;
      case ORVA_DT_UINT32:
         m_content.uint32 = m_content.uint32 >> bits32;
         break;
      case ORVA_DT_INT64:
         m_content.int64 = (bits64 < 64) ? m_content.int64 >> bits64 : (m_content.int64 < 0 ? -1 : 0);
         break;
      case ORVA_DT_UINT64:
         m_content.uint64 = (bits64 < 64) ? m_content.uint64 >> bits64 : 0;
         break;
      default:
         return;
   }
   invalidateString();
}
