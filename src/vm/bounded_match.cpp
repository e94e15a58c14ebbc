// BoundedMatch: the subject reader TRE calls back, and the charging of what it reads.
//
// The end of the subject. TRE's parallel matcher (patterns without back references) stops
// where the reader says the subject has ended. Its backtracking matcher (patterns with back
// references) keeps that "ended" answer when it goes back to an earlier position and then
// wrongly gives up every path from there; so it is never told. Past the end it reads zero
// characters, which "$" takes for the end, and the pattern it runs is rewritten so that
// nothing else accepts a zero character: "." becomes "[^<zero>]" and a negated bracket
// expression gets a zero character added (NoZeroPattern). Subjects and patterns that hold a
// zero character of their own are searched over the plain text instead, without a bound.
#include "vm/bounded_match.h"

#include "vm/engine.h"

namespace {

// Characters read between two charges: rare enough to cost nothing measurable, often
// enough that an interrupt stops a match within a fraction of a millisecond.
constexpr uint32_t kChargeInterval = 4096;

struct SubjectReader
{
   ORVA_Program *program;
   const wchar_t *subject;
   size_t length;
   size_t position;
   // Characters read since the last charge.
   uint32_t uncharged;
   // 0 while the match may go on, else the error that stopped it.
   int stopCode;
   // Whether the end is reported (parallel matcher) or read as zero characters.
   bool reportEnd;

   // Charges what was read so far; false once the match has to stop.
   bool charge()
   {
      const int code = ChargeRunSteps(program, uncharged);
      uncharged = 0;
      if (code != 0)
         stopCode = code;
      return code == 0;
   }
};

// TRE's get_next_char: the next character and how far it moves the position (always one);
// a non-zero return says the subject has ended. A match that has to stop ends the subject
// for both matchers: the backtracking one then gives up at once, and its answer is dropped.
int readNext(tre_char_t *c, unsigned int *advance, void *context)
{
   auto *reader = static_cast<SubjectReader *>(context);
   *advance = 1;
   *c = 0;
   if (reader->stopCode != 0 || (++reader->uncharged == kChargeInterval && !reader->charge()))
      return 1;
   if (reader->position >= reader->length)
   {
      reader->position++;
      return reader->reportEnd ? 1 : 0;
   }
   *c = reader->subject[reader->position++];
   return 0;
}

// TRE's rewind, when the backtracking matcher goes back to an earlier position.
void rewindTo(size_t position, void *context)
{
   static_cast<SubjectReader *>(context)->position = position;
}

// TRE's compare for back references: 0 when the stretch at `second` (the position of the
// character read last) repeats the one at `first`. Comparing counts as reading the
// characters compared. After an equal stretch TRE moves its position past it and reads on
// without telling the reader, so the reader moves there itself. An empty stretch (also
// that of a group that took no part, whose start TRE passes as -1) is always equal.
int compareAt(size_t first, size_t second, size_t length, void *context)
{
   auto *reader = static_cast<SubjectReader *>(context);
   if (reader->stopCode != 0)
      return 1;
   if (length == 0)
   {
      reader->position = second;
      return 0;
   }
   if (first + length > reader->length || second + length > reader->length)
      return 1;
   reader->uncharged += static_cast<uint32_t>(length < kChargeInterval ? length : kChargeInterval);
   if (reader->uncharged >= kChargeInterval && !reader->charge())
      return 1;
   if (wmemcmp(reader->subject + first, reader->subject + second, length) != 0)
      return 1;
   reader->position = second + length;
   return 0;
}

bool holdsZero(const wchar_t *text, uint32_t length)
{
   return wmemchr(text, 0, length) != nullptr;
}

// The end of the bracket expression opened at pattern[start] ('['): the position of its
// closing ']', or length when it is not closed. A ']' right after the '[' or "[^" belongs
// to the set, and so do the insides of "[:class:]", "[=x=]" and "[.x.]".
uint32_t bracketEnd(const wchar_t *pattern, uint32_t length, uint32_t start)
{
   uint32_t i = start + 1;
   if (i < length && pattern[i] == L'^')
      i++;
   if (i < length && pattern[i] == L']')
      i++;
   for (; i < length; i++)
   {
      if (pattern[i] == L']')
         return i;
      if (pattern[i] == L'[' && i + 1 < length &&
          (pattern[i + 1] == L':' || pattern[i + 1] == L'=' || pattern[i + 1] == L'.'))
      {
         const wchar_t closing = pattern[i + 1];
         for (i += 2; i + 1 < length && !(pattern[i] == closing && pattern[i + 1] == L']'); i++)
            ;
         i++;
      }
   }
   return length;
}

}  // namespace

bool HasBackReference(const wchar_t *pattern, uint32_t length)
{
   for (uint32_t i = 0; i + 1 < length; i++)
   {
      if (pattern[i] == L'\\')
      {
         if (pattern[i + 1] >= L'1' && pattern[i + 1] <= L'9')
            return true;
         i++;
      }
   }
   return false;
}

std::wstring NoZeroPattern(const wchar_t *pattern, uint32_t length)
{
   std::wstring rewritten;
   rewritten.reserve(length + 8);
   for (uint32_t i = 0; i < length; i++)
   {
      const wchar_t c = pattern[i];
      if (c == L'\\' && i + 1 < length)
      {
         rewritten.append(pattern + i, 2);
         i++;
      }
      else if (c == L'.')
      {
         rewritten.append(L"[^", 2);
         rewritten.push_back(0);
         rewritten.push_back(L']');
      }
      else if (c == L'[')
      {
         const uint32_t end = bracketEnd(pattern, length, i);
         if (end == length)
         {
            // Not closed: TRE refuses it as it is.
            rewritten.append(pattern + i, length - i);
            break;
         }
         const bool negated = pattern[i + 1] == L'^';
         // A '-' just before the ']' is a member, not a range; the zero goes before it.
         const uint32_t insertAt = (negated && pattern[end - 1] == L'-' && end - 1 > i + 2) ? end - 1 : end;
         rewritten.append(pattern + i, insertAt - i);
         if (negated)
            rewritten.push_back(0);
         rewritten.append(pattern + insertAt, end + 1 - insertAt);
         i = end;
      }
      else
      {
         rewritten.push_back(c);
      }
   }
   return rewritten;
}

int BoundedMatch(ORVA_Program *program, const regex_t *expression, bool backReferences, const wchar_t *subject,
                 uint32_t length, size_t nmatch, regmatch_t *groups, int *stopCode)
{
   *stopCode = 0;
   SubjectReader reader{program, subject, length, 0, 0, 0, !backReferences};
   const tre_str_source source{readNext, rewindTo, compareAt, &reader};
   const int rc = tre_reguexec(expression, &source, nmatch, groups, 0);
   if (reader.stopCode == 0)
      reader.charge();
   *stopCode = reader.stopCode;
   if (reader.stopCode != 0)
      return -1;
   return rc == 0 ? 1 : 0;
}

bool NeedsPlainSearch(const wchar_t *pattern, uint32_t patternLength, const wchar_t *subject, uint32_t length)
{
   return holdsZero(pattern, patternLength) || holdsZero(subject, length);
}
