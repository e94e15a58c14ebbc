// Network built-ins: AddrInRange, AddrInSubnet and SecondsToUptime.
//
// Addresses are dotted IPv4 texts, converted with inet_addr_w and brought to host byte
// order, so they compare as unsigned 32-bit numbers with the first octet most significant.
// A text that is not an address converts to what inet_addr_w gives for it (0xFFFFFFFF) and
// is compared as that number.
#include <orva.h>

#include <arpa/inet.h>
#include <cwchar>

#include "env/builtins.h"
#include "platform/platform.h"

namespace {

constexpr uint64_t kSecondsPerDay = 86400;
constexpr uint64_t kSecondsPerHour = 3600;
constexpr uint64_t kSecondsPerMinute = 60;

// Room for the longest uptime text: 20 digits of days, the words and the clock.
constexpr size_t kUptimeBufferSize = 128;

// Both address functions check all three arguments before converting any.
int addresses(ORVA_Value **argv, uint32_t out[3])
{
   for (int i = 0; i < 3; i++)
   {
      if (!argv[i]->isString())
         return ORVA_ERR_NOT_A_STRING;
   }
   for (int i = 0; i < 3; i++)
      out[i] = ntohl(inet_addr_w(argv[i]->getValueAsCString()));
   return 0;
}

}  // namespace

// AddrInRange(address, first, last): 1 when first <= address <= last; a range whose first
// address is above its last contains nothing.
int builtinAddrInRange(int, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *)
{
   uint32_t address[3];
   int rc = addresses(argv, address);
   if (rc != 0)
      return rc;
   *result = new ORVA_Value(static_cast<int32_t>(address[1] <= address[0] && address[0] <= address[2]));
   return 0;
}

// AddrInSubnet(address, subnet, mask): 1 when address AND mask equals the subnet as given;
// the subnet is not masked, so one with host bits set matches nothing.
int builtinAddrInSubnet(int, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *)
{
   uint32_t address[3];
   int rc = addresses(argv, address);
   if (rc != 0)
      return rc;
   *result = new ORVA_Value(static_cast<int32_t>((address[0] & address[2]) == address[1]));
   return 0;
}

// SecondsToUptime(seconds): "D days, HH:MM" with the hours right-aligned in two places. A
// started minute counts as a whole one, so the minutes reach 60 (3599 seconds give
// "0 days,  0:60"). The argument is read as an unsigned 64-bit count (negative numbers
// become very large) and the day count is kept in 64 bits, so every argument gives its true
// day count and a meaningful clock part.
int builtinSecondsToUptime(int, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *)
{
   if (!argv[0]->isNumeric())
      return ORVA_ERR_BAD_ARITHMETIC_CONVERSION;
   uint64_t seconds = argv[0]->getValueAsUInt64();
   uint64_t days = seconds / kSecondsPerDay;
   uint64_t rest = seconds % kSecondsPerDay;
   auto hours = static_cast<unsigned>(rest / kSecondsPerHour);
   rest %= kSecondsPerHour;
   auto minutes = static_cast<unsigned>(rest / kSecondsPerMinute);
   if (rest % kSecondsPerMinute != 0)
      minutes++;

   wchar_t buffer[kUptimeBufferSize];
   int length = swprintf(buffer, kUptimeBufferSize, L"%llu days, %2u:%02u",
                         static_cast<unsigned long long>(days), hours, minutes);
   if (length < 0)
      length = 0;
   *result = new ORVA_Value(buffer, static_cast<uint32_t>(length));
   return 0;
}
