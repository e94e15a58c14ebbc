// Statements the engine runs faster than instruction by instruction, decoded once per run
// from the instructions that start them.
//
// Statements on int32 values. A statement such as `s = (s + i * 7) % 1000003;` or
// `flags[j] = 0;`, the condition of `while (flags[j] < n)` or an argument such as `k - 1`
// compiles to a run of
// PUSH_VAR/PUSH_CONST, int32-capable binary operators and EGET. The run ends in SET x;
// POP 1 (an assignment), in JZ/JNZ (a branch), in ESET; POP 1 (an element store), or in
// any other instruction, which then takes the one number left (a push). Such a run is
// evaluated on plain int32 numbers without making a value per operand; as soon as an
// operand is not an unnamed int32 (or an operation would take another path, such as a
// remainder by zero), the engine gives up and runs the instructions one by one, which
// then do exactly what they always do.
//
// Appends. `s .= x` compiles to PUSH_VAR s, the instructions of x, CONCAT, SET s, POP 1.
// When x's instructions cannot change s (operands, operators other than the matches,
// casts and element reads only), the text of s can grow in place instead of being copied
// onto the stack first.
#ifndef ORVA_VM_DECODED_STATEMENT_H
#define ORVA_VM_DECODED_STATEMENT_H

#include <cstdint>

#include <orva.h>

#include "vm/opcodes.h"

// One operand or operation of a decoded statement, in the order of the instructions.
struct StatementStep
{
   enum Kind : uint8_t
   {
      kVariable,          // PUSH_VAR of an int32 variable
      kConstant,          // PUSH_CONST of an unnamed int32 constant, read when decoded
      kArray,             // PUSH_VAR of the array an EGET reads from
      kOperation,         // a binary operator on the two numbers on top
      kElement,           // EGET: the int32 element of the array below at the index on top
      kVariableOperation, // PUSH_VAR and the operator that takes it at once as its right operand
      kConstantOperation  // PUSH_CONST and the operator that takes it at once as its right operand
   };
   Kind kind;
   // The operator of the operations.
   uint8_t opcode;
   // The number of a constant.
   int32_t number;
   // The PUSH of an operand, else the instruction of the step.
   const ORVA_Instruction *instruction;
};

struct DecodedStatement
{
   // Most operands and operations in one decoded statement.
   static constexpr uint32_t kMaxSteps = 32;

   enum End : uint8_t
   {
      kAssign,  // SET target; POP 1 (and `jump` when a JMP follows)
      kBranch,  // JZ or JNZ: target is the jump instruction
      kStore,   // ESET target; POP 1 (and `jump`): the first step is the array
      kPush,    // the number is pushed for the instruction after the statement
      kAppend   // PUSH_VAR s, x, CONCAT, SET s, POP 1: length is the offset of the CONCAT
   };

   StatementStep steps[kMaxSteps];
   uint32_t stepCount;
   End end;
   // How often the statement ran in one step and how often it had to give up; the
   // engine stops trying a statement that mostly gives up.
   mutable uint32_t runs;
   mutable uint32_t misses;
   const ORVA_Instruction *target;
   // Instructions the statement covers, the ending ones included.
   uint32_t length;
   // For kAssign and kStore: the JMP that follows, taken as part of the statement, or null.
   const ORVA_Instruction *jump;
};

// Decodes the statement on int32 values starting at `start`; false when the instructions
// there are not one (or have no operation, so that there is nothing to gain).
bool DecodeStatement(ORVA_Instruction *const *code, uint32_t codeSize, uint32_t start, DecodedStatement *statement);

// Decodes an append starting at `start` (see above); false when the instructions there
// are not one.
bool DecodeAppend(ORVA_Instruction *const *code, uint32_t codeSize, uint32_t start, DecodedStatement *statement);

#endif
