// Module linking. At the start of every run the engine asks the environment for each
// module of the preload list; the environment finds the module's compiled program (in
// its script library, else in the file "<name>.orva" of the current directory) and the
// running program links it: a copy of the module's code is appended with its addresses
// moved to the new place, the module's function entries are appended after the program's
// own (so the program's functions win a lookup by name), and a module entry records what
// was added. The engine removes all of it when the run ends.
#include <cstdlib>
#include <cstring>

#include <orva.h>

#include "compiler/source_file.h"
#include "platform/platform.h"
#include "vm/instruction_cache.h"
#include "vm/program_growth.h"

// Longest file name the environment builds for a module file, terminator included.
constexpr size_t kMaxModuleFileName = 260;
// Room for a module name in a module entry, terminator included.
constexpr size_t kModuleNameField = sizeof(ORVA_ModuleEntry::name) / sizeof(wchar_t);

// Links a module into this program. A module already linked under the same name (case
// ignored) is not linked again. The module is only read; it may even be this program.
void ORVA_Program::useModule(ORVA_Program *module, const wchar_t *name)
{
   if (module == nullptr || name == nullptr || hasModule(name) || !ownCodeArrays())
      return;

   // Sizes are taken first: when a program links itself, appending changes them.
   uint32_t codeStart = m_codeSize;
   uint32_t moduleCodeSize = module->m_codeSize;
   uint32_t functionStart = m_functionCount;
   uint32_t moduleFunctionCount = module->m_functionCount;

   ORVA_ModuleEntry *modules = static_cast<ORVA_ModuleEntry *>(
      realloc(m_modules, (static_cast<size_t>(m_moduleCount) + 1) * sizeof(ORVA_ModuleEntry)));
   if (modules == nullptr)
      return;
   m_modules = modules;
   if (!reserveEntries(&m_instructions, &m_codeAllocated, static_cast<uint64_t>(codeStart) + moduleCodeSize) ||
       !reserveEntries(&m_functions, &m_functionsAllocated, static_cast<uint64_t>(functionStart) + moduleFunctionCount))
      return;

   for (uint32_t i = 0; i < moduleCodeSize; i++)
      m_instructions[m_codeSize++] = new ORVA_Instruction(module->m_instructions[i]);
   relocateCode(codeStart, moduleCodeSize, codeStart);
   ORVA_InstructionCache::placeFrom(this, codeStart);

   for (uint32_t i = 0; i < moduleFunctionCount; i++)
   {
      m_functions[functionStart + i] = module->m_functions[i];
      m_functions[functionStart + i].address += codeStart;
   }

   ORVA_ModuleEntry *entry = &m_modules[m_moduleCount++];
   memset(entry, 0, sizeof(*entry));
   wcsncpy(entry->name, name, kModuleNameField - 1);
   entry->codeStart = codeStart;
   entry->codeSize = moduleCodeSize;
   entry->functionStart = functionStart;
   entry->functionCount = moduleFunctionCount;

   m_functionCount += moduleFunctionCount;
}

bool ORVA_Program::hasModule(const wchar_t *name) const
{
   if (name == nullptr)
      return false;
   for (uint32_t i = 0; i < m_moduleCount; i++)
      if (qv_wcsicmp(m_modules[i].name, name) == 0)
         return true;
   return false;
}

// Finds a module and links it into program: from the script library when it has one of
// that name, else by compiling "<name>.orva" from the current directory. Returns 1 when
// the module is linked (or was already), 0 when it cannot be found, read or compiled. A
// name too long for the file-name buffer counts as not found. A name already linked in
// this run is not looked up again: file names are case-sensitive here, so "use Util"
// after "use util" would otherwise miss the file it already linked.
int ORVA_Environment::useModule(ORVA_Program *program, const wchar_t *name)
{
   if (program == nullptr || name == nullptr)
      return 0;
   if (program->hasModule(name))
      return 1;

   if (m_library != nullptr)
   {
      ORVA_Program *module = m_library->findScript(name);
      if (module != nullptr)
      {
         program->useModule(module, name);
         return 1;
      }
   }

   static const wchar_t extension[] = L".orva";
   size_t nameLength = wcslen(name);
   if (nameLength + wcslen(extension) + 1 > kMaxModuleFileName)
      return 0;
   wchar_t fileName[kMaxModuleFileName];
   wcscpy(fileName, name);
   wcscat(fileName, extension);

   char *text = ORVAReadSourceFile(fileName, nullptr);
   if (text == nullptr)
      return 0;

   int result = 0;
   ORVA_Program *module = ORVACompileUTF8(text, nullptr, 0);
   if (module != nullptr)
   {
      program->useModule(module, name);
      delete module;
      result = 1;
   }
   free(text);
   return result;
}
