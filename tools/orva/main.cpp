// orva: compile and run ORVA scripts from the command line.
//
// This is the reference host: it uses only the public API (orva.h) and shows what every
// embedder does — compile, attach an environment, run with arguments, report errors.
#include <orva.h>

#include <dirent.h>
#include <getopt.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <clocale>
#include <csignal>
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

#include "cli_text.h"
#include "library_folder.h"
#include "prompt.h"

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

// Shown by --help after the usage.
const char kPromptHelp[] =
   "\n"
   "Without FILE and with a terminal on standard input (or with -i) orva starts an\n"
   "interactive prompt: each entry runs when it is complete, an expression prints its\n"
   "value, variables and functions stay for later entries, Ctrl-C stops a running entry\n"
   "and Ctrl-D leaves. History: $XDG_STATE_HOME/orva/history, else ~/.orva_history.\n";

struct Options
{
   std::string inlineText;
   bool haveInlineText = false;
   std::string libraryDir;
   std::string entry;
   bool check = false;
   bool dump = false;
   bool interactive = false;    // the prompt: -i, or no FILE with a terminal on standard input
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
   while (!options.haveInlineText && (c = getopt_long(argc, argv, "+e:L:hi", longOptions, nullptr)) != -1)
   {
      switch (c)
      {
         case 'e':
            // -e TEXT takes the place of FILE: what follows are the script's arguments.
            options.inlineText = optarg;
            options.haveInlineText = true;
            break;
         case 'L': options.libraryDir = optarg; break;
         case 'i': options.interactive = true; break;
         case kEntry: options.entry = optarg; break;
         case kCheck: options.check = true; break;
         case kDump: options.dump = true; break;
         case 'h': std::cout << kUsage << kPromptHelp; return 0;
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
      if (optind >= argc && (options.interactive || isatty(STDIN_FILENO)))
      {
         options.interactive = true;
         return -1;
      }
      if (optind >= argc || options.interactive)
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

// Reads the script text as UTF-8 bytes; returns false (after reporting) when it cannot.
bool loadScript(const Options &options, std::string &source)
{
   if (options.haveInlineText)
   {
      source = options.inlineText;
      return true;
   }
   if (options.scriptName == "-")
   {
      source.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
      std::replace(source.begin(), source.end(), '\0', ' ');
      skipScriptHeader(source);
      return true;
   }
   if (!readScriptFile(options.scriptName, source))
   {
      // A folder or a device opens without an error but is no script file.
      reportError(options.scriptName,
                  std::string("cannot read file: ") + (errno != 0 ? std::strerror(errno) : "not a regular file"));
      return false;
   }
   skipScriptHeader(source);
   return true;
}

// The script's bytes are compiled as they are, so that an invalid byte outside a string
// literal is reported as the byte the file holds.
ORVA_Program *compile(const std::string &source, const std::string &where)
{
   wchar_t errorText[1024];
   ORVA_Program *program = ORVACompileUTF8(source.c_str(), errorText, 1024);
   if (program == nullptr)
      reportError(where, toNarrow(errorText));
   return program;
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
void reportRuntimeError(ORVA_Program *program, const Options &options, ORVA_Library *library,
                        const BrokenModules &broken)
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
      explainModuleFailure(program, library, broken);
}

// The environment of a script run from a file or -e: once standard output fails (a full
// disk) the run is stopped, as other tools stop at their first failed write, instead of
// letting a long or endless script write into the void.
class ScriptEnvironment : public ORVA_Environment
{
public:
   ScriptEnvironment(ORVA_Program *program, bool *outputFailed) : m_program(program), m_outputFailed(outputFailed) {}

   void print(ORVA_Value *value) override
   {
      ORVA_Environment::print(value);
      if (!*m_outputFailed && std::ferror(stdout))
      {
         *m_outputFailed = true;
         m_program->interrupt();
      }
   }

private:
   ORVA_Program *m_program;
   bool *m_outputFailed;
};

int runProgram(ORVA_Program *program, const Options &options, ORVA_Library *library, const BrokenModules &broken)
{
   bool outputFailed = false;
   ORVA_Environment *environment = new ScriptEnvironment(program, &outputFailed);
   environment->setIO(stdin, stdout);
   environment->setLibrary(library);
   addToolFunctions(environment, program, library);

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
   const bool written = flushOutput();
   if (rc != 0 && !outputFailed)
      reportRuntimeError(program, options, library, broken);
   if (rc != 0 || !written)
      return 1;
   ORVA_Value *result = program->getResult();
   if (result != nullptr && result->isInteger())
      return result->getValueAsInt32() & 0xFF;
   return 0;
}

// A program that only was checked or listed is not deleted: the process ends next, and
// the system takes its memory back at once, where deleting the millions of instructions
// of a large script one by one takes a tenth of its compile time. Held here, it stays
// reachable, so leak checkers do not report it.
ORVA_Program *g_programKeptUntilExit = nullptr;

void keepUntilExit(ORVA_Program *program)
{
   g_programKeptUntilExit = program;
}

int startPrompt(const Options &options)
{
   BrokenModules broken;
   PromptSettings settings;
   settings.broken = &broken;
   settings.limits = options.limits;
   if (!options.libraryDir.empty() && (settings.library = loadLibrary(options.libraryDir, broken)) == nullptr)
      return 1;
   int status = runPrompt(settings);
   delete settings.library;
   return status;
}

}  // namespace

int main(int argc, char **argv)
{
   // Script files and arguments are UTF-8 whatever the user's locale says.
   std::setlocale(LC_CTYPE, "C.UTF-8");
   // A reader that goes away (orva script | head -1) ends the script at its next write,
   // quietly, even when the parent left SIGPIPE ignored.
   std::signal(SIGPIPE, SIG_DFL);

   Options options;
   int status = parseOptions(argc, argv, options);
   if (status >= 0)
      return status;

   if (options.interactive)
      return startPrompt(options);

   std::string source;
   if (!loadScript(options, source))
      return 1;
   ORVA_Program *program = compile(source, options.scriptName);
   if (program == nullptr)
      return 1;

   if (options.dump)
      program->dump(stdout);
   if (options.dump || options.check)
   {
      keepUntilExit(program);
      return flushOutput() ? 0 : 1;
   }

   ORVA_Library *library = nullptr;
   BrokenModules broken;
   if (!options.libraryDir.empty() && (library = loadLibrary(options.libraryDir, broken)) == nullptr)
   {
      delete program;
      return 1;
   }
   status = runProgram(program, options, library, broken);
   delete program;
   delete library;
   return status;
}
