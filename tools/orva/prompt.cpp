// The interactive prompt: each entry is compiled and run on its own, and the session
// carries what earlier entries made.
//
// Variables. The top-level code of an entry keeps its variables in the run's local set,
// which the run releases, so the prompt makes every variable that an entry's top-level
// code assigns a global of that run before it starts; run hands the global set back, and
// the next entry starts with those variables as its globals. Functions (and `sub` bodies)
// are not scanned: their variables stay their own.
//
// Functions. An entry that defines functions goes into the session's script library under
// a name of its own, and later entries "use" every such entry, newest first, so that a
// function defined again replaces the earlier one. Modules' top-level code does not run,
// so nothing of an old entry runs again.
//
// Ctrl-C. While an entry runs, SIGINT asks the program to stop (interrupt); at the prompt
// it drops the line being typed.
#include "prompt.h"

#include <editline/readline.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "cli_text.h"

namespace {

std::atomic<ORVA_Program *> g_running{nullptr};
volatile sig_atomic_t g_interrupted = 0;

void onInterrupt(int)
{
   g_interrupted = 1;
   // interrupt() is a lock-free atomic store: safe in a signal handler.
   if (ORVA_Program *program = g_running.load())
      program->interrupt();
}

std::string historyFile()
{
   const char *state = std::getenv("XDG_STATE_HOME");
   if (state != nullptr && *state != 0)
      return std::string(state) + "/orva/history";
   const char *home = std::getenv("HOME");
   return std::string(home != nullptr ? home : ".") + "/.orva_history";
}

// One line from the terminal through libedit's callback interface, so that the wait for
// input is a poll this code controls: a Ctrl-C interrupts it and drops the line.
enum class LineResult { Line, Interrupted, End };

char *g_line = nullptr;
bool g_lineDone = false;

void takeLine(char *line)
{
   g_line = line;
   g_lineDone = true;
   rl_callback_handler_remove();
}

LineResult readTerminalLine(const char *prompt, std::string &line)
{
   g_lineDone = false;
   g_interrupted = 0;
   rl_callback_handler_install(prompt, takeLine);
   while (!g_lineDone)
   {
      struct pollfd input = {STDIN_FILENO, POLLIN, 0};
      int ready = poll(&input, 1, -1);
      if (g_interrupted)
      {
         rl_callback_handler_remove();
         std::fputs("^C\n", stdout);
         return LineResult::Interrupted;
      }
      if (ready < 0)
         continue;
      if ((input.revents & (POLLHUP | POLLERR)) != 0 && (input.revents & POLLIN) == 0)
      {
         rl_callback_handler_remove();
         return LineResult::End;
      }
      rl_callback_read_char();
   }
   if (g_line == nullptr)
      return LineResult::End;
   line = g_line;
   std::free(g_line);
   g_line = nullptr;
   return LineResult::Line;
}

// Input that is no terminal (-i with a pipe): plain lines, the prompt still written.
LineResult readPlainLine(const char *prompt, std::string &line)
{
   std::fputs(prompt, stdout);
   std::fflush(stdout);
   if (!std::getline(std::cin, line))
      return LineResult::End;
   return LineResult::Line;
}

class Session
{
public:
   explicit Session(const PromptSettings &settings)
      : m_settings(settings), m_library(settings.library), m_terminal(isatty(STDIN_FILENO) != 0)
   {
      if (m_library == nullptr)
      {
         m_ownLibrary.reset(new ORVA_Library());
         m_library = m_ownLibrary.get();
      }
   }

   ~Session() { delete m_variables; }

