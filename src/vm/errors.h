// Runtime errors of the virtual machine: the one table of messages and the one formatter
// of error texts. Every runtime error the engine, the operator dispatch or a function
// handler raises goes through ORVA_Program::error, which uses these two functions.
#ifndef ORVA_VM_ERRORS_H
#define ORVA_VM_ERRORS_H

#include <cstddef>
#include <cwchar>

// Room for one error text, terminator included; longer texts are cut to fit.
constexpr size_t kErrorTextSize = 1024;

// The message for a runtime error code; "Unknown error code" for codes outside 1..26 and
// 28..33.
const wchar_t *GetRuntimeErrorMessage(int code);

// Writes "Error <code> in line <line>: <message>" into buffer (size wide characters,
// terminator included). A text that does not fit is cut off at the end and still
// terminated. Returns the number of characters written, without the terminator.
size_t FormatRuntimeError(wchar_t *buffer, size_t size, int code, int line);

#endif
