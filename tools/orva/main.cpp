// orva: compile and run ORVA scripts from the command line.
//
// This is the reference host: it uses only the public API (orva.h) and shows what every
// embedder does — compile, attach an environment, run with arguments, report errors.
#include <orva.h>

#include <dirent.h>
#include <getopt.h>
#include <strings.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <clocale>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

const char kUsage[] =
   "usage: orva [options] FILE [ARG...]\n"
   "       orva [options] -e TEXT [ARG...]\n"
   "\n"
   "Compiles and runs an ORVA script. Each ARG becomes an argument of the script ($1, $2, ...).\n"
   "FILE may be - to read the script from standard input. Options come before FILE or -e TEXT;\n"
   "every word after FILE or TEXT is an ARG, even one that starts with - (a negative number).\n"
   "\n"
   "options:\n"
   "  -e TEXT            run TEXT instead of a file\n"
   "  -L, --library DIR  compile every *.orva file in DIR into the script library, so that\n"
   "                     'use NAME;' finds DIR/NAME.orva first\n"
   "      --entry NAME   start at function NAME instead of main (or the top-level code)\n"
   "      --check        compile only and report errors\n"
   "      --dump         write the compiled program's listing to standard output; do not run\n"
   "      --max-steps N  stop the script after N instructions\n"
   "      --max-text N   stop the script when it makes a text longer than N characters\n"
   "      --max-array N  stop the script when an array would hold more than N elements\n"
   "      --timeout SECONDS  stop the script after SECONDS of wall-clock time (decimals allowed)\n"
   "  -h, --help         show this help\n"
   "      --version      show the version\n"
   "\n"
   "Exit status: 2 on a usage error (unknown option, bad value, no script); 1 on a compile\n"
   "or runtime error; otherwise 0, or the low 8 bits of the script's result when it is an\n"
   "integer (exit 3; or return 3; at top level).\n";

struct Options
{
   std::string inlineText;
   bool haveInlineText = false;
   std::string libraryDir;
   std::string entry;
   bool check = false;
   bool dump = false;
   std::string scriptName;      // file name, "-" or "-e"
   std::vector<std::string> args;
   ORVA_RunLimits limits;       // all 0: no limits
   double timeoutSeconds = 0;   // 0: no timeout
};

// Reads a whole non-negative number that fits `max`; false for anything else.
bool parseCount(const char *text, uint64_t max, uint64_t &value)
{
   char *end = nullptr;
   errno = 0;
   unsigned long long n = std::strtoull(text, &end, 10);
   if (*text < '0' || *text > '9' || *end != 0 || errno != 0 || n > max)
      return false;
   value = n;
   return true;
}

// UTF-8 to wide text, decoded by the library as it decodes script files (a value made from
// UTF-8 text keeps the decoded text as its text form): each invalid sequence becomes U+FFFD
// and the characters around it are kept, so a script reads the same from a file, standard
// input or -e.
std::wstring toWide(const std::string &text)
{
   ORVA_Value value(text.c_str());
   uint32_t length = 0;
   const wchar_t *wide = value.getValueAsString(&length);
   return std::wstring(wide != nullptr ? wide : L"", length);
}

std::string toNarrow(const wchar_t *text)
{
   std::string result;
   if (text == nullptr)
      return result;
   std::mbstate_t state{};
   char buffer[MB_LEN_MAX];
   for (; *text != 0; text++)
   {
      size_t n = std::wcrtomb(buffer, *text, &state);
      if (n == static_cast<size_t>(-1))
         result += '?';
      else
         result.append(buffer, n);
   }
   return result;
}

void reportError(const std::string &where, const std::string &text)
{
   std::fflush(stdout);
   std::cerr << where << ": " << text << std::endl;
}

int badOption(const char *option, const char *value)
{
   std::cerr << "orva: invalid value for " << option << ": " << value << "\n" << kUsage;
   return 2;
}

