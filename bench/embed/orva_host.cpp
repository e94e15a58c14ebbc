// Calls an ORVA handler the way a host does on every event: the program is compiled once;
// each event gets a new environment with the host's one function, new argument values and
// a run of the entry function onEvent, whose integer result the host reads.
#include <orva.h>

#include <cstring>
#include <cwchar>
#include <string>

#include "events.h"

// classify(user, octet): a host function the handler calls once per event.
static int classify(int, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *)
{
   const wchar_t *user = argv[0]->getValueAsCString();
   const wchar_t *octet = argv[1]->getValueAsCString();
   if (user == nullptr || octet == nullptr)
      return ORVA_ERR_NOT_A_STRING;
   *result = new ORVA_Value(static_cast<int32_t>(wcslen(user) * 3 + wcstol(octet, nullptr, 10)));
   return 0;
}

static const ORVA_ExtFunction s_hostFunctions[] = { { L"classify", classify, 2 } };

static wchar_t s_lines[LINE_POOL][TEXT_SIZE];
static wchar_t s_addresses[ADDRESS_POOL][TEXT_SIZE];

static void widenEvents()
{
   for (int k = 0; k < LINE_POOL; k++)
      swprintf(s_lines[k], TEXT_SIZE, L"%s", g_lines[k]);
   for (int k = 0; k < ADDRESS_POOL; k++)
      swprintf(s_addresses[k], TEXT_SIZE, L"%s", g_addresses[k]);
}

int main(int argc, char **argv)
{
   long events = eventCount(argc, argv);
   makeEvents();
   widenEvents();
   char *text = readSource(argv[1]);
   std::wstring source(text, text + strlen(text));   // the handler is ASCII
   free(text);
   wchar_t error[1024];
   ORVA_Program *program = ORVACompile(source.c_str(), error, 1024);
   if (program == nullptr)
   {
      fprintf(stderr, "%ls\n", error);
      return 2;
   }

   long checksum = 0;
   double start = now();
   for (long i = 0; i < events; i++)
   {
      ORVA_Environment *environment = new ORVA_Environment();
      environment->registerFunctionSet(1, s_hostFunctions);
      ORVA_Value *args[] = { new ORVA_Value(static_cast<int32_t>(i)),
                             new ORVA_Value(s_lines[i % LINE_POOL]),
                             new ORVA_Value(s_addresses[(i * 7) % ADDRESS_POOL]) };
      if (program->run(environment, 3, args, nullptr, nullptr, nullptr, L"onEvent") != 0)
      {
         fprintf(stderr, "%ls\n", program->getErrorText());
         return 1;
      }
      checksum = (checksum + program->getResult()->getValueAsInt64()) % 1000003;
   }
   report(events, checksum, now() - start);
   delete program;
   return 0;
}
