// Test helpers for the engine and the operator dispatch: programs written as a list of
// instructions with symbolic jump labels, a host environment that records output and its
// own deletion, a class that counts released objects, and a run that reports its outcome.
#ifndef ORVA_TESTS_VM_BUILDER_H
#define ORVA_TESTS_VM_BUILDER_H

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <orva.h>

using namespace ORVA_Op;

// Builds an ORVA_Program from instructions given in order. Jumps name a label; labels and
// functions mark the position of the next instruction. "$main" is registered at 0 unless
// withoutMain() is called.
class CodeBuilder
{
public:
   CodeBuilder &line(int line)
   {
      m_line = line;
      return *this;
   }
   CodeBuilder &op(int opcode) { return add({Kind::Plain, opcode, m_line, 0, nullptr, ""}); }
   CodeBuilder &count(int opcode, int n) { return add({Kind::Count, opcode, m_line, n, nullptr, ""}); }
   CodeBuilder &push(ORVA_Value *value) { return constant(PUSH_CONST, value); }
   CodeBuilder &constant(int opcode, ORVA_Value *value) { return add({Kind::Constant, opcode, m_line, 0, value, ""}); }
   CodeBuilder &name(int opcode, const char *name, int n = 0) { return add({Kind::Name, opcode, m_line, n, nullptr, name}); }
   CodeBuilder &var(const char *variable) { return name(PUSH_VAR, variable); }
   CodeBuilder &call(const char *function, int argc) { return name(CALL_NAME, function, argc); }
   CodeBuilder &jump(int opcode, const char *label) { return add({Kind::Jump, opcode, m_line, 0, nullptr, label}); }
   CodeBuilder &label(const char *label)
   {
      m_labels[label] = static_cast<uint32_t>(m_steps.size());
      return *this;
   }
   CodeBuilder &function(const char *name)
   {
      m_functions.emplace_back(name, static_cast<uint32_t>(m_steps.size()));
      return *this;
   }
   CodeBuilder &withoutMain()
   {
      m_main = false;
      return *this;
   }

   // The program, calls resolved; the caller owns it.
   ORVA_Program *build()
   {
      auto *program = new ORVA_Program();
      for (const Step &step : m_steps)
      {
         ORVA_Instruction *instruction = nullptr;
         switch (step.kind)
         {
            case Kind::Plain: instruction = new ORVA_Instruction(step.line, step.opcode); break;
            case Kind::Count: instruction = new ORVA_Instruction(step.line, step.opcode, step.n); break;
            case Kind::Constant: instruction = new ORVA_Instruction(step.line, step.opcode, step.value); break;
            case Kind::Name: instruction = new ORVA_Instruction(step.line, step.opcode, strdup(step.text.c_str()), step.n); break;
            case Kind::Jump:
               instruction = new ORVA_Instruction(step.line, step.opcode, m_labels.at(step.text));
               break;
         }
         program->addInstruction(instruction);
      }
      m_steps.clear();
      char message[256];
      if (m_main)
         program->addFunction("$main", 0, message, sizeof(message));
      for (const auto &function : m_functions)
         program->addFunction(function.first.c_str(), function.second, message, sizeof(message));
      program->resolveFunctions();
      return program;
   }

private:
   enum class Kind { Plain, Count, Constant, Name, Jump };
   struct Step
   {
      Kind kind;
      int opcode;
      int line;
      int n;
      ORVA_Value *value;
      std::string text;
   };
   CodeBuilder &add(Step step)
   {
      m_steps.push_back(std::move(step));
      return *this;
   }

   int m_line = 1;
   bool m_main = true;
   std::vector<Step> m_steps;
   std::map<std::string, uint32_t> m_labels;
   std::vector<std::pair<std::string, uint32_t>> m_functions;
};

// A host environment that collects printed text and counts its own deletion.
class HostEnvironment : public ORVA_Environment
{
public:
   explicit HostEnvironment(int *deletions = nullptr, std::wstring *output = nullptr)
      : m_deletions(deletions), m_output(output)
   {
   }
   ~HostEnvironment() override
   {
      if (m_deletions != nullptr)
         ++*m_deletions;
   }
   void print(ORVA_Value *value) override
   {
      if (m_output == nullptr)
         return;
      const wchar_t *text = value->getValueAsCString();
      *m_output += (text != nullptr) ? text : L"(null)";
   }

private:
   int *m_deletions;
   std::wstring *m_output;
};

// A class with one attribute "x" (read 42; writable) that counts released host objects.
class CountingClass : public ORVA_Class
{
public:
   CountingClass() { wcscpy(name, L"COUNTER"); }
   ORVA_Value *getAttr(ORVA_Object *, const wchar_t *attribute) override
   {
      return (wcscmp(attribute, L"x") == 0) ? new ORVA_Value(static_cast<int32_t>(42)) : nullptr;
   }
   int setAttr(ORVA_Object *, const wchar_t *attribute, ORVA_Value *value) override
   {
      if (wcscmp(attribute, L"x") != 0)
         return 0;
      stored = value->getValueAsInt32();
      return 1;
   }
   void onObjectDelete(ORVA_Object *) override { released++; }

   int released = 0;
   int32_t stored = 0;
};

// The text of a value as a test compares it: "(null)" without a text form, "<none>" for
// no value at all.
inline std::wstring textOf(ORVA_Value *value)
{
   if (value == nullptr)
      return L"<none>";
   const wchar_t *text = value->getValueAsCString();
   return (text != nullptr) ? text : L"(null)";
}

struct Outcome
{
   int rc;
   std::wstring error;
   std::wstring result;
   int resultType;  // -1 without a result value
};

// Runs a program once with a recording environment and describes how it ended.
inline Outcome runProgram(ORVA_Program *program, std::vector<ORVA_Value *> args = {},
                          std::wstring *output = nullptr, const wchar_t *entry = nullptr)
{
   int rc = program->run(new HostEnvironment(nullptr, output), static_cast<uint32_t>(args.size()),
                         args.empty() ? nullptr : args.data(), nullptr, nullptr, nullptr, entry);
   ORVA_Value *result = program->getResult();
   return {rc, program->getErrorText(), textOf(result), result ? result->getDataType() : -1};
}

// Builds, runs once and deletes.
inline Outcome runOnce(CodeBuilder &code, std::vector<ORVA_Value *> args = {}, std::wstring *output = nullptr)
{
   ORVA_Program *program = code.build();
   Outcome outcome = runProgram(program, std::move(args), output);
   delete program;
   return outcome;
}

#endif
