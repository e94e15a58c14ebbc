// Whether a script function can see its argument variables.
//
// A call makes "$1".."$n" in the callee's local set, and each BIND copies one of them into
// a parameter. Once the BINDs that open a function are done, nothing but the function's
// own instructions can reach its local set: host functions get their arguments, not the
// caller's variables. So when none of the instructions the function can reach names a
// variable starting with "$", reads "$k" through a BIND, makes captures (MATCH, IMATCH) or
// iterates (FOREACH, NEXT, which name their variable at run time), the argument variables
// are never seen, and a call may hand the arguments to the parameters directly.
#ifndef ORVA_VM_ARGUMENT_USE_H
#define ORVA_VM_ARGUMENT_USE_H

#include <cstdint>

#include <orva.h>

#include "vm/opcodes.h"

// True unless the instructions reachable from `start` (following jumps and branches, not
// calls, up to RET, NRET or EXIT) surely leave the argument variables unseen. Functions
// larger than the walk examines count as seeing them.
bool MaySeeArgumentVariables(ORVA_Instruction *const *code, uint32_t codeSize, uint32_t start);

#endif