// Parses the command line; returns -1 to go on, or an exit status.
int parseOptions(int argc, char **argv, Options &options)
{
   enum { kEntry = 1000, kCheck, kDump, kVersion, kMaxSteps, kMaxText, kMaxArray, kTimeout };
   static const struct option longOptions[] = {
      {"library", required_argument, nullptr, 'L'},
      {"entry", required_argument, nullptr, kEntry},
      {"check", no_argument, nullptr, kCheck},
      {"dump", no_argument, nullptr, kDump},
      {"help", no_argument, nullptr, 'h'},
      {"version", no_argument, nullptr, kVersion},
      {"max-steps", required_argument, nullptr, kMaxSteps},
      {"max-text", required_argument, nullptr, kMaxText},
      {"max-array", required_argument, nullptr, kMaxArray},
      {"timeout", required_argument, nullptr, kTimeout},
      {nullptr, 0, nullptr, 0}};

   int c;
   uint64_t n = 0;
   char *end = nullptr;
   // '+': stop at the script name, so the script's own arguments may start with '-'.
   while (!options.haveInlineText && (c = getopt_long(argc, argv, "+e:L:h", longOptions, nullptr)) != -1)
   {
      switch (c)
      {
         case 'e':
            // -e TEXT takes the place of FILE: what follows are the script's arguments.
            options.inlineText = optarg;
            options.haveInlineText = true;
            break;
         case 'L': options.libraryDir = optarg; break;
         case kEntry: options.entry = optarg; break;
         case kCheck: options.check = true; break;
         case kDump: options.dump = true; break;
         case 'h': std::cout << kUsage; return 0;
         case kVersion: std::cout << "orva " << ORVAGetVersion() << std::endl; return 0;
         case kMaxSteps:
            if (!parseCount(optarg, UINT64_MAX, n))
               return badOption("--max-steps", optarg);
            options.limits.maxSteps = n;
            break;
         case kMaxText:
            if (!parseCount(optarg, UINT32_MAX, n))
               return badOption("--max-text", optarg);
            options.limits.maxTextLength = static_cast<uint32_t>(n);
            break;
         case kMaxArray:
            if (!parseCount(optarg, UINT32_MAX, n))
               return badOption("--max-array", optarg);
            options.limits.maxArrayElements = static_cast<uint32_t>(n);
            break;
         case kTimeout:
            options.timeoutSeconds = std::strtod(optarg, &end);
            if (end == optarg || *end != 0 || !(options.timeoutSeconds >= 0 && options.timeoutSeconds <= 1e9))
               return badOption("--timeout", optarg);
            break;
         default: std::cerr << kUsage; return 2;
      }
   }
   if (!options.haveInlineText)
   {
      if (optind >= argc)
      {
         std::cerr << kUsage;
         return 2;
      }
      options.scriptName = argv[optind++];
   }
   else
   {
      options.scriptName = "-e";
   }
   options.args.assign(argv + optind, argv + argc);
   return -1;
}