   int run()
   {
      if (m_terminal)
      {
         rl_readline_name = "orva";
         rl_catch_signals = 0;
         using_history();
         read_history(historyFile().c_str());
      }
      struct sigaction action = {};
      action.sa_handler = onInterrupt;
      sigemptyset(&action.sa_mask);
      sigaction(SIGINT, &action, nullptr);

      std::string entry;
      std::string line;
      for (;;)
      {
         const char *prompt = entry.empty() ? "orva> " : "....> ";
         LineResult result = m_terminal ? readTerminalLine(prompt, line) : readPlainLine(prompt, line);
         if (result == LineResult::End)
            break;
         if (result == LineResult::Interrupted)
         {
            entry.clear();
            continue;
         }
         entry += line;
         entry += '\n';
         if (m_terminal && !line.empty())
            add_history(line.c_str());
         if (handle(entry))
            entry.clear();
      }
      std::fputs("\n", stdout);
      if (m_terminal)
         saveHistory();
      return 0;
   }

private:
   void saveHistory()
   {
      std::string file = historyFile();
      std::string folder = file.substr(0, file.rfind('/'));
      // The state folder may not exist yet; its parent is the user's.
      if (std::getenv("XDG_STATE_HOME") != nullptr)
         mkdir(folder.c_str(), 0700);
      write_history(file.c_str());
      history_truncate_file(file.c_str(), 1000);
   }

   // Compiles and runs one entry; false when it needs more lines.
   bool handle(const std::string &entry)
   {
      if (entry.find_first_not_of(" \t\r\n;") == std::string::npos)
         return true;
      std::wstring source = toWide(entry);
      if (ORVA_Program *program = compileExpression(source))
      {
         execute(program, true);
         return true;
      }
      wchar_t error[1024];
      ORVA_Program *program = ORVACompile(source.c_str(), error, 1024);
      if (program != nullptr)
         execute(program, false);
      else if (std::wcsstr(error, L"unexpected $end") != nullptr)
         return false;   // a statement cut short: keep reading
      else
         reportError("orva", toNarrow(error));
      return true;
   }

   // The entry as a program that returns its value, when the entry is one expression
   // (with or without its ';') that is not an assignment; else null.
   static ORVA_Program *compileExpression(std::wstring source)
   {
      size_t end = source.find_last_not_of(L" \t\r\n");
      if (source[end] == L';')
         end--;
      // The line end keeps a trailing // comment from taking the parenthesis.
      std::wstring returning = L"return (" + source.substr(0, end + 1) + L"\n);";
      ORVA_Program *program = ORVACompile(returning.c_str(), nullptr, 0);
      if (program == nullptr || program->getCodeSize() < 2)
         return program;
      uint32_t last = program->getCodeSize() - 1;
      while (last > 0 && program->getInstruction(last)->getOpcode() != RET)
         last--;
      int opcode = last > 0 ? program->getInstruction(last - 1)->getOpcode() : NOP;
      bool assigns = opcode == SET || opcode == ESET || opcode == ASET || opcode == INC || opcode == DEC
                     || opcode == INCP || opcode == DECP;
      if (!assigns)
         return program;
      delete program;
      return nullptr;
   }

   // The names the top-level code of a program assigns (sub bodies excluded).
   static std::vector<std::wstring> assignedNames(ORVA_Program *program)
   {
      std::vector<bool> inSub(program->getCodeSize(), false);
      for (uint32_t f = 0; f < program->getFunctionCount(); f++)
      {
         uint32_t start = program->getFunction(f)->address;
         ORVA_Instruction *jump = start > 0 ? program->getInstruction(start - 1) : nullptr;
         if (jump == nullptr || jump->getOpcode() != JMP || jump->getAddress() <= start)
            continue;
         for (uint32_t a = start; a < jump->getAddress() && a < program->getCodeSize(); a++)
            inSub[a] = true;
      }
      std::vector<std::wstring> names;
      for (uint32_t a = 0; a < program->getCodeSize(); a++)
      {
         ORVA_Instruction *instruction = program->getInstruction(a);
         int opcode = instruction->getOpcode();
         bool assigns = opcode == SET || opcode == INC || opcode == DEC || opcode == INCP || opcode == DECP
                        || opcode == ARRAY;
         if (!inSub[a] && assigns && instruction->getNameOperand()[0] != L'$')
            names.emplace_back(instruction->getNameOperand());
      }
      return names;
   }

