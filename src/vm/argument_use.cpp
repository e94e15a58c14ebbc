// The walk behind MaySeeArgumentVariables (see argument_use.h).
#include "vm/argument_use.h"

#include <unordered_set>
#include <vector>

namespace {

// Most instructions the walk looks at before it gives up.
constexpr size_t kMaxWalk = 4096;

// True when the instruction may look at "$..." variables of the current local set.
bool seesArgumentVariables(const ORVA_Instruction *instruction)
{
   switch (instruction->getOpcode())
   {
      case BIND: case MATCH: case IMATCH: case FOREACH: case NEXT:
         return true;
      case PUSH_VAR: case SET: case INC: case DEC: case INCP: case DECP:
      case ARRAY: case GLOBAL: case GARRAY:
      {
         const wchar_t *name = instruction->getNameOperand();
         return name == nullptr || name[0] == L'$';
      }
      default:
         return false;
   }
}

}  // namespace

bool MaySeeArgumentVariables(ORVA_Instruction *const *code, uint32_t codeSize, uint32_t start)
{
   std::vector<uint32_t> pending{start};
   std::unordered_set<uint32_t> seen;
   while (!pending.empty())
   {
      const uint32_t position = pending.back();
      pending.pop_back();
      if (position >= codeSize || !seen.insert(position).second)
         continue;
      if (seen.size() > kMaxWalk)
         return true;
      const ORVA_Instruction *instruction = code[position];
      if (seesArgumentVariables(instruction))
         return true;
      switch (instruction->getOpcode())
      {
         case RET: case NRET: case EXIT:
            break;
         case JMP:
            pending.push_back(instruction->getAddress());
            break;
         case JZ: case JNZ:
            pending.push_back(instruction->getAddress());
            pending.push_back(position + 1);
            break;
         default:
            pending.push_back(position + 1);
            break;
      }
   }
   return false;
}
