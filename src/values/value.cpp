// ORVA_Value: construction, destruction, conversion and reading.
//
// A value holds a data type code, an 8-byte content (a number or a reference) and a cached
// text form. Text is the source of truth only for strings; for numbers it is formed lazily
// by updateString on the first request and cached until the number or the type changes
// (invalidateString), so arithmetic never formats text. A value made from text runs number
// recognition (updateNumber) once, and when the text reads as a number the value takes that
// number while keeping the text it was made from (0x1A stays "0x1A" until changed).
//
// Ownership: the value holds its text, owns its name (malloc'ed) and its ORVA_Object
// instance, and holds one reference on its array or iterator; releaseReference gives these
// up. Text buffers come from the per-thread text pool (newText, DropText) and know their
// capacity, so that a text that grows by appending has room to spare. A copy of a value
// shares its text buffer (values/shared_text.h): whatever changes a text in place makes it
// the value's own first (ownText), so a text a value hands out stays as it was while the
// value is unchanged, whatever its copies do.
//
// A value is 24 bytes, because arrays hold their elements' values inline. Two rare or
// secondary things are kept out of it for that:
// - The room of the text buffer is coded in one byte (TextRoomCode): exact for the
//   pool's buffers, rounded down a little for large ones.
// - Names, which only named call arguments have, live in one table keyed by the value's
//   address (a flag in the value says whether to look); the table has a lock, since
//   values on several threads may be named at once.
//
// Decisions where the language leaves a choice:
// - A real read or converted as an integer is truncated toward zero and saturates at the
//   bounds of the target (int32 for int32, int64 for the other integer forms, which then keep
//   their low 32 bits where asked); NaN reads as 0. No conversion is undefined.
// - "%f" text is formed in full, however long ("1e300" gives 301 digits before the point);
//   infinities read "inf" and "-inf", every NaN reads "nan". Formatting and recognition use
//   '.' whatever the host's locale.
// - Converting a value that holds an object, array or iterator to a number releases the
//   reference first, exactly as the destructor would, so nothing leaks.
#include "orva.h"
#include "platform/platform.h"
#include "values/pool.h"
#include "values/plain_int32.h"
#include "values/shared_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <unordered_map>
#include <utility>

const wchar_t *const g_orvaDataTypeNames[10] = {
   L"null", L"object", L"array", L"iterator", L"string",
   L"real", L"int32", L"int64", L"uint32", L"uint64"
};

