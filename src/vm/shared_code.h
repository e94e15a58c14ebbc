// The compiled code that a program and its clones share (ORVA_Program::clone): the
// instructions, the code and function arrays, the function index and the preload list.
//
// A program owns its code until it is first cloned; then the code moves in here and every
// program sharing it reads it through its usual members (m_instructions, m_functions, ...),
// so the engine does not know the difference. Shared code is never written: building
// methods refuse a program that shares its code, a run that links modules appends them to
// an array of the program's own (ownCodeArrays), and the engine keeps what a CASE converts
// in the program's instruction caches. The last program to let go deletes it.
#ifndef ORVA_VM_SHARED_CODE_H
#define ORVA_VM_SHARED_CODE_H

#include <atomic>
#include <cstdint>

#include <orva.h>

class ORVA_SharedCode
{
public:
   ORVA_SharedCode(const ORVA_SharedCode &) = delete;
   ORVA_SharedCode &operator=(const ORVA_SharedCode &) = delete;

   // Takes the code of `program` over, leaving the program reading it from here.
   static ORVA_SharedCode *takeFrom(ORVA_Program *program);
   // Lets `program` read this code, as the programs sharing it do.
   void lend(ORVA_Program *program);
   // A program no longer reads this code; the last one deletes it.
   void release() noexcept;

   ORVA_Instruction *const *instructions() const { return m_instructions; }
   const ORVA_FunctionEntry *functions() const { return m_functions; }

private:
   ORVA_SharedCode() = default;
   ~ORVA_SharedCode();

   std::atomic<uint32_t> m_holders{1};
   ORVA_Instruction **m_instructions = nullptr;
   uint32_t m_codeSize = 0;
   ORVA_FunctionEntry *m_functions = nullptr;
   uint32_t m_functionCount = 0;
   ORVA_FunctionIndex *m_functionIndex = nullptr;
   wchar_t **m_preloadList = nullptr;
   uint32_t m_preloadCount = 0;
};

#endif
