// What compiling a regular expression will cost TRE, worked out from the pattern text
// before TRE is asked, so that a pattern a script writes cannot take gigabytes of memory.
//
// TRE writes every bounded repetition out in full: x{m,n} becomes m copies of x followed
// by n-m nested optional copies, so nested repetitions multiply. Its compiler then gives
// every node of the written-out expression the sets of positions it may start and end
// with, copying the sets as it goes up (a chain of optional copies makes sets growing
// with the chain, quadratic in its length), and makes one transition for every pair of an
// end position of one part and a start position of the next. The estimate follows those
// steps on the counts alone: for each part, how many positions, start and end positions
// it has, whether it matches the empty text, and how many set entries and transitions
// TRE makes for it.
#ifndef ORVA_VM_PATTERN_COST_H
#define ORVA_VM_PATTERN_COST_H

#include <cstdint>
#include <cwchar>

// The estimated bytes TRE allocates compiling the extended regular expression, or a
// negative number for a pattern refused outright: a bound holding anything but digits, a
// comma and blanks (TRE reads "{+1}", "{~2}", "{#1}" or "{1<2}" as approximate-matching
// costs, which are not part of extended regular expressions, and crashes compiling them
// inside a repeated group).
double PatternCompileBytes(const wchar_t *pattern, uint32_t length);

#endif
