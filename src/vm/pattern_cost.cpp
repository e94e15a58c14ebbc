// PatternCompileBytes: an iterative walk over the pattern (no recursion, so any nesting
// depth is safe) that combines the counts of the parts as TRE combines the parts.
#include "vm/pattern_cost.h"

#include <vector>

namespace {

// Bytes per set entry (position, character range, tags) and per transition (target,
// ranges, tag list), each with the allocator's overhead; measured against TRE 0.8 on
// patterns of nested repetitions, these keep the estimate above what it allocates.
constexpr double kBytesPerSetEntry = 96;
constexpr double kBytesPerTransition = 160;
// Bytes per node of the syntax tree TRE writes out (its copy, its tags and its parts of the
// position sets), which an empty part such as "()" or "^" costs even with no position.
constexpr double kBytesPerNode = 64;

// Counts kept as doubles: they only need to be roughly right, and they cannot overflow.
struct Part
{
   double positions = 0;
   double first = 0;       // positions a match may start with
   double last = 0;        // positions a match may end with
   double setEntries = 0;  // entries of the position sets TRE makes for the part
   double transitions = 0;
   double nodes = 0;
   bool empty = true;      // matches the empty text
};

// An empty match: "()", "^", "$", or what a repetition operator with nothing before it repeats.
Part emptyNode()
{
   Part part;
   part.setEntries = 4;
   part.nodes = 1;
   return part;
}

Part literal(double alternatives)
{
   Part part;
   part.positions = alternatives;
   part.first = alternatives;
   part.last = alternatives;
   part.setEntries = 4 * alternatives;
   part.nodes = 1;
   part.empty = false;
   return part;
}

Part concatenation(const Part &a, const Part &b)
{
   Part part;
   part.positions = a.positions + b.positions;
   part.first = a.empty ? a.first + b.first : a.first;
   part.last = b.empty ? a.last + b.last : b.last;
   part.setEntries = a.setEntries + b.setEntries + (a.empty ? part.first : 0) + (b.empty ? part.last : 0);
   part.transitions = a.transitions + b.transitions + a.last * b.first;
   part.nodes = a.nodes + b.nodes + 1;
   part.empty = a.empty && b.empty;
   return part;
}

Part alternation(const Part &a, const Part &b)
{
   Part part;
   part.positions = a.positions + b.positions;
   part.first = a.first + b.first;
   part.last = a.last + b.last;
   part.setEntries = a.setEntries + b.setEntries + part.first + part.last;
   part.transitions = a.transitions + b.transitions;
   part.nodes = a.nodes + b.nodes + 1;
   part.empty = a.empty || b.empty;
   return part;
}

// x* and x+ (max < 0), x? and x{0,1} (max 1): no copies; a loop links ends to starts.
Part loop(Part part, int min, int max)
{
   if (max < 0)
      part.transitions += part.last * part.first;
   part.nodes += 1;
   part.empty = part.empty || min == 0;
   return part;
}

// x{min,max} (max < 0: no upper bound) as TRE writes it out: min copies, then either one
// more copy under a star or max-min nested optional copies.
Part repetition(const Part &atom, int min, int max)
{
   if (min <= 1 && max <= 1)
      return loop(atom, min, max);
   Part sequence;
   bool haveSequence = false;
   for (int i = 0; i < min; i++)
   {
      sequence = haveSequence ? concatenation(sequence, atom) : atom;
      haveSequence = true;
   }
   Part tail;
   bool haveTail = false;
   if (max < 0)
   {
      tail = loop(atom, 0, -1);
      haveTail = true;
   }
   for (int i = min; i < max; i++)
   {
      tail = alternation(emptyNode(), haveTail ? concatenation(atom, tail) : atom);
      haveTail = true;
   }
   if (haveSequence && haveTail)
      return concatenation(sequence, tail);
   return haveSequence ? sequence : tail;
}

// One level of parentheses: the alternatives finished so far, the concatenation of the
// current alternative, and its last atom, which a repetition operator applies to.
struct Level
{
   Part alternatives;
   bool haveAlternatives = false;
   Part sequence = emptyNode();
   Part atom;
   bool haveAtom = false;

