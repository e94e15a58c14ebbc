// Locale-independent number parsing with the rules of the C library's strtoll, strtoull,
// wcstoll and wcstod.
//
// White space means the six ASCII white-space characters (space, \t, \n, \v, \f, \r),
// whatever the locale. The integer parsers follow the C base rules (base 0: 0x/0X prefix
// for hexadecimal, a leading 0 for octal, else decimal; base 16 also takes the prefix),
// saturate on overflow like the C functions (LLONG_MAX / LLONG_MIN, ULLONG_MAX) and set
// errno to ERANGE then. When nothing is converted, *end is the start of the text.
//
// The real parsers accept only the plain decimal form: optional white space, optional sign,
// digits with an optional '.' and fraction (at least one digit in all), and an optional
// exponent of 'e' or 'E', an optional sign and at least one digit. Hexadecimal floating
// forms and the names of infinity and NaN are not numbers here, so a script's text "inf"
// or "nan" stays text. The decimal point is always '.'. Overflow gives +-HUGE_VAL and
// underflow +-0.0, both with errno ERANGE, as strtod does.
#include "platform/platform.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

template <typename Char>
inline bool isAsciiSpace(Char c)
{
   return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

template <typename Char>
inline bool isAsciiDigit(Char c)
{
   return c >= '0' && c <= '9';
}

// Value of c as a digit in bases up to 36, or 36 when it is no digit at all.
template <typename Char>
inline int digitValue(Char c)
{
   if (c >= '0' && c <= '9')
      return static_cast<int>(c - '0');
   if (c >= 'a' && c <= 'z')
      return static_cast<int>(c - 'a') + 10;
   if (c >= 'A' && c <= 'Z')
      return static_cast<int>(c - 'A') + 10;
   return 36;
}

// Parses the magnitude the way strtoull does: *negative reports a '-' sign, *overflow a
// magnitude beyond 64 bits. Returns the end of the digits or the start of the text when no
// digit was converted.
template <typename Char>
const Char *parseMagnitude(const Char *text, int base, uint64_t *magnitude, bool *negative, bool *overflow)
{
   *magnitude = 0;
   *negative = false;
   *overflow = false;
   if (text == nullptr)
      return text;
   if (base < 0 || base == 1 || base > 36)
   {
      errno = EINVAL;
      return text;
   }

   const Char *p = text;
   while (isAsciiSpace(*p))
      p++;
   if (*p == '+' || *p == '-')
   {
      *negative = (*p == '-');
      p++;
   }
   // A 0x prefix counts only when a hexadecimal digit follows it; otherwise the 0 alone is
   // the number and parsing stops at the x.
   if ((base == 0 || base == 16) && p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && digitValue(p[2]) < 16)
   {
      p += 2;
      base = 16;
   }
   else if (base == 0)
   {
      base = (p[0] == '0') ? 8 : 10;
   }

   const Char *digits = p;
   uint64_t value = 0;
   const uint64_t limit = std::numeric_limits<uint64_t>::max();
   for (int d; (d = digitValue(*p)) < base; p++)
   {
      if (value > (limit - static_cast<uint64_t>(d)) / static_cast<uint64_t>(base))
         *overflow = true;
      else
         value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
   }
   if (p == digits)
   {
      *negative = false;
      return text;
   }
   *magnitude = value;
   return p;
}

template <typename Char>
int64_t parseSigned(const Char *text, Char **end, int base)
{
   uint64_t magnitude;
   bool negative, overflow;
   const Char *stop = parseMagnitude(text, base, &magnitude, &negative, &overflow);
   if (end != nullptr)
      *end = const_cast<Char *>(stop);

   const uint64_t maxPositive = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
   if (negative)
   {
      if (overflow || magnitude > maxPositive + 1)
      {
         errno = ERANGE;
         return std::numeric_limits<int64_t>::min();
      }
      // Two's complement negation in unsigned arithmetic also covers -2^63.
      return static_cast<int64_t>(0 - magnitude);
   }
   if (overflow || magnitude > maxPositive)
   {
      errno = ERANGE;
      return std::numeric_limits<int64_t>::max();
   }
   return static_cast<int64_t>(magnitude);
}

template <typename Char>
uint64_t parseUnsigned(const Char *text, Char **end, int base)
{
   uint64_t magnitude;
   bool negative, overflow;
   const Char *stop = parseMagnitude(text, base, &magnitude, &negative, &overflow);
   if (end != nullptr)
      *end = const_cast<Char *>(stop);
   if (overflow)
   {
      errno = ERANGE;
      return std::numeric_limits<uint64_t>::max();
   }
   // strtoull negates in unsigned arithmetic: "-1" is the largest number.
   return negative ? 0 - magnitude : magnitude;
}

// Saturating a + b for the decimal exponent arithmetic below.
inline int64_t addSaturated(int64_t a, int64_t b)
{
   if (b > 0 && a > std::numeric_limits<int64_t>::max() - b)
      return std::numeric_limits<int64_t>::max();
   if (b < 0 && a < std::numeric_limits<int64_t>::min() - b)
      return std::numeric_limits<int64_t>::min();
   return a + b;
}

// Where the decimal real at the start of a text lies: white space, a sign, digits with at
// most one point, and an exponent. `end` is the text itself when there is none.
template <typename Char>
struct RealForm
{
   const Char *end;
   const Char *mantissa;
   const Char *mantissaEnd;
   size_t integerDigits;
   int64_t exponent;
   bool negative;
};

template <typename Char>
RealForm<Char> scanReal(const Char *text)
{
   RealForm<Char> form{text, text, text, 0, 0, false};
   const Char *p = text;
   while (isAsciiSpace(*p))
      p++;
   if (*p == '+' || *p == '-')
   {
      form.negative = (*p == '-');
      p++;
   }

   form.mantissa = p;
   size_t integerDigits = 0, fractionDigits = 0;
   while (isAsciiDigit(*p))
   {
      p++;
      integerDigits++;
   }
   if (*p == '.')
   {
      const Char *q = p + 1;
      while (isAsciiDigit(*q))
      {
         q++;
         fractionDigits++;
      }
      if (integerDigits > 0 || fractionDigits > 0)
         p = q;
   }
   if (integerDigits == 0 && fractionDigits == 0)
      return form;
   form.integerDigits = integerDigits;
   form.mantissaEnd = p;

   if (*p == 'e' || *p == 'E')
   {
      const Char *q = p + 1;
      bool negativeExponent = false;
      if (*q == '+' || *q == '-')
      {
         negativeExponent = (*q == '-');
         q++;
      }
      if (isAsciiDigit(*q))
      {
         for (; isAsciiDigit(*q); q++)
         {
            if (form.exponent < 100000000)
               form.exponent = form.exponent * 10 + (*q - '0');
         }
         if (negativeExponent)
            form.exponent = -form.exponent;
         p = q;
      }
   }
   form.end = p;
   return form;
}

template <typename Char>
double parseReal(const Char *text, Char **end)
{
   if (end != nullptr)
      *end = const_cast<Char *>(text);
   if (text == nullptr)
      return 0.0;

   // Recognise the form first; from_chars then converts exactly those characters.
   const RealForm<Char> form = scanReal(text);
   if (form.end == text)
      return 0.0;
   const Char *mantissa = form.mantissa;
   const Char *mantissaEnd = form.mantissaEnd;
   const Char *p = form.end;
   const size_t integerDigits = form.integerDigits;
   const int64_t exponent = form.exponent;
   const bool negative = form.negative;

   // Narrow copy of mantissa and exponent (all ASCII by now).
   size_t length = static_cast<size_t>(p - mantissa);
   // Zeroed: profile-guided builds cannot see that the copy below fills what from_chars reads.
   char small[128] = {};
   char *buffer = length < sizeof(small) ? small : static_cast<char *>(malloc(length + 1));
   if (buffer == nullptr)
      return 0.0;
   for (size_t i = 0; i < length; i++)
      buffer[i] = static_cast<char>(mantissa[i]);

   double value = 0.0;
   std::from_chars_result result = std::from_chars(buffer, buffer + length, value, std::chars_format::general);
   bool complete = (result.ec == std::errc() && result.ptr == buffer + length);
   if (result.ec == std::errc::result_out_of_range)
   {
      // Decide between overflow and underflow from the decimal position of the first
      // significant digit.
      int64_t place = 0;
      bool found = false;
      const Char *q = mantissa;
      for (size_t i = 0; q < mantissaEnd && !found; q++)
      {
         if (*q == '.')
            continue;
         if (*q != '0')
         {
            found = true;
            place = (i < integerDigits) ? static_cast<int64_t>(integerDigits - i - 1)
                                        : -static_cast<int64_t>(i - integerDigits + 1);
         }
         i++;
      }
      value = (found && addSaturated(place, exponent) > 0) ? HUGE_VAL : 0.0;
      errno = ERANGE;
      complete = true;
   }
   if (buffer != small)
      free(buffer);
   if (!complete)
      return 0.0;

   if (end != nullptr)
      *end = const_cast<Char *>(p);
   return negative ? -value : value;
}

}

int64_t qv_strtoll(const char *text, char **end, int base)
{
   return parseSigned(text, end, base);
}

uint64_t qv_strtoull(const char *text, char **end, int base)
{
   return parseUnsigned(text, end, base);
}

int64_t qv_wcstoll(const wchar_t *text, wchar_t **end, int base)
{
   return parseSigned(text, end, base);
}

double qv_wcstod(const wchar_t *text, wchar_t **end)
{
   return parseReal(text, end);
}

size_t qv_wcsrealspan(const wchar_t *text)
{
   return (text != nullptr) ? static_cast<size_t>(scanReal(text).end - text) : 0;
}

double qv_strtod(const char *text, char **end)
{
   return parseReal(text, end);
}
