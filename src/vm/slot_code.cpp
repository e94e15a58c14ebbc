// Translation of a script function into its compact code form (see slot_code.h).
#include "vm/slot_code.h"

#include <cwchar>

#include "values/plain_int32.h"
#include "vm/engine.h"

namespace {

// Slot numbers are 16 bits; a function with more names is left to the instruction loop.
constexpr uint32_t kMaxSlots = 0xFFFF;

// The end of the function starting at `start`: the first NRET that no jump seen before it
// passes. Every function's code ends in an NRET; a return statement inside it is one too,
// but the code after it is reached by a jump over it. Returns codeSize when there is none,
// or when a jump leads out of the function.
uint32_t functionEnd(ORVA_Instruction *const *code, uint32_t codeSize, uint32_t start)
{
   uint32_t reach = start;
   for (uint32_t position = start; position < codeSize; position++)
   {
      const ORVA_Instruction *instruction = code[position];
      switch (instruction->getOpcode())
      {
         case JMP: case JZ: case JNZ:
            if (instruction->getAddress() < start)
               return codeSize;
            if (instruction->getAddress() > reach)
               reach = instruction->getAddress();
            break;
         case NRET:
            if (reach <= position)
               return position;
            break;
         default:
            break;
      }
   }
   return codeSize;
}

class Translator
{
public:
   explicit Translator(SlotFunction *function) : m_function(function) {}

   // False when a name is too many for the slots.
   bool take(const ORVA_Instruction *instruction)
   {
      SlotOp op{SlotOp::kLeave, SlotOp::kLeave, false, static_cast<uint8_t>(instruction->getOpcode()), 0, 0, 0, 0, {nullptr}};
      switch (instruction->getOpcode())
      {
         case NOP:
            op.kind = SlotOp::kNop;
            break;
         case PUSH_CONST:
            translateConstant(instruction->getConstant(), &op);
            break;
         case PUSH_VAR:
            if (!name(instruction, SlotOp::kPushVar, &op))
               return false;
            break;
         case SET:
            if (!name(instruction, SlotOp::kSet, &op))
               return false;
            break;
         case INC: case DEC: case INCP: case DECP:
            if (!name(instruction, SlotOp::kStep, &op))
               return false;
            break;
         case ARRAY:
            if (!name(instruction, SlotOp::kArray, &op))
               return false;
            break;
         case EGET:
            op.kind = SlotOp::kElementGet;
            break;
         case ESET:
            op.kind = SlotOp::kElementSet;
            break;
         case POP:
            op.kind = SlotOp::kPop;
            op.number = instruction->getIntOperand();
            break;
         case JMP:
            jump(instruction, SlotOp::kJump, &op);
            break;
         case JZ:
            jump(instruction, SlotOp::kJumpZero, &op);
            break;
         case JNZ:
            jump(instruction, SlotOp::kJumpNonZero, &op);
            break;
         case CONCAT:
            op.kind = SlotOp::kOperate;
            break;
         case CALL_NAME:
            op.kind = SlotOp::kCallName;
            op.number = instruction->getIntOperand();
            op.instruction = instruction;
            break;
         case CALL_ADDR:
            op.kind = SlotOp::kCall;
            op.target = instruction->getAddress();
            op.number = instruction->getIntOperand();
            break;
         case RET:
            op.kind = SlotOp::kReturn;
            break;
         case NRET:
            op.kind = SlotOp::kReturnNull;
            break;
         default:
            if (IsInt32Operator(instruction->getOpcode()))
               op.kind = SlotOp::kOperate;
            break;
      }
      m_function->ops.push_back(op);
      return true;
   }

