// The functions a host may add for scripts that work like command-line tools: read lines
// of input, format and round numbers for reports, and take texts and arrays apart and put
// them together again. They are not in the default table; ORVARegisterToolFunctions
// appends them, and the orva command does so for every script it runs.
//
// The handlers follow the built-ins' conventions (env/builtins.h): arguments are checked
// in order, new texts go through the text constructor of ORVA_Value, so a result that
// reads as a number is that number. Arrays they make are indexed from 0.
#include <orva.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <memory>
#include <string>

namespace {

// The widest number text formatting makes before padding: a real's 309 integer digits,
// sign, point and at most kMaxPrecision decimals.
constexpr int kMaxPrecision = 100;
constexpr int kMaxRoundDecimals = 15;

std::wstring textOf(ORVA_Value *value)
{
   uint32_t length = 0;
   const wchar_t *text = value->getValueAsString(&length);
   return text != nullptr ? std::wstring(text, length) : std::wstring();
}

ORVA_Value *newText(const std::wstring &text)
{
   return new ORVA_Value(text.c_str(), static_cast<uint32_t>(text.size()));
}

// The error for a value that should be a number and is not.
int notANumber(ORVA_Value *value)
{
   return value->isNull() ? ORVA_ERR_NULL_VALUE : ORVA_ERR_BAD_ARITHMETIC_CONVERSION;
}

ORVA_Array *newArrayIn(ORVA_Value **result)
{
   std::unique_ptr<ORVA_Array> array(new ORVA_Array());
   *result = new ORVA_Value(array.get());
   return array.release();
}

// readline(): the next line of the environment's input stream without its line end, or
// null at the end of the input (or when the host set no input stream).
int toolReadline(int, ORVA_Value **, ORVA_Value **result, ORVA_Program *program)
{
   FILE *in = program->getEnvironment() != nullptr ? program->getEnvironment()->getStdIn() : nullptr;
   char *line = nullptr;
   size_t capacity = 0;
   ssize_t length = in != nullptr ? getline(&line, &capacity, in) : -1;
   if (length < 0)
   {
      std::free(line);
      *result = new ORVA_Value();
      return 0;
   }
   std::string text(line, static_cast<size_t>(length));
   std::free(line);
   if (!text.empty() && text.back() == '\n')
      text.pop_back();
   if (!text.empty() && text.back() == '\r')
      text.pop_back();
   // A zero byte would end the text early; it reads as a space, as in script files.
   for (char &c : text)
      if (c == 0)
         c = ' ';
   *result = new ORVA_Value(text.c_str());
   return 0;
}

// One conversion of a format pattern: %[flags][width][.precision]letter.
struct Conversion
{
   bool left = false;
   bool zero = false;
   bool plus = false;
   bool space = false;
   int width = 0;
   int precision = -1;
   wchar_t letter = 0;
};

// Reads a conversion after its '%'; returns the position after it, or npos when the
// pattern ends inside it.
size_t parseConversion(const std::wstring &pattern, size_t at, Conversion &conversion)
{
   for (; at < pattern.size(); at++)
   {
      wchar_t c = pattern[at];
      if (c == L'-') conversion.left = true;
      else if (c == L'0') conversion.zero = true;
      else if (c == L'+') conversion.plus = true;
      else if (c == L' ') conversion.space = true;
      else break;
   }
   for (; at < pattern.size() && pattern[at] >= L'0' && pattern[at] <= L'9'; at++)
      conversion.width = std::min(conversion.width * 10 + (pattern[at] - L'0'), 1 << 16);
   if (at < pattern.size() && pattern[at] == L'.')
   {
      conversion.precision = 0;
      for (at++; at < pattern.size() && pattern[at] >= L'0' && pattern[at] <= L'9'; at++)
         conversion.precision = std::min(conversion.precision * 10 + (pattern[at] - L'0'), kMaxPrecision);
   }
   if (at >= pattern.size())
      return std::wstring::npos;
   conversion.letter = pattern[at];
   return at + 1;
}

// Pads a converted body to the width; zeros go between the sign and the digits.
std::wstring pad(const Conversion &conversion, std::wstring body, bool numeric)
{
   if (static_cast<int>(body.size()) >= conversion.width)
      return body;
   size_t missing = static_cast<size_t>(conversion.width) - body.size();
   if (conversion.left)
      return body + std::wstring(missing, L' ');
   if (numeric && conversion.zero)
   {
      size_t signLength = (!body.empty() && (body[0] == L'-' || body[0] == L'+' || body[0] == L' ')) ? 1 : 0;
      return body.insert(signLength, missing, L'0');
   }
   return std::wstring(missing, L' ') + body;
}

std::wstring withSign(const Conversion &conversion, bool negative, const std::string &digits)
{
   std::wstring body;
   if (negative)
      body = L"-";
   else if (conversion.plus)
      body = L"+";
   else if (conversion.space)
      body = L" ";
   return body + std::wstring(digits.begin(), digits.end());
}

// %d and %x: a whole number (a real is cut toward zero); the precision is the least
// number of digits.
int formatWhole(const Conversion &conversion, ORVA_Value *value, std::wstring &out)
{
   if (!value->isNumeric())
      return notANumber(value);
   char buffer[32];
   bool negative = false;
   uint64_t magnitude = 0;
   if (value->getDataType() == ORVA_DT_UINT64 || value->getDataType() == ORVA_DT_UINT32)
   {
      magnitude = value->getValueAsUInt64();
   }
   else
   {
      double real = value->getValueAsReal();
      if (value->isReal() && !(real > -9.2e18 && real < 9.2e18))
         return ORVA_ERR_TYPE_CAST;
      int64_t number = value->isReal() ? static_cast<int64_t>(real) : value->getValueAsInt64();
      negative = number < 0;
      magnitude = negative ? 0 - static_cast<uint64_t>(number) : static_cast<uint64_t>(number);
   }
   int base = (conversion.letter == L'd' || conversion.letter == L'i') ? 10 : 16;
   std::string digits(buffer, std::to_chars(buffer, buffer + sizeof(buffer), magnitude, base).ptr);
   if (conversion.letter == L'X')
      for (char &c : digits)
         c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
   if (conversion.precision > static_cast<int>(digits.size()))
      digits.insert(0, static_cast<size_t>(conversion.precision) - digits.size(), '0');
   Conversion padding = conversion;
   padding.zero = conversion.zero && conversion.precision < 0;
   out += pad(padding, withSign(conversion, negative, digits), true);
   return 0;
}

// %f: a number with the precision's decimals (6 without one), written the same in every
// locale.
int formatReal(const Conversion &conversion, ORVA_Value *value, std::wstring &out)
{
   if (!value->isNumeric())
      return notANumber(value);
   double real = value->getValueAsReal();
   if (!std::isfinite(real))
   {
      out += pad(conversion, withSign(conversion, std::signbit(real), std::isnan(real) ? "nan" : "inf"), false);
      return 0;
   }
   char buffer[512];
   int precision = conversion.precision < 0 ? 6 : conversion.precision;
   char *end = std::to_chars(buffer, buffer + sizeof(buffer), std::fabs(real), std::chars_format::fixed, precision).ptr;
   out += pad(conversion, withSign(conversion, std::signbit(real), std::string(buffer, end)), true);
   return 0;
}

// %s: the value's text, at most `precision` characters of it; null, arrays and objects
// write (null), as print does.
void formatText(const Conversion &conversion, ORVA_Value *value, std::wstring &out)
{
   std::wstring text = (value->isNull() || value->isArray() || value->isObject()) ? L"(null)" : textOf(value);
   if (conversion.precision >= 0 && static_cast<size_t>(conversion.precision) < text.size())
      text.resize(static_cast<size_t>(conversion.precision));
   out += pad(conversion, text, false);
}

int formatOne(const Conversion &conversion, ORVA_Value *value, std::wstring &out)
{
   switch (conversion.letter)
   {
      case L'd':
      case L'i':
      case L'x':
      case L'X':
         return formatWhole(conversion, value, out);
      case L'f':
         return formatReal(conversion, value, out);
      default:
         formatText(conversion, value, out);
         return 0;
   }
}

bool isConversionLetter(wchar_t c)
{
   return c == L'd' || c == L'i' || c == L'x' || c == L'X' || c == L'f' || c == L's';
}

// format(pattern, value...): the pattern with each conversion replaced by the next value.
// Conversions: %d %i %x %X %f %s and %% for a percent sign. Anything else after a '%' is
// copied as it stands. A value too many or too few is error 12.
int toolFormat(int argc, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *)
{
   if (argc < 1)
      return ORVA_ERR_INVALID_ARGUMENT_COUNT;
   if (!argv[0]->isString())
      return ORVA_ERR_NOT_A_STRING;
   std::wstring pattern = textOf(argv[0]);
   std::wstring out;
   int next = 1;
   size_t at = 0;
   while (at < pattern.size())
   {
      size_t percent = pattern.find(L'%', at);
      out.append(pattern, at, percent == std::wstring::npos ? std::wstring::npos : percent - at);
      if (percent == std::wstring::npos)
         break;
      if (percent + 1 < pattern.size() && pattern[percent + 1] == L'%')
      {
         out += L'%';
         at = percent + 2;
         continue;
      }
      Conversion conversion;
      size_t after = parseConversion(pattern, percent + 1, conversion);
      if (after == std::wstring::npos || !isConversionLetter(conversion.letter))
      {
         out += L'%';
         at = percent + 1;
         continue;
      }
      if (next >= argc)
         return ORVA_ERR_INVALID_ARGUMENT_COUNT;
      int code = formatOne(conversion, argv[next++], out);
      if (code != 0)
         return code;
      at = after;
   }
   if (next != argc)
      return ORVA_ERR_INVALID_ARGUMENT_COUNT;
   *result = newText(out);
   return 0;
}

// round(number [, decimals]): the number rounded half away from zero to that many
// decimals (0 without; negative rounds to tens, hundreds, ...). The result is the number
// its rounded text reads as: a real that prints with exactly those decimals, or a whole
// number for 0 or fewer decimals.
int toolRound(int argc, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *)
{
   if (argc != 1 && argc != 2)
      return ORVA_ERR_INVALID_ARGUMENT_COUNT;
   if (!argv[0]->isNumeric())
      return notANumber(argv[0]);
   if (argc == 2 && !argv[1]->isInteger())
      return ORVA_ERR_NOT_AN_INTEGER;
   int64_t requested = argc == 2 ? argv[1]->getValueAsInt64() : 0;
   int decimals = static_cast<int>(std::max<int64_t>(-kMaxRoundDecimals, std::min<int64_t>(kMaxRoundDecimals, requested)));
   double number = argv[0]->getValueAsReal();
   double scale = std::pow(10.0, std::abs(decimals));
   double scaled = decimals >= 0 ? number * scale : number / scale;
   if (std::isfinite(scaled))
      number = decimals >= 0 ? std::round(scaled) / scale : std::round(scaled) * scale;
   if (!std::isfinite(number))
   {
      *result = new ORVA_Value(number);
      return 0;
   }
   char buffer[400];
   char *end = std::to_chars(buffer, buffer + sizeof(buffer), number, std::chars_format::fixed, std::max(decimals, 0)).ptr;
   *end = 0;
   // "-0" would read as a whole number with the sign lost anyway; keep the text plain.
   *result = new ORVA_Value(std::string(buffer) == "-0" ? "0" : buffer);
   return 0;
}

// split(text, separator): the pieces of the text between separators, at indexes 0, 1, ...
// An empty separator splits the text into its characters.
int toolSplit(int, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *)
{
   if (!argv[0]->isString() || !argv[1]->isString())
      return ORVA_ERR_NOT_A_STRING;
   std::wstring text = textOf(argv[0]);
   std::wstring separator = textOf(argv[1]);
   ORVA_Array *array = newArrayIn(result);
   if (separator.empty())
   {
      for (size_t i = 0; i < text.size(); i++)
         array->set(static_cast<int>(i), newText(text.substr(i, 1)));
      return 0;
   }
   int index = 0;
   size_t start = 0;
   for (size_t found; (found = text.find(separator, start)) != std::wstring::npos; start = found + separator.size())
      array->set(index++, newText(text.substr(start, found - start)));
   array->set(index, newText(text.substr(start)));
   return 0;
}

// join(array [, separator]): the texts of the elements in index order, separated by the
// separator (nothing without one). A null element adds an empty text.
int toolJoin(int argc, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *)
{
   if (argc != 1 && argc != 2)
      return ORVA_ERR_INVALID_ARGUMENT_COUNT;
   if (!argv[0]->isArray())
      return ORVA_ERR_NOT_AN_ARRAY;
   if (argc == 2 && !argv[1]->isString())
      return ORVA_ERR_NOT_A_STRING;
   std::wstring separator = argc == 2 ? textOf(argv[1]) : std::wstring();
   ORVA_Array *array = argv[0]->getValueAsArray();
   std::wstring out;
   for (int i = 0; array != nullptr && i < array->size(); i++)
   {
      ORVA_Value *element = array->getByPosition(i);
      if (element->isArray() || element->isObject())
         return ORVA_ERR_NOT_A_STRING;
      if (i > 0)
         out += separator;
      out += textOf(element);
   }
   *result = newText(out);
   return 0;
}

// replace(text, old, new): the text with every occurrence of old replaced by new, left to
// right; an empty old leaves the text as it is.
int toolReplace(int, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *)
{
   for (int i = 0; i < 3; i++)
      if (!argv[i]->isString())
         return ORVA_ERR_NOT_A_STRING;
   std::wstring text = textOf(argv[0]);
   std::wstring from = textOf(argv[1]);
   std::wstring to = textOf(argv[2]);
   if (from.empty())
   {
      *result = newText(text);
      return 0;
   }
   std::wstring out;
   size_t start = 0;
   for (size_t found; (found = text.find(from, start)) != std::wstring::npos; start = found + from.size())
      out.append(text, start, found - start).append(to);
   out.append(text, start, std::wstring::npos);
   *result = newText(out);
   return 0;
}

// count(array): the number of elements the array holds, an int32.
int toolCount(int, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *)
{
   if (!argv[0]->isArray())
      return ORVA_ERR_NOT_AN_ARRAY;
   ORVA_Array *array = argv[0]->getValueAsArray();
   *result = new ORVA_Value(static_cast<int32_t>(array != nullptr ? array->size() : 0));
   return 0;
}

// keys(array): a new array of the array's indexes in ascending order, at indexes 0, 1, ...
int toolKeys(int, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *)
{
   if (!argv[0]->isArray())
      return ORVA_ERR_NOT_AN_ARRAY;
   ORVA_Array *source = argv[0]->getValueAsArray();
   ORVA_Array *keys = newArrayIn(result);
   for (int i = 0; source != nullptr && i < source->size(); i++)
      keys->set(i, new ORVA_Value(static_cast<int32_t>(source->getIndexAtPosition(i))));
   return 0;
}

const ORVA_ExtFunction kToolFunctions[] = {
   {L"readline", toolReadline, 0},
   {L"format", toolFormat, -1},
   {L"round", toolRound, -1},
   {L"split", toolSplit, 2},
   {L"join", toolJoin, -1},
   {L"replace", toolReplace, 3},
   {L"count", toolCount, 1},
   {L"keys", toolKeys, 1},
};

bool isListed(const wchar_t *name, const wchar_t *const *names)
{
   for (; names != nullptr && *names != nullptr; names++)
      if (std::wcscmp(name, *names) == 0)
         return true;
   return false;
}

}  // namespace

void ORVARegisterToolFunctions(ORVA_Environment *environment, const wchar_t *const *except)
{
   if (environment == nullptr)
      return;
   for (const ORVA_ExtFunction &function : kToolFunctions)
      if (!isListed(function.name, except))
         environment->registerFunctionSet(1, &function);
}