namespace {

// A text buffer with room for `characters` characters (the terminator included);
// *capacity receives the room it has in bytes. A value never goes without the text it should have,
// so running out of memory throws std::bad_alloc, which a run reports as "Out of memory".
wchar_t *newText(size_t characters, size_t *capacity)
{
   // The holders' count makes every block at least as large as TextRoomCode can code.
   static_assert(kSharedTextHeader + sizeof(wchar_t) >= kTextRoomSmallest, "a text block is never too small to code");
   wchar_t *text = NewSharedText(characters, capacity);
   if (text == nullptr)
      throw std::bad_alloc();
   return text;
}

// A text buffer holding a copy of length characters of source and a terminator.
wchar_t *copyText(const wchar_t *source, uint32_t length, size_t *capacity)
{
   wchar_t *text = newText(static_cast<size_t>(length) + 1, capacity);
   memcpy(text, source, static_cast<size_t>(length) * sizeof(wchar_t));
   text[length] = 0;
   return text;
}

// Gives up a value's hold on its text. Out of line: most values die holding a plain
// number, and their destructor then needs no stack frame.
__attribute__((noinline)) void dropTextOf(wchar_t *text, uint8_t room)
{
   DropText(text, TextRoomOf(room));
}

// A copy of a value's name; throws std::bad_alloc rather than lose the name.
wchar_t *copyName(const wchar_t *name)
{
   wchar_t *copy = qv_wcsdup(name);
   if (copy == nullptr && name != nullptr)
      throw std::bad_alloc();
   return copy;
}

// The names of named values. Never destroyed: values may outlive every static object.
struct NameTable
{
   std::mutex lock;
   std::unordered_map<const ORVA_Value *, wchar_t *> names;
};

NameTable &names()
{
   static NameTable *table = new NameTable();
   return *table;
}

// Truncation toward zero, saturating; NaN gives 0.
int64_t realToInt64(double number)
{
   if (std::isnan(number))
      return 0;
   if (number >= 9223372036854775808.0)
      return std::numeric_limits<int64_t>::max();
   if (number <= -9223372036854775808.0)
      return std::numeric_limits<int64_t>::min();
   return static_cast<int64_t>(number);
}

// Whether text is the decimal form updateString gives the integer ("12", "-3", not "012",
// "0x1A" or "+5").
bool isFormedText(int64_t integer, const wchar_t *text, uint32_t length)
{
   char buffer[24];
   const char *end = std::to_chars(buffer, buffer + sizeof(buffer), integer).ptr;
   if (static_cast<size_t>(end - buffer) != length)
      return false;
   for (uint32_t i = 0; i < length; i++)
   {
      if (text[i] != static_cast<wchar_t>(buffer[i]))
         return false;
   }
   return true;
}

// Whether a text starting with c may read as a number: white space, a sign, a digit or a
// point (what the number parsers accept first).
inline bool mayStartNumber(wchar_t c)
{
   return (c >= L'0' && c <= L'9') || c == L'-' || c == L'+' || c == L'.' || c == L' ' ||
          (c >= L'\t' && c <= L'\r');
}

// What a whole text reads as: int32 or int64 (with whether the text is the one the number
// forms), real, or string when it is no number.
struct NumberReading
{
   int dataType;
   bool formed;
   int64_t integer;
   double real;
};

// What a text that starts like a plain decimal integer, a '-' or none and then a digit
// other than 0, reads as an integer: kPlainInteger when the whole text is at most 18 such
// digits (no overflow, and the text is the number's own form), kNoInteger when something
// else follows the digits (the integer parser stops there as well, short of the end), and
// kUnsure for every other text, which the integer parser reads.
enum class PlainReading { kPlainInteger, kNoInteger, kUnsure };

PlainReading readPlainInteger(const wchar_t *text, uint32_t length, int64_t *integer)
{
   const uint32_t sign = (length > 0 && text[0] == L'-') ? 1 : 0;
   if (length == sign || length - sign > 18 || text[sign] < L'1' || text[sign] > L'9')
      return PlainReading::kUnsure;
   int64_t number = 0;
   for (uint32_t i = sign; i < length; i++)
   {
      if (text[i] < L'0' || text[i] > L'9')
         return PlainReading::kNoInteger;
      number = number * 10 + (text[i] - L'0');
   }
   *integer = sign ? -number : number;
   return PlainReading::kPlainInteger;
}

// Whether the whole text reads as an integer in C base-0 form, which, and whether the text
// is the form updateString gives that integer.
bool readInteger(const wchar_t *text, uint32_t length, int64_t *integer, bool *formed)
{
   switch (readPlainInteger(text, length, integer))
   {
      case PlainReading::kPlainInteger:
         *formed = true;
         return true;
      case PlainReading::kNoInteger:
         return false;
      default:
         break;
   }
   wchar_t *end;
   *integer = qv_wcstoll(text, &end, 0);
   if (*end != 0 || static_cast<size_t>(end - text) != length)
      return false;
   *formed = isFormedText(*integer, text, length);
   return true;
}

// Whether the text holds two points (an address, a version): no real has.
inline bool twoPoints(const wchar_t *text, uint32_t length)
{
   const wchar_t *point = wmemchr(text, L'.', length);
   return point != nullptr && wmemchr(point + 1, L'.', length - static_cast<uint32_t>(point + 1 - text)) != nullptr;
}

// Number recognition proper, out of line: updateNumber turns most texts away before.
__attribute__((noinline)) NumberReading readNumber(const wchar_t *text, uint32_t length)
{
   NumberReading reading{ORVA_DT_STRING, false, 0, 0.0};
   int64_t integer = 0;
   bool formed = false;
   if (readInteger(text, length, &integer, &formed))
   {
      reading.formed = formed;
      reading.integer = integer;
      const bool fitsInt32 =
         integer >= std::numeric_limits<int32_t>::min() && integer <= std::numeric_limits<int32_t>::max();
      reading.dataType = fitsInt32 ? ORVA_DT_INT32 : ORVA_DT_INT64;
      return reading;
   }
   // Texts that start like a number but are none (an address, a date) are told from
   // their form alone, before any conversion; a second point ends a real's form at once.
   if (twoPoints(text, length) || qv_wcsrealspan(text) != length)
      return reading;
   wchar_t *end;
   const double real = qv_wcstod(text, &end);
   if (end != text && *end == 0 && static_cast<size_t>(end - text) == length)
   {
      reading.dataType = ORVA_DT_REAL;
      reading.real = real;
   }
   return reading;
}

int32_t realToInt32(double number)
{
   if (std::isnan(number))
      return 0;
   if (number >= 2147483648.0)
      return std::numeric_limits<int32_t>::max();
   if (number <= -2147483649.0)
      return std::numeric_limits<int32_t>::min();
   return static_cast<int32_t>(number);
}

}

