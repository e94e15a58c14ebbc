#include "library_folder.h"

#include <dirent.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "cli_text.h"

namespace {

// Library names compare as the library compares them: only A-Z fold onto a-z.
std::wstring lowerCase(const wchar_t *name)
{
   std::wstring lower(name);
   for (wchar_t &c : lower)
      if (c >= L'A' && c <= L'Z')
         c = static_cast<wchar_t>(c - L'A' + L'a');
   return lower;
}

std::vector<std::string> scriptFiles(DIR *dir)
{
   std::vector<std::string> files;
   while (struct dirent *entry = readdir(dir))
   {
      std::string name = entry->d_name;
      if (name.size() > 5 && name.compare(name.size() - 5, 5, ".orva") == 0)
         files.push_back(name);
   }
   std::sort(files.begin(), files.end());
   return files;
}

// Compiles one module file; null with the reason in `error` when it cannot. The files
// of the folder may start like scripts (#!, a byte-order mark); a module the library
// itself reads from the current directory may not, so its explanation reads it as is.
ORVA_Program *compileFile(const std::string &path, bool skipHeader, std::string &error)
{
   std::string source;
   if (!readScriptFile(path, source))
   {
      error = "cannot read file";
      return nullptr;
   }
   if (skipHeader)
      skipScriptHeader(source);
   wchar_t errorText[1024];
   ORVA_Program *program = ORVACompileUTF8(source.c_str(), errorText, 1024);
   if (program == nullptr)
      error = toNarrow(errorText);
   return program;
}

}  // namespace

ORVA_Library *loadLibrary(const std::string &folder, BrokenModules &broken)
{
   DIR *dir = opendir(folder.c_str());
   if (dir == nullptr)
   {
      reportError(folder, std::string("cannot open library folder: ") + std::strerror(errno));
      return nullptr;
   }
   std::vector<std::string> files = scriptFiles(dir);
   closedir(dir);

   ORVA_Library *library = new ORVA_Library();
   uint32_t id = 0;
   for (const std::string &file : files)
   {
      std::string path = folder + "/" + file;
      std::wstring name = toWide(file.substr(0, file.size() - 5));
      std::string error;
      ORVA_Program *module = compileFile(path, true, error);
      if (module == nullptr)
         broken[lowerCase(name.c_str())] = {path, error};
      else if (!library->addScript(++id, name.c_str(), module))
         delete module;   // a name that differs only in case from an earlier file
   }
   return library;
}

void explainModuleFailure(ORVA_Program *program, ORVA_Library *library, const BrokenModules &broken)
{
   for (uint32_t i = 0; i < program->getPreloadCount(); i++)
   {
      const wchar_t *name = program->getPreload(i);
      if (library != nullptr && library->findScript(name) != nullptr)
         continue;
      auto found = broken.find(lowerCase(name));
      if (found != broken.end())
      {
         reportError(found->second.first, found->second.second);
         continue;
      }
      std::string file = toNarrow(name) + ".orva";
      std::string error;
      ORVA_Program *module = compileFile(file, false, error);
      if (module == nullptr)
         reportError(file, error == "cannot read file" ? "module not found" : error);
      delete module;
   }
}

void addToolFunctions(ORVA_Environment *environment, ORVA_Program *program, ORVA_Library *library)
{
   std::vector<std::wstring> names;
   for (uint32_t i = 0; i < program->getPreloadCount(); i++)
   {
      const wchar_t *name = program->getPreload(i);
      ORVA_Program *module = library != nullptr ? library->findScript(name) : nullptr;
      std::unique_ptr<ORVA_Program> fromFile;
      std::string error;
      if (module == nullptr)
         fromFile.reset(module = compileFile(toNarrow(name) + ".orva", false, error));
      for (uint32_t f = 0; module != nullptr && f < module->getFunctionCount(); f++)
         names.emplace_back(module->getFunction(f)->name);
   }
   std::vector<const wchar_t *> except;
   for (const std::wstring &name : names)
      except.push_back(name.c_str());
   except.push_back(nullptr);
   ORVARegisterToolFunctions(environment, except.data());
}