   void prepare(ORVA_Program *program)
   {
      for (uint32_t i = 0; m_variables != nullptr && i < m_variables->getCount(); i++)
      {
         ORVA_Variable *variable = m_variables->getByIndex(i);
         program->setGlobalVariable(variable->getName(), new ORVA_Value(variable->getValue()));
      }
      for (const std::wstring &name : assignedNames(program))
      {
         if (program->findGlobalVariable(name.c_str()) != nullptr)
            continue;
         // `array a;` accepts an array that is already there and nothing else.
         bool isArray = false;
         for (uint32_t a = 0; a < program->getCodeSize(); a++)
            isArray |= program->getInstruction(a)->getOpcode() == ARRAY
                       && name == program->getInstruction(a)->getNameOperand();
         program->setGlobalVariable(name.c_str(), isArray ? new ORVA_Value(new ORVA_Array()) : new ORVA_Value());
      }
      for (auto it = m_modules.rbegin(); it != m_modules.rend(); ++it)
         program->addPreload(strdup(it->c_str()));
      program->setRunLimits(m_settings.limits);
   }

   // Runs an entry; `showResult`: print the value it returns (unless null).
   void execute(ORVA_Program *program, bool showResult)
   {
      prepare(program);
      auto *environment = new ORVA_Environment();
      environment->setIO(stdin, stdout);
      environment->setLibrary(m_library);
      addToolFunctions(environment, program, m_library);

      ORVA_VariableSystem *globals = nullptr;
      g_interrupted = 0;
      g_running.store(program);
      int rc = program->run(environment, 0, nullptr, nullptr, &globals);
      g_running.store(nullptr);
      std::fflush(stdout);
      if (globals != nullptr)
      {
         delete m_variables;
         m_variables = globals;
      }
      if (rc == 0 && showResult && program->getResult() != nullptr && !program->getResult()->isNull())
         printValue(program->getResult());
      if (rc != 0)
      {
         reportError("orva", toNarrow(program->getErrorText()));
         if (std::wcsstr(program->getErrorText(), L"Error 16 ") == program->getErrorText())
            explainModuleFailure(program, m_library, m_settings.broken != nullptr ? *m_settings.broken : BrokenModules());
      }
      keepFunctions(program);
   }

   // As println writes it; an array as {index: value, ...}, its arrays as {...}.
   static void printValue(ORVA_Value *value)
   {
      ORVA_Environment printer;
      printer.setIO(stdin, stdout);
      ORVA_Array *array = value->isArray() ? value->getValueAsArray() : nullptr;
      if (array == nullptr)
         printer.print(value);
      for (int i = 0; array != nullptr && i < array->size(); i++)
      {
         std::fprintf(stdout, "%s%d: ", i == 0 ? "{" : ", ", array->getIndexAtPosition(i));
         ORVA_Value *element = array->getByPosition(i);
         if (element->isArray())
            std::fputs("{...}", stdout);
         else
            printer.print(element);
      }
      if (array != nullptr)
         std::fputs(array->size() == 0 ? "{}" : "}", stdout);
      std::fputs("\n", stdout);
      std::fflush(stdout);
   }

   // An entry that defines functions stays in the library as a module of the session.
   void keepFunctions(ORVA_Program *program)
   {
      bool definesFunctions = false;
      for (uint32_t f = 0; f < program->getFunctionCount(); f++)
         definesFunctions |= std::wcscmp(program->getFunction(f)->name, L"$main") != 0;
      std::string name = "orva$entry" + std::to_string(m_modules.size() + 1);
      if (!definesFunctions || !m_library->addScript(0, toWide(name).c_str(), program))
      {
         delete program;
         return;
      }
      m_modules.push_back(name);
   }

   const PromptSettings &m_settings;
   ORVA_Library *m_library;
   std::unique_ptr<ORVA_Library> m_ownLibrary;
   bool m_terminal;
   ORVA_VariableSystem *m_variables = nullptr;
   std::vector<std::string> m_modules;
};

}  // namespace

int runPrompt(const PromptSettings &settings)
{
   Session session(settings);
   return session.run();
}
