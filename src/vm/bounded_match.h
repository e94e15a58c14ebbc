// Regular-expression matching that the run's step limit and interrupt requests can stop.
//
// TRE reads the subject through callbacks (a tre_str_source), so every character its
// matcher reads, and reads again after backtracking, is counted. Each character counts as
// one instruction of the run: the count is charged to the run in blocks (and the rest when
// the match ends), and when a charge says stop (the step limit is spent, an interrupt was
// requested) the reader tells TRE the subject has ended, so that it gives up at once. The
// match result is then thrown away and the run stops with that error.
#ifndef ORVA_VM_BOUNDED_MATCH_H
#define ORVA_VM_BOUNDED_MATCH_H

#include <cstddef>
#include <cstdint>
#include <cwchar>
#include <string>

#include <tre/tre.h>

#include <orva.h>

// Whether a pattern may hold a back reference ("\1" to "\9"), which makes TRE use its
// backtracking matcher; a bracket expression holding such an escape counts too, which is
// harmless.
bool HasBackReference(const wchar_t *pattern, uint32_t length);

// The pattern a back-reference pattern is compiled from for BoundedMatch: the same
// language, except that no part of it accepts a zero character (see bounded_match.cpp).
std::wstring NoZeroPattern(const wchar_t *pattern, uint32_t length);

// Whether a back-reference match must be searched over the plain text (with
// tre_regwnexec, unbounded) because the pattern or the subject holds a zero character.
bool NeedsPlainSearch(const wchar_t *pattern, uint32_t patternLength, const wchar_t *subject, uint32_t length);

// Matches subject (length characters) against expression with room for nmatch records in
// groups. backReferences: the expression was compiled from NoZeroPattern of a pattern with
// back references. Returns 1 for a match, 0 for none, or -1 when the run must stop;
// *stopCode then holds the error to raise (ORVA_ERR_STEP_LIMIT or ORVA_ERR_INTERRUPTED).
int BoundedMatch(ORVA_Program *program, const regex_t *expression, bool backReferences, const wchar_t *subject,
                 uint32_t length, size_t nmatch, regmatch_t *groups, int *stopCode);

#endif