   // `start` (PUSH_CONST of a name), `array` (PUSH_VAR) and `loop` (FOREACH), followed by
   // `next` (NEXT): a foreach loop over a local array whose variable is a local; its
   // start and its NEXT become kForeach and kNext. False when a name is too many.
   bool foreach(const ORVA_Instruction *start, const ORVA_Instruction *array, const ORVA_Instruction *loop,
                const ORVA_Instruction *next, uint32_t at)
   {
      ORVA_Value *constant = start->getConstant();
      if (array->getOpcode() != PUSH_VAR || loop->getOpcode() != FOREACH || next->getOpcode() != NEXT ||
          constant == nullptr || !constant->isString() || constant->getDataType() != ORVA_DT_STRING)
         return true;
      const wchar_t *name = constant->getValueAsCString();
      const wchar_t *arrayName = array->getNameOperand();
      if (name == nullptr || name[0] == L'$' || arrayName == nullptr || arrayName[0] == L'$')
         return true;
      uint32_t variable = 0;
      uint32_t elements = 0;
      if (!slotOf(name, &variable) || !slotOf(arrayName, &elements))
         return false;
      std::vector<SlotOp> &ops = m_function->ops;
      ops[at].kind = SlotOp::kForeach;
      ops[at].slot = static_cast<uint16_t>(variable);
      ops[at].number = static_cast<int32_t>(elements);
      ops[at + 3].kind = SlotOp::kNext;
      ops[at + 3].slot = static_cast<uint16_t>(variable);
      return true;
   }

   // The slot of a parameter; false when the name is already one (a call would not bind it).
   bool parameter(const wchar_t *name)
   {
      if (name == nullptr || name[0] == L'$' || find(name) != kMaxSlots)
         return false;
      m_function->names.push_back(name);
      return true;
   }

private:
   static void translateConstant(ORVA_Value *constant, SlotOp *op)
   {
      if (constant == nullptr || constant->isNull())
      {
         op->kind = SlotOp::kPushNull;
         return;
      }
      if (IsPlainInt32(constant))
      {
         op->kind = SlotOp::kPushInt;
         op->number = constant->getValueAsInt32();
         return;
      }
      op->kind = SlotOp::kPushValue;
      op->constant = constant;
   }

   void jump(const ORVA_Instruction *instruction, SlotOp::Kind kind, SlotOp *op) const
   {
      op->kind = kind;
      op->target = instruction->getAddress() - m_function->start;
   }

   // A named instruction: its variable's slot. "$..." variables (arguments, captures, named
   // arguments) are left to the instruction loop.
   bool name(const ORVA_Instruction *instruction, SlotOp::Kind kind, SlotOp *op)
   {
      const wchar_t *name = instruction->getNameOperand();
      if (name == nullptr || name[0] == L'$')
         return true;
      uint32_t slot = 0;
      if (!slotOf(name, &slot))
         return false;
      op->kind = kind;
      op->slot = static_cast<uint16_t>(slot);
      return true;
   }

   // The slot of `name`, made when it has none; false when there is no room for it.
   bool slotOf(const wchar_t *name, uint32_t *slot)
   {
      *slot = find(name);
      if (*slot != kMaxSlots)
         return true;
      if (m_function->names.size() >= kMaxSlots)
         return false;
      *slot = static_cast<uint32_t>(m_function->names.size());
      m_function->names.push_back(name);
      return true;
   }

   uint32_t find(const wchar_t *name) const
   {
      const std::vector<const wchar_t *> &names = m_function->names;
      for (size_t i = 0; i < names.size(); i++)
      {
         if (names[i] == name || wcscmp(names[i], name) == 0)
            return static_cast<uint32_t>(i);
      }
      return kMaxSlots;
   }

