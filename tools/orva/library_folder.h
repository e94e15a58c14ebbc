// The script library of the orva command: every *.orva file of a folder (-L DIR).
#ifndef ORVA_TOOLS_LIBRARY_FOLDER_H
#define ORVA_TOOLS_LIBRARY_FOLDER_H

#include <orva.h>

#include <map>
#include <string>

// Module files of the folder that do not compile, by module name in lower case (library
// names ignore case): the file's path and its compile error. A broken file fails only
// the scripts that use it, so it is reported then and not before.
using BrokenModules = std::map<std::wstring, std::pair<std::string, std::string>>;

// Compiles every *.orva file of a folder into a library, ids in file-name order; the
// files that do not compile go to `broken`. Returns null (after reporting) when the
// folder cannot be read.
ORVA_Library *loadLibrary(const std::string &folder, BrokenModules &broken);

// A run failed because a module could not be loaded: says which one and why, since the
// library's own error text cannot.
void explainModuleFailure(ORVA_Program *program, ORVA_Library *library, const BrokenModules &broken);

// Adds the functions for tool scripts (ORVARegisterToolFunctions) to the environment of
// a run of `program`, except those a module the program uses defines: the environment's
// functions hide module functions, and a module written before these functions existed
// keeps its own.
void addToolFunctions(ORVA_Environment *environment, ORVA_Program *program, ORVA_Library *library);

#endif
