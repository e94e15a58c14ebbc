// Test helper: switches the process to a locale whose decimal separator is a comma, the way
// a host calling setlocale(LC_ALL, "") in Germany would, so tests can show that ORVA's
// number texts do not follow the host's locale. When no such locale is installed, one is
// compiled with localedef into a temporary folder. Returns false when neither works.
#ifndef ORVA_TEST_COMMA_LOCALE_H
#define ORVA_TEST_COMMA_LOCALE_H

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

inline bool hasCommaDecimal()
{
   const struct lconv *conventions = localeconv();
   return conventions != nullptr && strcmp(conventions->decimal_point, ",") == 0;
}

inline bool useCommaDecimalLocale()
{
   static const char *const kCandidates[] = {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8"};
   for (const char *name : kCandidates)
   {
      if (setlocale(LC_ALL, name) != nullptr && hasCommaDecimal())
         return true;
   }

   char folder[] = "/tmp/orva-locale-XXXXXX";
   if (mkdtemp(folder) == nullptr)
      return false;
   std::string command = std::string("localedef -i de_DE -f UTF-8 ") + folder + "/de_DE.UTF-8 >/dev/null 2>&1";
   if (system(command.c_str()) != 0)
      return false;
   setenv("LOCPATH", folder, 1);
   bool ok = setlocale(LC_ALL, "de_DE.UTF-8") != nullptr && hasCommaDecimal();
   // The loaded locale stays mapped; its files are no longer needed.
   std::string cleanup = std::string("rm -rf ") + folder;
   if (system(cleanup.c_str()) != 0)
      fprintf(stderr, "could not remove %s\n", folder);
   return ok;
}

// Restores the "C" locale when a test ends.
struct CommaLocaleScope
{
   bool active = useCommaDecimalLocale();
   ~CommaLocaleScope() { setlocale(LC_ALL, "C"); }
};

#endif
