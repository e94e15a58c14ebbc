// Script files as the compiler reads them: the file's UTF-8 bytes, with zero bytes read as
// spaces so that they cannot end the text early.
#ifndef ORVA_COMPILER_SOURCE_FILE_H
#define ORVA_COMPILER_SOURCE_FILE_H

#include <cstdint>

// The bytes of a regular file, zero-terminated and malloc'ed, or null (no such file, not a
// regular file, more than 4 GB, a read error, no memory). The file's size in bytes is
// written to *size (when size is not null) before the file is read.
char *ORVAReadSourceFile(const wchar_t *fileName, uint32_t *size);

#endif
