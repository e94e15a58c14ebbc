// Fuzz target: ORVACompile on arbitrary bytes.
//
// The input is read as UTF-8 (each bad sequence becomes U+FFFD, as for a script file) and
// compiled. A program that compiles is listed with dump, which walks every instruction and
// operand the parser and the optimizer produced. Nothing runs: run_fuzzer does that.
#include <orva.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/platform.h"

namespace {

FILE *nullStream()
{
   static FILE *stream = fopen("/dev/null", "w");
   return stream;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
   std::string bytes(reinterpret_cast<const char *>(data), size);
   wchar_t *source = WideStringFromUTF8String(bytes.c_str());
   if (source == nullptr)
      return 0;

   wchar_t errorText[256];
   ORVA_Program *program = ORVACompile(source, errorText, 256);
   free(source);
   if (program != nullptr)
   {
      if (nullStream() != nullptr)
         program->dump(nullStream());
      delete program;
   }
   return 0;
}