   SlotFunction *m_function;
};

// What the op does to the depth of the data stack, where the runner carries it out.
int depthChange(const SlotOp &op)
{
   switch (op.kind)
   {
      case SlotOp::kPushInt: case SlotOp::kPushNull: case SlotOp::kPushVar: case SlotOp::kStep:
      case SlotOp::kNext: case SlotOp::kForeach: case SlotOp::kPushValue: case SlotOp::kPushVarLent:
      case SlotOp::kPushValueLent:
         return 1;
      case SlotOp::kPop:
         return -op.number;
      case SlotOp::kOperate: case SlotOp::kJumpZero: case SlotOp::kJumpNonZero: case SlotOp::kElementGet:
         return -1;
      case SlotOp::kElementSet:
         return -2;
      case SlotOp::kCall: case SlotOp::kCallName:
         return 1 - op.number;
      default:
         return 0;
   }
}

// How many values the op takes off the data stack (NEXT: looks at).
int32_t operandsTaken(const SlotOp &op)
{
   switch (op.kind)
   {
      case SlotOp::kSet: case SlotOp::kJumpZero: case SlotOp::kJumpNonZero: case SlotOp::kReturn:
      case SlotOp::kNext:
         return 1;
      case SlotOp::kOperate: case SlotOp::kElementGet:
         return 2;
      case SlotOp::kElementSet:
         return 3;
      case SlotOp::kPop: case SlotOp::kCall: case SlotOp::kCallName:
         return op.number;
      default:
         return 0;
   }
}

// The most values the function's own code has on the data stack at once, following every
// path from its first op after the parameters until the runner would leave or return:
// false when two paths meet at different depths (the runner then could not size its
// frame), which compiled code never does. An op that would take more values than the
// function has pushed is left to the instruction loop, so the runner never looks below
// its frame.
bool measureDepth(SlotFunction *function)
{
   std::vector<SlotOp> &ops = function->ops;
   std::vector<int32_t> depths(ops.size(), -1);
   std::vector<uint32_t> pending{function->binds};
   depths[function->binds] = 0;
   int32_t deepest = 0;
   while (!pending.empty())
   {
      const uint32_t at = pending.back();
      pending.pop_back();
      SlotOp &op = ops[at];
      const int32_t taken = operandsTaken(op);
      if (taken < 0 || taken > depths[at])
         op.kind = SlotOp::kLeave;
      if (op.kind == SlotOp::kLeave || op.kind == SlotOp::kReturn || op.kind == SlotOp::kReturnNull)
         continue;
      const int32_t depth = depths[at] + depthChange(op);
      if (depth > deepest)
         deepest = depth;
      uint32_t next[2] = {at + 1, op.target};
      const int count = (op.kind == SlotOp::kJumpZero || op.kind == SlotOp::kJumpNonZero) ? 2 : 1;
      if (op.kind == SlotOp::kJump)
         next[0] = op.target;
      if (op.kind == SlotOp::kForeach)
         next[0] = at + 3;
      for (int i = 0; i < count; i++)
      {
         if (next[i] >= ops.size())
            return false;
         if (depths[next[i]] == -1)
         {
            depths[next[i]] = depth;
            pending.push_back(next[i]);
         }
         else if (depths[next[i]] != depth)
         {
            return false;
         }
      }
   }
   function->stackBound = static_cast<uint32_t>(deepest) + 1;
   function->frameSize = function->slotCount + function->stackBound;
   return true;
}

// Whether the op assigns to the variable in `slot`.
bool assigns(const SlotOp &op, uint16_t slot)
{
   switch (op.kind)
   {
      case SlotOp::kSet: case SlotOp::kStep: case SlotOp::kArray: case SlotOp::kNext: case SlotOp::kForeach:
         return op.slot == slot;
      default:
         return false;
   }
}

// Whether the constant ops[i] pushes is the right operand of the operator after it, which
// only reads it: (in)equality or concatenation, with a text that is no number (an operator
// may convert a number in place to the other operand's type).
bool onlyReadByOperator(const std::vector<SlotOp> &ops, size_t i)
{
   if (i + 1 >= ops.size() || ops[i + 1].kind != SlotOp::kOperate)
      return false;
   const int opcode = ops[i + 1].opcode;
   return (opcode == EQ || opcode == NE || opcode == CONCAT) && ops[i].constant->getDataType() == ORVA_DT_STRING;
}

// Whether the variable ops[i] pushes is the left operand of (in)equality with a text
// constant, which compares texts and only reads both.
bool comparedWithText(const std::vector<SlotOp> &ops, size_t i)
{
   return i + 2 < ops.size() && ops[i + 1].kind == SlotOp::kPushValue && onlyReadByOperator(ops, i + 1) &&
          ops[i + 2].opcode != CONCAT;
}

// Marks the pushes that may lend their value (kPushVarLent, kPushValueLent, see
// slot_code.h): following the data stack from each, the op that takes the value is a
// call by name, and no op before it jumps, returns, leaves or (for a variable) assigns to
// the variable; or a text constant is the right operand of an operator that only reads it.
void markLentPushes(std::vector<SlotOp> &ops)
{
   for (size_t i = 0; i < ops.size(); i++)
   {
      const bool variable = ops[i].kind == SlotOp::kPushVar;
      if (!variable && ops[i].kind != SlotOp::kPushValue)
         continue;
      if (!variable && onlyReadByOperator(ops, i))
      {
         ops[i].kind = SlotOp::kPushValueLent;
         continue;
      }
      if (variable && comparedWithText(ops, i))
      {
         ops[i].kind = SlotOp::kPushVarLent;
         continue;
      }
      // Where the pushed value is, counted from the top of the data stack.
      int32_t depth = 1;
      for (size_t j = i + 1; j < ops.size(); j++)
      {
         const SlotOp &op = ops[j];
         if ((variable && assigns(op, ops[i].slot)) || op.kind == SlotOp::kLeave || op.kind == SlotOp::kJump ||
             op.kind == SlotOp::kJumpZero || op.kind == SlotOp::kJumpNonZero || op.kind == SlotOp::kReturn ||
             op.kind == SlotOp::kReturnNull)
            break;
         if (operandsTaken(op) >= depth)
         {
            if (op.kind == SlotOp::kCallName)
               ops[i].kind = variable ? SlotOp::kPushVarLent : SlotOp::kPushValueLent;
            break;
         }
         depth += depthChange(op);
      }
   }
}

bool isComparison(int opcode)
{
   return opcode == EQ || opcode == NE || opcode == LT || opcode == LE || opcode == GT || opcode == GE;
}

// The kind of op the instruction pair `first`, `second` makes, or kLeave for none.
SlotOp::Kind pairKind(const SlotOp &first, const SlotOp &second)
{
   const bool popsOne = second.kind == SlotOp::kPop && second.number == 1;
   switch (first.kind)
   {
      case SlotOp::kSet:
         return popsOne ? SlotOp::kSetPop : SlotOp::kLeave;
      case SlotOp::kStep:
         return popsOne ? SlotOp::kStepPop : SlotOp::kLeave;
      case SlotOp::kPushVar:
         if (second.kind == SlotOp::kPushVar)
            return SlotOp::kPushVarVar;
         return (second.kind == SlotOp::kOperate) ? SlotOp::kOperateVar : SlotOp::kLeave;
      case SlotOp::kElementSet:
         return popsOne ? SlotOp::kElementSetPop : SlotOp::kLeave;
      case SlotOp::kPushInt:
         return (second.kind == SlotOp::kOperate) ? SlotOp::kOperateInt : SlotOp::kLeave;
      case SlotOp::kOperate:
         return (isComparison(first.opcode) &&
                 (second.kind == SlotOp::kJumpZero || second.kind == SlotOp::kJumpNonZero))
                   ? SlotOp::kCompareJump
                   : SlotOp::kLeave;
      default:
         return SlotOp::kLeave;
   }
}

// Makes `first` the op of itself and `second` where the two are a pair (see slot_code.h).
void pair(SlotOp *first, const SlotOp &second)
{
   const SlotOp::Kind kind = pairKind(*first, second);
   if (kind == SlotOp::kLeave)
      return;
   first->base = first->kind;
   first->kind = kind;
   if (kind == SlotOp::kOperateVar || kind == SlotOp::kOperateInt)
      first->opcode = second.opcode;
   if (kind == SlotOp::kPushVarVar)
      first->number = second.slot;
   if (kind == SlotOp::kCompareJump)
   {
      first->target = second.target;
      first->jumpIfZero = (second.kind == SlotOp::kJumpZero);
   }
}

bool isConditionalJump(SlotOp::Kind kind)
{
   return kind == SlotOp::kJumpZero || kind == SlotOp::kJumpNonZero;
}

void takeJump(const SlotOp &jump, SlotOp *op)
{
   op->target = jump.target;
   op->jumpIfZero = (jump.kind == SlotOp::kJumpZero);
}

// Makes *op the op of the run of ops from `at` in `plain` (the ops before any pairing),
// where they make one (see slot_code.h); false when they do not.
bool fuseRun(const std::vector<SlotOp> &plain, size_t at, SlotOp *op)
{
   const auto kind = [&](size_t i) { return (at + i < plain.size()) ? plain[at + i].kind : SlotOp::kLeave; };
   const auto opAt = [&](size_t i) -> const SlotOp & { return plain[at + i]; };
   const auto popsOne = [&](size_t i) { return kind(i) == SlotOp::kPop && opAt(i).number == 1; };
   if (kind(0) != SlotOp::kPushVar || (kind(1) != SlotOp::kPushVar && kind(1) != SlotOp::kPushInt))
      return false;
   const bool constant = (kind(1) == SlotOp::kPushInt);
   SlotOp run = *op;
   run.base = SlotOp::kPushVar;
   run.number = opAt(1).number;
   run.other = opAt(1).slot;
   if (!constant && kind(2) == SlotOp::kElementGet && kind(3) == SlotOp::kPushInt &&
       kind(4) == SlotOp::kOperate && isComparison(opAt(4).opcode) && isConditionalJump(kind(5)))
   {
      run.kind = SlotOp::kElementCompareJump;
      run.number = opAt(3).number;
      run.opcode = opAt(4).opcode;
      takeJump(opAt(5), &run);
   }
   else if (!constant && (kind(2) == SlotOp::kPushInt || kind(2) == SlotOp::kPushVar) &&
            kind(3) == SlotOp::kElementSet && popsOne(4))
   {
      run.kind = (kind(2) == SlotOp::kPushInt) ? SlotOp::kStoreInt : SlotOp::kStoreVar;
      run.number = opAt(2).number;
      run.target = opAt(2).slot;
   }
   else if (kind(2) == SlotOp::kOperate && isComparison(opAt(2).opcode) && isConditionalJump(kind(3)))
   {
      run.kind = constant ? SlotOp::kVarIntCompareJump : SlotOp::kVarCompareJump;
      run.opcode = opAt(2).opcode;
      takeJump(opAt(3), &run);
   }
   else if (kind(2) == SlotOp::kOperate && kind(3) == SlotOp::kSet && popsOne(4))
   {
      run.kind = constant ? SlotOp::kVarIntOperateSet : SlotOp::kVarOperateSet;
      run.opcode = opAt(2).opcode;
      run.target = opAt(3).slot;
   }
   else
   {
      return false;
   }
   *op = run;
   return true;
}

// CONCAT, SET, POP 1 from `at`: the assignment of a concatenation, one op (see
// slot_code.h); false when the ops there are not that.
bool fuseAssignedConcatenation(const std::vector<SlotOp> &plain, size_t at, SlotOp *op)
{
   if (at + 2 >= plain.size() || plain[at].kind != SlotOp::kOperate || plain[at].opcode != CONCAT ||
       plain[at + 1].kind != SlotOp::kSet || plain[at + 2].kind != SlotOp::kPop || plain[at + 2].number != 1)
      return false;
   op->base = SlotOp::kOperate;
   op->kind = SlotOp::kConcatSetPop;
   op->slot = plain[at + 1].slot;
   return true;
}

}  // namespace

