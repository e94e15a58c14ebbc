// The interactive prompt of the orva command (orva with no FILE on a terminal, or -i).
#ifndef ORVA_TOOLS_PROMPT_H
#define ORVA_TOOLS_PROMPT_H

#include <orva.h>

#include "library_folder.h"

struct PromptSettings
{
   ORVA_Library *library = nullptr;      // -L DIR, or null
   const BrokenModules *broken = nullptr;
   ORVA_RunLimits limits;                // applied to every entry
};

// Reads entries until end of input (Ctrl-D) and runs each; returns the exit status.
int runPrompt(const PromptSettings &settings);

#endif
