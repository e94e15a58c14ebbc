// Dotted IPv4 address text to a number, as inet_addr does it.
#include "platform/platform.h"

#include <arpa/inet.h>
#include <netinet/in.h>

namespace {
// Longer than any address form inet_aton accepts, with room for spaces and junk it rejects.
const size_t kMaxAddressText = 64;
}

// The text goes through the C library's inet_aton, so every form inet_addr accepts is
// accepted here (a, a.b, a.b.c, a.b.c.d with decimal, octal or hexadecimal parts). Text with
// a character outside ASCII, or longer than any address, is invalid: 0xFFFFFFFF, which is
// also the value of 255.255.255.255, exactly as with inet_addr.
uint32_t inet_addr_w(const wchar_t *text)
{
   if (text == nullptr)
      return 0xFFFFFFFF;
   char narrow[kMaxAddressText + 1];
   size_t length = 0;
   for (; text[length] != 0; length++)
   {
      if (length == kMaxAddressText || text[length] < 1 || text[length] > 127)
         return 0xFFFFFFFF;
      narrow[length] = static_cast<char>(text[length]);
   }
   narrow[length] = 0;

   struct in_addr address;
   if (inet_aton(narrow, &address) == 0)
      return 0xFFFFFFFF;
   return address.s_addr;
}
