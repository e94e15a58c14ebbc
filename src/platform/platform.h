// ORVA's small platform layer: the text conversions, number parsing, wildcard matching and
// helpers the rest of the library calls. Every string or block returned here is allocated
// with malloc and released by the caller with free.
#ifndef ORVA_PLATFORM_H
#define ORVA_PLATFORM_H

#include <cstddef>
#include <cstdint>
#include <cwchar>

// A FIFO queue of untyped pointers; it does not own what it stores.
class Queue
{
public:
   Queue();
   ~Queue();
   Queue(const Queue &) = delete;
   Queue &operator=(const Queue &) = delete;

   void Put(void *item);
   // Oldest stored pointer, removed; null when the queue is empty.
   void *Get();
   int Size() const;

private:
   void **m_items;
   int m_head;
   int m_count;
   int m_capacity;
};

// Wildcard match: '*' any run of characters (also none), '?' exactly one character,
// anything else itself. matchCase false folds with towlower. O(pattern x text) worst case.
bool MatchString(const wchar_t *pattern, const wchar_t *text, bool matchCase);

// UTF-8 <-> wide conversions. Invalid UTF-8 becomes U+FFFD; a wchar_t that is not a Unicode
// scalar value is written as U+FFFD. A null argument gives null.
wchar_t *WideStringFromUTF8String(const char *text);
wchar_t *WideStringFromMBString(const char *text);   // the multibyte code page is UTF-8
char *UTF8StringFromWideString(const wchar_t *text);
// Explicit-length form: encodes length characters (zero characters included) and reports
// the byte count through *outLength (which may be null).
char *UTF8StringFromWideStringN(const wchar_t *text, size_t length, size_t *outLength);

// Locale-independent strtoll/strtoull/wcstoll (base rules of the C functions).
int64_t qv_strtoll(const char *text, char **end, int base);
uint64_t qv_strtoull(const char *text, char **end, int base);
int64_t qv_wcstoll(const wchar_t *text, wchar_t **end, int base);
// Locale-independent wcstod/strtod (always '.' as decimal point).
double qv_wcstod(const wchar_t *text, wchar_t **end);
// The length of the real qv_wcstod reads at the start of text (0: none), without
// converting it: lets a caller that wants the whole text to be a number skip the
// conversion of one that is not.
size_t qv_wcsrealspan(const wchar_t *text);
double qv_strtod(const char *text, char **end);

// Dotted IPv4 address to a 32-bit number in network byte order; 0xFFFFFFFF for bad text.
uint32_t inet_addr_w(const wchar_t *text);

void *qv_memdup(const void *data, size_t size);
wchar_t *qv_wcsdup(const wchar_t *text);
// Case-insensitive comparison folding only A-Z onto a-z, whatever the locale.
int qv_wcsicmp(const wchar_t *a, const wchar_t *b);

#endif
