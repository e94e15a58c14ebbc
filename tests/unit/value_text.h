// A value's text as a test compares it: the characters it holds, zero characters
// included, or "(no text)" for a value without one.
#ifndef ORVA_TESTS_VALUE_TEXT_H
#define ORVA_TESTS_VALUE_TEXT_H

#include <orva.h>

#include <memory>
#include <string>

using ValuePtr = std::unique_ptr<ORVA_Value>;

inline std::wstring textOf(ORVA_Value *value)
{
   uint32_t length = 0;
   const wchar_t *text = value->getValueAsString(&length);
   return text != nullptr ? std::wstring(text, length) : L"(no text)";
}

#endif