/* ---------------------------------------------------------------------------------------
 * Construction and destruction
 * --------------------------------------------------------------------------------------- */

ORVA_Value::ORVA_Value()
   : m_string(nullptr), m_stringLength(0), m_dataType(ORVA_DT_NULL), m_textRoom(0), m_stringValid(false),
     m_textFormed(false), m_named(false)
{
   m_content.uint64 = 0;
}

// The members are set here rather than by delegating to ORVA_Value(): values are copied
// on every push of a variable. The text is shared, not copied; the name is copied before
// any reference is taken, so running out of memory leaves nothing behind.
ORVA_Value::ORVA_Value(const ORVA_Value *src)
   : m_string(nullptr), m_stringLength(0), m_dataType(ORVA_DT_NULL), m_textRoom(0), m_stringValid(false),
     m_textFormed(false), m_named(false)
{
   m_content.uint64 = 0;
   if (src == nullptr)
      return;
   // A text formed from the number is left out: the copy forms the same text when asked.
   if (src->m_stringValid && src->m_string != nullptr && !src->m_textFormed)
   {
      m_string = src->m_string;
      ShareText(m_string);
      m_textRoom = src->m_textRoom;
      m_stringLength = src->m_stringLength;
      m_stringValid = true;
   }
   if (src->m_named)
   {
      try
      {
         setName(src->storedName());
      }
      catch (...)
      {
         invalidateString();
         throw;
      }
   }
   switch (src->m_dataType)
   {
      case ORVA_DT_OBJECT:
         if (src->m_content.object != nullptr)
         {
            try
            {
               m_content.object = new ORVA_Object(src->m_content.object);
            }
            catch (...)
            {
               invalidateString();
               dropName();
               throw;
            }
         }
         break;
      case ORVA_DT_ARRAY:
         m_content.array = src->m_content.array;
         if (m_content.array != nullptr)
            m_content.array->incRefCount();
         break;
      case ORVA_DT_ITERATOR:
         m_content.iterator = src->m_content.iterator;
         if (m_content.iterator != nullptr)
            m_content.iterator->incRefCount();
         break;
      default:
         m_content.uint64 = src->m_content.uint64;
         break;
   }
   m_dataType = src->m_dataType;
}

ORVA_Value::ORVA_Value(ORVA_Object *object) : ORVA_Value()
{
   m_dataType = ORVA_DT_OBJECT;
   m_content.object = object;
}

ORVA_Value::ORVA_Value(ORVA_Array *array) : ORVA_Value()
{
   m_dataType = ORVA_DT_ARRAY;
   m_content.array = array;
   if (array != nullptr)
      array->incRefCount();
}

ORVA_Value::ORVA_Value(ORVA_Iterator *iterator) : ORVA_Value()
{
   m_dataType = ORVA_DT_ITERATOR;
   m_content.iterator = iterator;
   if (iterator != nullptr)
      iterator->incRefCount();
}

ORVA_Value::ORVA_Value(int32_t number) : ORVA_Value()
{
   m_dataType = ORVA_DT_INT32;
   m_content.int32 = number;
}

ORVA_Value::ORVA_Value(uint32_t number) : ORVA_Value()
{
   m_dataType = ORVA_DT_UINT32;
   m_content.uint32 = number;
}

