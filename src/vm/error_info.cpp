// The details of a runtime error beside its text (ORVA_ErrorInfo): the module that holds
// the failing line and the script call stack at that moment.
//
// The call stack is read off the control stack, whose frames hold the return address of
// each call in progress (see engine.cpp): the instruction before a return address is the
// call, so it gives both the caller's line and, through its operand, the callee. The
// outermost frame is the run's entry function.
#include <algorithm>

#include <orva.h>

#include "vm/opcodes.h"

namespace
{

// Slots of one call frame on the control stack; the return address comes first.
constexpr int kFrameSlots = 4;

}  // namespace

// The module whose code holds the address, or null for the program's own code.
static const ORVA_ModuleEntry *moduleAt(const ORVA_ModuleEntry *modules, uint32_t count, uint32_t address)
{
   for (uint32_t i = 0; i < count; i++)
   {
      if (address >= modules[i].codeStart && address - modules[i].codeStart < modules[i].codeSize)
         return &modules[i];
   }
   return nullptr;
}

void ORVA_Program::describeError(int code, int line, const wchar_t *name) noexcept
{
   m_errorInfo = ORVA_ErrorInfo();
   m_errorInfo.code = code;
   m_errorInfo.line = line;
   try
   {
      if (name != nullptr)
         m_errorInfo.name = name;
      if (m_currentPosition >= m_codeSize || m_controlStack == nullptr)
         return;

      auto nameAt = [this](uint32_t address) -> const wchar_t * {
         for (uint32_t i = 0; i < m_functionCount; i++)
         {
            if (m_functions[i].address == address)
               return m_functions[i].name;
         }
         return L"";
      };
      auto frameAt = [this](const wchar_t *function, uint32_t position) {
         const ORVA_ModuleEntry *module = moduleAt(m_modules, m_moduleCount, position);
         ORVA_StackFrame frame;
         frame.function = function;
         frame.module = (module != nullptr) ? module->name : L"";
         frame.line = m_instructions[position]->getLine();
         return frame;
      };

      m_errorInfo.module = frameAt(L"", m_currentPosition).module;
      const int frames = std::min(static_cast<int>(m_callDepth), m_controlStack->getSize() / kFrameSlots);
      void *const *slots = m_controlStack->peekList(m_controlStack->getSize());
      // Outermost first while walking; the host gets the innermost first.
      const wchar_t *function = nameAt(m_entryAddress);
      for (int frame = 0; frame < frames; frame++)
      {
         const auto call = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(slots[frame * kFrameSlots])) - 1;
         m_errorInfo.callStack.push_back(frameAt(function, call));
         const ORVA_Instruction *instruction = m_instructions[call];
         function = (instruction->getOpcode() == CALL_ADDR) ? nameAt(instruction->getAddress())
                                                            : instruction->getNameOperand();
      }
      m_errorInfo.callStack.push_back(frameAt(function, m_currentPosition));
      std::reverse(m_errorInfo.callStack.begin(), m_errorInfo.callStack.end());
   }
   catch (...)
   {
      // Out of memory: the code and the line are there; the details are what they are.
   }
}