// Reads the script text; returns false (after reporting) when it cannot.
bool loadScript(const Options &options, std::wstring &source)
{
   if (options.haveInlineText)
   {
      source = toWide(options.inlineText);
      return true;
   }
   if (options.scriptName == "-")
   {
      std::string text((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
      std::replace(text.begin(), text.end(), '\0', ' ');
      source = toWide(text);
      return true;
   }
   uint32_t size = 0;
   errno = 0;
   wchar_t *text = ORVALoadFile(toWide(options.scriptName).c_str(), &size);
   if (text == nullptr)
   {
      // A folder or a device opens without an error but is no script file.
      reportError(options.scriptName,
                  std::string("cannot read file: ") + (errno != 0 ? std::strerror(errno) : "not a regular file"));
      return false;
   }
   source = text;
   std::free(text);
   return true;
}

ORVA_Program *compile(const std::wstring &source, const std::string &where)
{
   wchar_t errorText[1024];
   ORVA_Program *program = ORVACompile(source.c_str(), errorText, 1024);
   if (program == nullptr)
      reportError(where, toNarrow(errorText));
   return program;
}

// Compiles every *.orva file of a folder into a library, ids in file-name order.
// Returns null (after reporting) when a module does not compile.
ORVA_Library *loadLibrary(const std::string &folder)
{
   DIR *dir = opendir(folder.c_str());
   if (dir == nullptr)
   {
      reportError(folder, std::string("cannot open library folder: ") + std::strerror(errno));
      return nullptr;
   }
   std::vector<std::string> files;
   while (struct dirent *entry = readdir(dir))
   {
      std::string name = entry->d_name;
      if (name.size() > 5 && name.compare(name.size() - 5, 5, ".orva") == 0)
         files.push_back(name);
   }
   closedir(dir);
   std::sort(files.begin(), files.end());

   ORVA_Library *library = new ORVA_Library();
   uint32_t id = 0;
   for (const std::string &file : files)
   {
      std::string path = folder + "/" + file;
      uint32_t size = 0;
      wchar_t *text = ORVALoadFile(toWide(path).c_str(), &size);
      ORVA_Program *module = text != nullptr ? compile(text, path) : nullptr;
      std::free(text);
      if (module == nullptr)
      {
         delete library;
         return nullptr;
      }
      std::wstring name = toWide(file.substr(0, file.size() - 5));
      if (!library->addScript(++id, name.c_str(), module))
         delete module;   // a name that differs only in case from an earlier file
   }
   return library;
}

// A run failed because a module could not be loaded: say why, since the library's own
// error text cannot.
void explainModuleFailure(const wchar_t *name, ORVA_Library *library)
{
   if (library != nullptr && library->findScript(name) != nullptr)
      return;
   std::string file = toNarrow(name) + ".orva";
   uint32_t size = 0;
   wchar_t *text = ORVALoadFile(toWide(file).c_str(), &size);
   if (text == nullptr)
   {
      reportError(file, "module not found");
      return;
   }
   ORVA_Program *module = compile(text, file);
   std::free(text);
   delete module;
}

// The file that holds a module's code: DIR/NAME.orva when the library (-L DIR) has it (the
// name matched ignoring case, as use does), else NAME.orva in the current directory.
std::string moduleFile(const std::wstring &module, const Options &options, ORVA_Library *library)
{
   std::string name = toNarrow(module.c_str());
   if (library == nullptr || library->findScript(module.c_str()) == nullptr)
      return name + ".orva";
   if (DIR *dir = opendir(options.libraryDir.c_str()))
   {
      while (struct dirent *entry = readdir(dir))
      {
         std::string file = entry->d_name;
         if (file.size() == name.size() + 5 && strncasecmp(file.c_str(), name.c_str(), name.size()) == 0 &&
             file.compare(name.size(), 5, ".orva") == 0)
            name = file.substr(0, name.size());
      }
      closedir(dir);
   }
   return options.libraryDir + "/" + name + ".orva";
}

// "FILE: Error ..." with the file that holds the failing line, then the calls that led
// there (when there was a call), then what was missing.
void reportRuntimeError(ORVA_Program *program, const Options &options, ORVA_Library *library)
{
   const ORVA_ErrorInfo &info = program->getErrorInfo();
   auto fileOf = [&](const std::wstring &module) {
      return module.empty() ? options.scriptName : moduleFile(module, options, library);
   };
   reportError(fileOf(info.module), toNarrow(program->getErrorText()));
   // Deep recursion shows its first and last calls only.
   constexpr size_t kShownAtEachEnd = 10;
   const size_t frames = info.callStack.size();
   for (size_t i = 0; frames > 1 && i < frames; i++)
   {
      if (frames > 2 * kShownAtEachEnd && i == kShownAtEachEnd)
      {
         std::cerr << "  ... " << frames - 2 * kShownAtEachEnd << " more calls\n";
         i = frames - kShownAtEachEnd;
      }
      const ORVA_StackFrame &frame = info.callStack[i];
      std::cerr << "  at " << (frame.function == L"$main" ? "top level" : toNarrow(frame.function.c_str())) << " ("
                << fileOf(frame.module) << ":" << frame.line << ")\n";
   }
   const std::string name = toNarrow(info.name.c_str());
   if (info.code == ORVA_ERR_FUNCTION_NOT_FOUND)
      std::cerr << "  function not found: " << name << "\n";
   else if (info.code == ORVA_ERR_NO_MAIN)
      std::cerr << "  entry function not found: " << name << "\n";
   else if (info.code == ORVA_ERR_MODULE_NOT_FOUND)
      explainModuleFailure(info.name.c_str(), library);
}

int runProgram(ORVA_Program *program, const Options &options, ORVA_Library *library)
{
   ORVA_Environment *environment = new ORVA_Environment();
   environment->setIO(stdin, stdout);
   environment->setLibrary(library);

   std::vector<ORVA_Value *> args;
   for (const std::string &arg : options.args)
      args.push_back(new ORVA_Value(arg.c_str()));

   std::wstring entry = toWide(options.entry);
   program->setRunLimits(options.limits);

   // The timeout: a timer thread that interrupts the run unless the run ends first.
   std::mutex mutex;
   std::condition_variable finished;
   bool done = false;
   std::thread timer;
   if (options.timeoutSeconds > 0)
   {
      timer = std::thread([&] {
         std::unique_lock<std::mutex> lock(mutex);
         if (!finished.wait_for(lock, std::chrono::duration<double>(options.timeoutSeconds), [&] { return done; }))
            program->interrupt();
      });
   }

   // run takes over the environment and the argument values.
   int rc = program->run(environment, static_cast<uint32_t>(args.size()), args.data(), nullptr, nullptr,
                         nullptr, options.entry.empty() ? nullptr : entry.c_str());
   if (timer.joinable())
   {
      {
         std::lock_guard<std::mutex> lock(mutex);
         done = true;
      }
      finished.notify_one();
      timer.join();
   }
   std::fflush(stdout);
   if (rc != 0)
   {
      reportRuntimeError(program, options, library);
      return 1;
   }
   ORVA_Value *result = program->getResult();
   if (result != nullptr && result->isInteger())
      return result->getValueAsInt32() & 0xFF;
   return 0;
}

}  // namespace

int main(int argc, char **argv)
{
   // Script files and arguments are UTF-8 whatever the user's locale says.
   std::setlocale(LC_CTYPE, "C.UTF-8");

   Options options;
   int status = parseOptions(argc, argv, options);
   if (status >= 0)
      return status;

   std::wstring source;
   if (!loadScript(options, source))
      return 1;
   ORVA_Program *program = compile(source, options.scriptName);
   if (program == nullptr)
      return 1;

   if (options.dump)
      program->dump(stdout);
   if (options.dump || options.check)
   {
      delete program;
      return 0;
   }

   ORVA_Library *library = nullptr;
   if (!options.libraryDir.empty() && (library = loadLibrary(options.libraryDir)) == nullptr)
   {
      delete program;
      return 1;
   }
   status = runProgram(program, options, library);
   delete program;
   delete library;
   return status;
}