ORVA_Value::ORVA_Value(int64_t number) : ORVA_Value()
{
   m_dataType = ORVA_DT_INT64;
   m_content.int64 = number;
}

ORVA_Value::ORVA_Value(uint64_t number) : ORVA_Value()
{
   m_dataType = ORVA_DT_UINT64;
   m_content.uint64 = number;
}

ORVA_Value::ORVA_Value(double number) : ORVA_Value()
{
   m_dataType = ORVA_DT_REAL;
   m_content.real = number;
}

ORVA_Value::ORVA_Value(const wchar_t *text) : ORVA_Value()
{
   m_dataType = ORVA_DT_STRING;
   if (text == nullptr)
      text = L"";
   const auto length = static_cast<uint32_t>(wcslen(text));
   size_t capacity;
   wchar_t *copy = copyText(text, length, &capacity);
   setText(copy, length, capacity);
   updateNumber();
}

ORVA_Value::ORVA_Value(const char *text) : ORVA_Value()
{
   m_dataType = ORVA_DT_STRING;
   std::unique_ptr<wchar_t, decltype(&free)> wide(WideStringFromUTF8String(text != nullptr ? text : ""), &free);
   if (wide == nullptr)
      throw std::bad_alloc();
   const auto length = static_cast<uint32_t>(wcslen(wide.get()));
   size_t capacity;
   wchar_t *copy = copyText(wide.get(), length, &capacity);
   setText(copy, length, capacity);
   updateNumber();
}

ORVA_Value::ORVA_Value(const wchar_t *text, uint32_t length) : ORVA_Value()
{
   m_dataType = ORVA_DT_STRING;
   size_t capacity;
   wchar_t *copy = newText(static_cast<size_t>(length) + 1, &capacity);
   if (text != nullptr)
      memcpy(copy, text, static_cast<size_t>(length) * sizeof(wchar_t));
   else
      memset(copy, 0, static_cast<size_t>(length) * sizeof(wchar_t));
   copy[length] = 0;
   setText(copy, length, capacity);
   updateNumber();
}

void *ORVA_Value::operator new(size_t size)
{
   return PoolAllocate(size);
}

void ORVA_Value::operator delete(void *block, size_t size)
{
   PoolRelease(block, size);
}

// Most values die holding a plain number: no text, no name, no reference.
ORVA_Value::~ORVA_Value()
{
   if (m_named)
      dropName();
   if (m_string != nullptr)
      dropTextOf(m_string, m_textRoom);
   if (m_dataType >= ORVA_DT_OBJECT && m_dataType <= ORVA_DT_ITERATOR)
      releaseReference();
}

void ORVA_Value::swap(ORVA_Value &other) noexcept
{
   if (m_named || other.m_named)
   {
      // The names change keys in place: moving a node of the table allocates nothing.
      NameTable &table = names();
      std::lock_guard<std::mutex> hold(table.lock);
      auto mine = table.names.extract(this);
      auto theirs = table.names.extract(&other);
      if (!mine.empty())
      {
         mine.key() = &other;
         table.names.insert(std::move(mine));
      }
      if (!theirs.empty())
      {
         theirs.key() = this;
         table.names.insert(std::move(theirs));
      }
   }
   std::swap(m_string, other.m_string);
   std::swap(m_content, other.m_content);
   std::swap(m_stringLength, other.m_stringLength);
   std::swap(m_dataType, other.m_dataType);
   std::swap(m_textRoom, other.m_textRoom);
   std::swap(m_stringValid, other.m_stringValid);
   const bool formed = m_textFormed;
   m_textFormed = other.m_textFormed;
   other.m_textFormed = formed;
   const bool named = m_named;
   m_named = other.m_named;
   other.m_named = named;
}

uint32_t ORVA_Value::textCapacity() const
{
   return (m_string != nullptr) ? static_cast<uint32_t>(SharedTextCharacters(TextRoomOf(m_textRoom))) : 0;
}

// Makes the cached text the value's alone, copying it when other values share it, with
// room for at least `characters` characters (the terminator included); returns it. The
// value must have a valid text. Throws std::bad_alloc and leaves the text as it was when
// memory runs out.
wchar_t *ORVA_Value::ownText(size_t characters)
{
   if (characters <= textCapacity() && !IsTextShared(m_string))
      return m_string;
   return moveText(characters);
}

