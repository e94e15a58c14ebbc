// Runs a script for a test and keeps what a shortcut of the engine could change: the
// status, the error text, the result's text and the call stack of an error. Also finds the
// fewest steps a script completes with.
#ifndef ORVA_TESTS_SCRIPT_OUTCOME_H
#define ORVA_TESTS_SCRIPT_OUTCOME_H

#include <orva.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "compile_script.h"

struct Outcome
{
   int rc;
   std::wstring error;
   std::wstring result;
   // "function:line " for every frame of the error's call stack, innermost first.
   std::wstring stack;
};

inline Outcome runScript(const std::wstring &source, uint64_t maxSteps = 0, ORVA_VariableSystem *constants = nullptr)
{
   ORVA_Program *program = compile(source.c_str());
   if (program == nullptr)
      return {-2, L"does not compile", L"", L""};
   ORVA_RunLimits limits;
   limits.maxSteps = maxSteps;
   program->setRunLimits(limits);
   Outcome outcome{program->run(nullptr, 0, nullptr, nullptr, nullptr, constants), L"", L"", L""};
   if (outcome.rc != 0 && program->getErrorText() != nullptr)
      outcome.error = program->getErrorText();
   for (const ORVA_StackFrame &frame : program->getErrorInfo().callStack)
      outcome.stack += frame.function + L":" + std::to_wstring(frame.line) + L" ";
   ORVA_Value *result = program->getResult();
   if (result != nullptr)
   {
      const wchar_t *text = result->getValueAsCString();
      outcome.result = text != nullptr ? text : L"(no text)";
   }
   delete program;
   return outcome;
}

// The fewest steps with which the script completes (binary search over the step limit).
inline uint64_t stepsNeeded(const std::wstring &source)
{
   uint64_t low = 1, high = 100000000;
   while (low < high)
   {
      const uint64_t middle = (low + high) / 2;
      if (runScript(source, middle).rc == 0)
         high = middle;
      else
         low = middle + 1;
   }
   return low;
}

#endif
