// Small helpers shared by the execution engine and the operator dispatch.
#ifndef ORVA_VM_ENGINE_H
#define ORVA_VM_ENGINE_H

#include <cstdint>
#include <cwchar>
#include <memory>

#include <orva.h>

#include "vm/opcodes.h"

// How many script function calls may be nested. Each call costs a frame on the control
// stack and a local set, not native stack, so the limit only guards against runaway
// recursion: deep enough for any sensible script, small enough to fail fast.
constexpr uint32_t kMaxCallDepth = 32768;

// Room for "$" and the decimal digits of any uint32, terminator included.
constexpr size_t kDollarNameSize = 16;

// Writes "$<number>" into buffer: the name of argument variables ("$1", "$2", ...) and of
// regular-expression capture variables. Formats digits directly: no printf on this path.
inline void FormatDollarName(wchar_t (&buffer)[kDollarNameSize], uint32_t number)
{
   wchar_t digits[12];
   int count = 0;
   do
   {
      digits[count++] = static_cast<wchar_t>(L'0' + number % 10);
      number /= 10;
   } while (number != 0);
   int length = 0;
   buffer[length++] = L'$';
   while (count > 0)
      buffer[length++] = digits[--count];
   buffer[length] = 0;
}

// The operators ComputeInt32 computes for two int32 values.
inline bool IsInt32Operator(int opcode)
{
   switch (opcode)
   {
      case ADD: case SUB: case MUL: case REM:
      case EQ: case NE: case LT: case LE: case GT: case GE:
      case AND: case OR:
         return true;
      default:
         return false;
   }
}

// What the operator `opcode` gives for two int32 operands when they need no conversion:
// true with *number (and *comparison for the operators whose result is a truth value), or
// false for operators that take the general path (division, shifts, bitwise, CONCAT, the
// matches, CASE) and for a remainder by zero, which raises its error there.
__attribute__((always_inline)) inline bool ComputeInt32(int opcode, int32_t a, int32_t b, int32_t *number, bool *comparison)
{
   const auto ua = static_cast<uint32_t>(a);
   const auto ub = static_cast<uint32_t>(b);
   *comparison = true;
   switch (opcode)
   {
      case ADD: *number = static_cast<int32_t>(ua + ub); *comparison = false; return true;
      case SUB: *number = static_cast<int32_t>(ua - ub); *comparison = false; return true;
      case MUL: *number = static_cast<int32_t>(ua * ub); *comparison = false; return true;
      case REM:
         if (b == 0)
            return false;
         *number = (b == -1) ? 0 : a % b;
         *comparison = false;
         return true;
      case EQ: *number = (a == b); return true;
      case NE: *number = (a != b); return true;
      case LT: *number = (a < b); return true;
      case LE: *number = (a <= b); return true;
      case GT: *number = (a > b); return true;
      case GE: *number = (a >= b); return true;
      case AND: *number = (a != 0 && b != 0); return true;
      case OR: *number = (a != 0 || b != 0); return true;
      default: return false;
   }
}

// Charges work done inside the current instruction to the run as `steps` instructions
// (see ORVA_Engine::chargeSteps in engine.cpp): 0, or the error code that is due,
// ORVA_ERR_INTERRUPTED or ORVA_ERR_STEP_LIMIT. Never throws.
int ChargeRunSteps(ORVA_Program *program, uint64_t steps);

// For the slot runner (slot_runner.h), which runs script functions beside the instruction
// loop and hands calls back to it.
// The next slice of the step budget at a checkpoint of the instruction loop: how many
// instructions may run until the next, or 0 with *code set to the error that is due
// (an interrupt request, the step limit), which the caller raises.
uint32_t NextRunSlice(ORVA_Program *program, int *code);
// Opens a call's frame as a call from the current position does (its empty local set,
// the caller's place on the control stack, a new lookup epoch) and returns the set.
ORVA_VariableSystem *OpenCallFrame(ORVA_Program *program);
// Whether a call of the function at `address` may leave out "$1".."$n" (nothing in the
// function can see them), with the parameters the call then binds itself.
bool BindsItsParameters(const ORVA_Program *program, uint32_t address, uint32_t *binds);
// Calls a built-in or host handler as CALL_NAME does: a result that is one of the
// arguments becomes a copy of it, and a result stored before the handler threw goes.
int CallHandler(ORVA_Program *program, const ORVA_ExtFunction *function, int argc, ORVA_Value **argv,
                ORVA_Value **result);
// 0, or the limit error a value a call made raises (a text or an array too large). Most
// programs set neither limit, and then nothing is looked at.
int CheckCreatedValueAgainstLimits(const ORVA_Program *program, ORVA_Value *value);
inline int CheckCreatedValue(const ORVA_Program *program, ORVA_Value *value)
{
   const ORVA_RunLimits &limits = program->getRunLimits();
   if (limits.maxTextLength == 0 && limits.maxArrayElements == 0)
      return 0;
   return CheckCreatedValueAgainstLimits(program, value);
}
// What EQ compares when the operands are not both numbers: their texts (none counts as
// the empty text, and null equals only null). A number's text may be formed.
bool SameText(ORVA_Value *left, ORVA_Value *right);

// A new value holding a new empty array; nothing is left behind when memory runs out.
inline ORVA_Value *NewArrayValue()
{
   std::unique_ptr<ORVA_Array> array(new ORVA_Array());
   auto *value = new ORVA_Value(array.get());
   array.release();
   return value;
}

#endif