// ownText's other cases, out of line: the text moves to a buffer of its own or a larger
// one.
__attribute__((noinline)) wchar_t *ORVA_Value::moveText(size_t characters)
{
   const size_t used = static_cast<size_t>(m_stringLength) + 1;
   if (characters < used)
      characters = used;
   if (!IsTextShared(m_string))
   {
      size_t capacity = 0;
      wchar_t *grown = GrowOwnText(m_string, TextRoomOf(m_textRoom), used, characters, &capacity);
      if (grown == nullptr)
         throw std::bad_alloc();
      m_string = grown;
      m_textRoom = TextRoomCode(capacity);
      return m_string;
   }
   size_t capacity;
   wchar_t *own = newText(characters, &capacity);
   memcpy(own, m_string, used * sizeof(wchar_t));
   DropText(m_string, TextRoomOf(m_textRoom));
   m_string = own;
   m_textRoom = TextRoomCode(capacity);
   return m_string;
}

// Stores text (a buffer from newText with room for capacity bytes) as the cached text
// form.
// Only this file gives values their texts: inline in each constructor.
inline void ORVA_Value::setText(wchar_t *text, uint32_t length, size_t capacity)
{
   // Every field invalidateString would clear is set here: only the old text goes.
   if (m_string != nullptr)
      DropText(m_string, TextRoomOf(m_textRoom));
   m_string = text;
   m_textRoom = TextRoomCode(capacity);
   m_stringLength = length;
   m_stringValid = true;
   m_textFormed = false;
}

// Gives up the object instance or the array/iterator reference the value holds; the data
// type is left for the caller to change.
void ORVA_Value::releaseReference()
{
   switch (m_dataType)
   {
      case ORVA_DT_OBJECT:
         delete m_content.object;
         break;
      case ORVA_DT_ARRAY:
         if (m_content.array != nullptr)
         {
            m_content.array->decRefCount();
            if (m_content.array->isUnused())
               delete m_content.array;
         }
         break;
      case ORVA_DT_ITERATOR:
         if (m_content.iterator != nullptr)
         {
            m_content.iterator->decRefCount();
            if (m_content.iterator->isUnused())
               delete m_content.iterator;
         }
         break;
      default:
         return;
   }
   m_content.uint64 = 0;
}

void ORVA_Value::setName(const wchar_t *name)
{
   if (name == nullptr)
   {
      dropName();
      return;
   }
   std::unique_ptr<wchar_t, decltype(&free)> copy(copyName(name), &free);
   NameTable &table = names();
   std::lock_guard<std::mutex> hold(table.lock);
   wchar_t *&entry = table.names[this];
   free(entry);
   entry = copy.release();
   m_named = true;
}

const wchar_t *ORVA_Value::storedName() const
{
   NameTable &table = names();
   std::lock_guard<std::mutex> hold(table.lock);
   const auto entry = table.names.find(this);
   return (entry != table.names.end()) ? entry->second : nullptr;
}

void ORVA_Value::dropName() noexcept
{
   if (!m_named)
      return;
   NameTable &table = names();
   std::lock_guard<std::mutex> hold(table.lock);
   const auto entry = table.names.find(this);
   if (entry != table.names.end())
   {
      free(entry->second);
      table.names.erase(entry);
   }
   m_named = false;
}

/* ---------------------------------------------------------------------------------------
 * Text form and number recognition
 * --------------------------------------------------------------------------------------- */

void ORVA_Value::invalidateString()
{
   if (m_string != nullptr)
      DropText(m_string, TextRoomOf(m_textRoom));
   m_string = nullptr;
   m_textRoom = 0;
   m_stringLength = 0;
   m_stringValid = false;
   m_textFormed = false;
}