bool CompileSlotFunction(ORVA_Instruction *const *code, uint32_t codeSize, uint32_t start, uint32_t binds,
                         SlotFunction *function)
{
   const uint32_t end = functionEnd(code, codeSize, start);
   if (end >= codeSize || start + binds > end)
      return false;
   function->start = start;
   function->binds = binds;
   Translator translator(function);
   for (uint32_t i = 0; i < binds; i++)
   {
      if (code[start + i]->getOpcode() != BIND || !translator.parameter(code[start + i]->getNameOperand()))
         return false;
      function->ops.push_back(SlotOp{SlotOp::kLeave, SlotOp::kLeave, false, BIND, 0, 0, 0, 0, {nullptr}});
   }
   for (uint32_t position = start + binds; position <= end; position++)
   {
      if (!translator.take(code[position]))
         return false;
   }
   for (uint32_t position = start + binds; position + 3 <= end; position++)
   {
      if (code[position]->getOpcode() == PUSH_CONST &&
          !translator.foreach(code[position], code[position + 1], code[position + 2], code[position + 3],
                              position - start))
         return false;
   }
   function->slotCount = static_cast<uint32_t>(function->names.size());
   if (function->ops[binds].kind == SlotOp::kLeave || !measureDepth(function))
      return false;
   markLentPushes(function->ops);
   const std::vector<SlotOp> plain = function->ops;
   for (size_t i = binds; i + 1 < function->ops.size(); i++)
   {
      if (!fuseRun(plain, i, &function->ops[i]) && !fuseAssignedConcatenation(plain, i, &function->ops[i]))
         pair(&function->ops[i], plain[i + 1]);
   }
   return true;
}