   void flushAtom()
   {
      if (haveAtom)
         sequence = concatenation(sequence, atom);
      haveAtom = false;
   }
   // A repetition operator with nothing before it repeats the empty match, as TRE reads it.
   void needAtom()
   {
      if (!haveAtom)
         push(emptyNode());
   }
   void push(const Part &part)
   {
      flushAtom();
      atom = part;
      haveAtom = true;
   }
   Part finish()
   {
      flushAtom();
      return haveAlternatives ? alternation(alternatives, sequence) : sequence;
   }
};

// Reads a bound "{m}", "{m,}" or "{m,n}" starting at pattern[*i] ('{'); false when it
// holds anything else. *i ends on the '}'.
bool readBound(const wchar_t *pattern, uint32_t length, uint32_t *i, int *min, int *max)
{
   int numbers[2] = {0, -1};
   int which = 0;
   bool digits = false;
   uint32_t j = *i + 1;
   for (; j < length && pattern[j] != L'}'; j++)
   {
      const wchar_t c = pattern[j];
      if (c >= L'0' && c <= L'9')
      {
         if (numbers[which] < 0)
            numbers[which] = 0;
         if (numbers[which] < 100000)
            numbers[which] = numbers[which] * 10 + static_cast<int>(c - L'0');
         digits = true;
      }
      else if (c == L',' && which == 0)
         which = 1;
      else if (c != L' ')
         return false;
   }
   if (j >= length || !digits)
      return false;
   *min = numbers[0];
   *max = (which == 0) ? numbers[0] : numbers[1];
   *i = j;
   return true;
}

// The members of the bracket expression opened at pattern[*i] ('['); *i ends on its ']'
// (or the end of the pattern). A negated set is written as the ranges between its
// members, one more than the members.
double bracketAlternatives(const wchar_t *pattern, uint32_t length, uint32_t *i)
{
   uint32_t j = *i + 1;
   double members = 0;
   const bool negated = j < length && pattern[j] == L'^';
   if (negated)
      j++;
   if (j < length && pattern[j] == L']')
   {
      members++;
      j++;
   }
   for (; j < length && pattern[j] != L']'; j++)
   {
      if (pattern[j] == L'[' && j + 1 < length && (pattern[j + 1] == L':' || pattern[j + 1] == L'=' || pattern[j + 1] == L'.'))
      {
         const wchar_t closing = pattern[j + 1];
         for (j += 2; j + 1 < length && !(pattern[j] == closing && pattern[j + 1] == L']'); j++)
            ;
         j++;
      }
      members++;
   }
   *i = j;
   return (members < 1 ? 1 : members) + (negated ? 1 : 0);
}

}  // namespace

double PatternCompileBytes(const wchar_t *pattern, uint32_t length)
{
   std::vector<Level> levels(1);
   for (uint32_t i = 0; i < length; i++)
   {
      Level &level = levels.back();
      const wchar_t c = pattern[i];
      int min = 0;
      int max = -1;
      switch (c)
      {
         case L'(':
            levels.emplace_back();
            break;
         case L')':
            if (levels.size() > 1)
            {
               const Part group = levels.back().finish();
               levels.pop_back();
               levels.back().push(group);
            }
            else
               level.push(literal(1));
            break;
         case L'|':
            level.alternatives = level.haveAlternatives ? alternation(level.alternatives, level.finish()) : level.finish();
            level.haveAlternatives = true;
            level.sequence = emptyNode();
            break;
         case L'*':
         case L'+':
         case L'?':
            min = (c == L'+') ? 1 : 0;
            max = (c == L'?') ? 1 : -1;
            level.needAtom();
            level.atom = loop(level.atom, min, max);
            break;
         case L'{':
            if (!readBound(pattern, length, &i, &min, &max))
               return -1;
            level.needAtom();
            level.atom = repetition(level.atom, min, max);
            break;
         case L'^':
         case L'$':
            level.push(emptyNode());
            break;
         case L'[':
            level.push(literal(bracketAlternatives(pattern, length, &i)));
            break;
         case L'.':
            level.push(literal(2));
            break;
         case L'\\':
            i++;
            level.push(literal(1));
            break;
         default:
            level.push(literal(1));
            break;
      }
   }
   Part whole;
   while (!levels.empty())
   {
      whole = levels.back().finish();
      levels.pop_back();
      if (!levels.empty())
         levels.back().push(whole);
   }
   return whole.setEntries * kBytesPerSetEntry + whole.transitions * kBytesPerTransition + whole.positions * 64 +
          whole.nodes * kBytesPerNode;
}