// Number recognition on the cached text: a whole-text integer in C base-0 form becomes
// int32 (or int64 beyond the int32 range), else a whole-text decimal real becomes real. The
// text is kept either way.
void ORVA_Value::updateNumber()
{
   if (m_string == nullptr)
      return;
   // Most texts are no number, and their first character already says so: every number
   // starts with white space, a sign, a digit or a point (the empty text reads as 0).
   if (m_stringLength > 0 && !mayStartNumber(m_string[0]))
      return;

   const NumberReading reading = readNumber(m_string, m_stringLength);
   switch (reading.dataType)
   {
      case ORVA_DT_INT32:
         m_dataType = ORVA_DT_INT32;
         m_content.uint64 = 0;
         m_content.int32 = static_cast<int32_t>(reading.integer);
         m_textFormed = reading.formed;
         break;
      case ORVA_DT_INT64:
         m_dataType = ORVA_DT_INT64;
         m_content.int64 = reading.integer;
         m_textFormed = reading.formed;
         break;
      case ORVA_DT_REAL:
         m_dataType = ORVA_DT_REAL;
         m_content.real = reading.real;
         break;
      default:
         break;
   }
}

// Writes the text of the number into buffer (kNumberTextCapacity characters, no
// terminator) and returns its length: "%f" for real, signed or unsigned decimal for the
// integers, the empty text for everything else.
uint32_t ORVA_Value::formNumberText(wchar_t *buffer) const
{
   char digits[kNumberTextCapacity];
   char *last = digits + sizeof(digits);
   char *end = digits;
   switch (m_dataType)
   {
      case ORVA_DT_REAL:
         if (std::isnan(m_content.real))
         {
            memcpy(digits, "nan", 3);
            end = digits + 3;
         }
         else
         {
            end = std::to_chars(digits, last, m_content.real, std::chars_format::fixed, 6).ptr;
         }
         break;
      case ORVA_DT_INT32:
         end = std::to_chars(digits, last, m_content.int32).ptr;
         break;
      case ORVA_DT_INT64:
         end = std::to_chars(digits, last, m_content.int64).ptr;
         break;
      case ORVA_DT_UINT32:
         end = std::to_chars(digits, last, m_content.uint32).ptr;
         break;
      case ORVA_DT_UINT64:
         end = std::to_chars(digits, last, m_content.uint64).ptr;
         break;
      default:
         break;
   }
   const auto length = static_cast<uint32_t>(end - digits);
   for (uint32_t i = 0; i < length; i++)
      buffer[i] = static_cast<wchar_t>(digits[i]);
   return length;
}

// Forms and caches the text of the number (see formNumberText).
void ORVA_Value::updateString()
{
   wchar_t buffer[kNumberTextCapacity];
   const uint32_t length = formNumberText(buffer);
   size_t capacity;
   wchar_t *text = copyText(buffer, length, &capacity);
   setText(text, length, capacity);
   m_textFormed = (m_dataType >= ORVA_DT_REAL);
}

/* ---------------------------------------------------------------------------------------
 * Reading
 * --------------------------------------------------------------------------------------- */

bool ORVA_Value::isObject(const wchar_t *className) const
{
   if (m_dataType != ORVA_DT_OBJECT || m_content.object == nullptr || className == nullptr)
      return false;
   ORVA_Class *objectClass = m_content.object->getClass();
   if (objectClass == nullptr)
      return false;
   // The class name lives in a buffer of 64 characters; never read past it, even when a
   // derived class left it without a terminator.
   const wchar_t *name = objectClass->getName();
   for (int i = 0; i < 64; i++)
   {
      if (name[i] != className[i])
         return false;
      if (name[i] == 0)
         return true;
   }
   return className[64] == 0;
}

ORVA_Object *ORVA_Value::getValueAsObject() const
{
   return m_dataType == ORVA_DT_OBJECT ? m_content.object : nullptr;
}

ORVA_Array *ORVA_Value::getValueAsArray() const
{
   return m_dataType == ORVA_DT_ARRAY ? m_content.array : nullptr;
}

ORVA_Iterator *ORVA_Value::getValueAsIterator() const
{
   return m_dataType == ORVA_DT_ITERATOR ? m_content.iterator : nullptr;
}

const wchar_t *ORVA_Value::getValueAsCString()
{
   if (m_dataType < ORVA_DT_STRING && m_dataType != ORVA_DT_ITERATOR)
      return nullptr;
   if (!m_stringValid)
      updateString();
   return m_string;
}

const wchar_t *ORVA_Value::getValueAsString(uint32_t *length)
{
   const wchar_t *text = getValueAsCString();
   if (length != nullptr)
      *length = (text != nullptr) ? m_stringLength : 0;
   return text;
}

