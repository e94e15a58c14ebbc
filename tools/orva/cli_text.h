// Text and messages of the orva command: scripts and arguments are UTF-8 whatever the
// locale says, and everything but script output goes to standard error.
#ifndef ORVA_TOOLS_CLI_TEXT_H
#define ORVA_TOOLS_CLI_TEXT_H

#include <string>

// UTF-8 to wide text, decoded as the library decodes script files.
std::wstring toWide(const std::string &text);
// Wide text to the C library's multibyte form; unconvertible characters become '?'.
std::string toNarrow(const wchar_t *text);

// Writes "WHERE: TEXT" to standard error after the script output written so far.
void reportError(const std::string &where, const std::string &text);

// Reads a regular file's bytes, zero bytes read as spaces as the library reads scripts;
// false with errno set (0: not a regular file) when it cannot.
bool readScriptFile(const std::string &path, std::string &bytes);

// Drops what a script file may start with that is not ORVA: a UTF-8 byte-order mark and
// a "#!" interpreter line. The line's end stays, so line numbers in errors stay right.
void skipScriptHeader(std::string &source);

// Flushes standard output; false (after reporting why) when any write to it failed.
bool flushOutput();

#endif