int32_t ORVA_Value::convertToInt32() const
{
   switch (m_dataType)
   {
      case ORVA_DT_REAL:
         return realToInt32(m_content.real);
      case ORVA_DT_INT32:
      case ORVA_DT_UINT32:
         return m_content.int32;
      case ORVA_DT_INT64:
      case ORVA_DT_UINT64:
         return static_cast<int32_t>(static_cast<uint32_t>(m_content.uint64));
      default:
         return 0;
   }
}

uint32_t ORVA_Value::getValueAsUInt32() const
{
   switch (m_dataType)
   {
      case ORVA_DT_REAL:
         return static_cast<uint32_t>(static_cast<uint64_t>(realToInt64(m_content.real)));
      case ORVA_DT_INT32:
      case ORVA_DT_UINT32:
         return m_content.uint32;
      case ORVA_DT_INT64:
      case ORVA_DT_UINT64:
         return static_cast<uint32_t>(m_content.uint64);
      default:
         return 0;
   }
}

int64_t ORVA_Value::getValueAsInt64() const
{
   switch (m_dataType)
   {
      case ORVA_DT_REAL:
         return realToInt64(m_content.real);
      case ORVA_DT_INT32:
         return m_content.int32;
      case ORVA_DT_UINT32:
         return static_cast<int64_t>(m_content.uint32);
      case ORVA_DT_INT64:
      case ORVA_DT_UINT64:
         return m_content.int64;
      default:
         return 0;
   }
}

uint64_t ORVA_Value::getValueAsUInt64() const
{
   return static_cast<uint64_t>(getValueAsInt64());
}

double ORVA_Value::getValueAsReal() const
{
   switch (m_dataType)
   {
      case ORVA_DT_REAL:
         return m_content.real;
      case ORVA_DT_INT32:
         return m_content.int32;
      case ORVA_DT_UINT32:
         return m_content.uint32;
      case ORVA_DT_INT64:
      case ORVA_DT_UINT64:
         // uint64 is read as a signed 64-bit number, as the language defines it.
         return static_cast<double>(m_content.int64);
      default:
         return 0.0;
   }
}

/* ---------------------------------------------------------------------------------------
 * Conversion
 * --------------------------------------------------------------------------------------- */

bool ORVA_Value::convert(int dataType)
{
   if (dataType == m_dataType)
      return true;
   if (dataType == ORVA_DT_STRING)
   {
      if (m_dataType == ORVA_DT_NULL)
      {
         // A string without cached text: its text form is the empty text.
         m_dataType = ORVA_DT_STRING;
         invalidateString();
      }
      // Strings and numbers already have a text form; references stay what they are.
      return true;
   }
   if (dataType < ORVA_DT_REAL || dataType > ORVA_DT_UINT64)
      return false;
   if (dataType == ORVA_DT_REAL && m_dataType == ORVA_DT_UINT64)
      return false;

   // Read the number first: the readers give 0 for every non-numeric type.
   double real = getValueAsReal();
   int64_t wide = getValueAsInt64();
   releaseReference();
   invalidateString();
   m_content.uint64 = 0;
   switch (dataType)
   {
      case ORVA_DT_REAL:
         m_content.real = real;
         break;
      case ORVA_DT_INT32:
         m_content.int32 = (m_dataType == ORVA_DT_REAL) ? realToInt32(real) : static_cast<int32_t>(static_cast<uint32_t>(wide));
         break;
      case ORVA_DT_UINT32:
         m_content.uint32 = static_cast<uint32_t>(static_cast<uint64_t>(wide));
         break;
      default:
         m_content.int64 = wide;
         break;
   }
   m_dataType = static_cast<uint8_t>(dataType);
   return true;
}

void ORVA_Value::set(int32_t number)
{
   if (m_dataType >= ORVA_DT_OBJECT && m_dataType <= ORVA_DT_ITERATOR)
      releaseReference();
   if (m_string != nullptr)
      invalidateString();
   m_stringLength = 0;
   m_stringValid = false;
   m_textFormed = false;
   m_dataType = ORVA_DT_INT32;
   m_content.uint64 = 0;
   m_content.int32 = number;
}
