// Decoding of the statements the engine runs faster (see decoded_statement.h).
#include "vm/decoded_statement.h"

#include <cwchar>

#include "values/plain_int32.h"
#include "vm/engine.h"

namespace {

// A constant the statement can compute with: an int32 without a name (an operation's
// result keeps its left operand's name, which a plain number cannot stand for).
bool isPlainInt32(const ORVA_Value *value)
{
   return value != nullptr && value->getDataType() == ORVA_DT_INT32 && value->getName() == nullptr;
}

// What stands on the decoding stack: the step that pushed it, whether that step was a
// plain PUSH_VAR (which an EGET or ESET may turn into the array it works on), and whether
// an operation made it.
struct Entry
{
   uint32_t step;
   bool variable;
   bool computed;
};

class Decoder
{
public:
   explicit Decoder(DecodedStatement *statement) : m_statement(statement) {}

   // Takes one operand or operation instruction; false when it cannot be part of the
   // statement.
   bool take(const ORVA_Instruction *instruction)
   {
      const int opcode = instruction->getOpcode();
      if (opcode == PUSH_VAR)
         return push(StatementStep::kVariable, instruction);
      if (opcode == PUSH_CONST)
         return isPlainInt32(instruction->getConstant()) && push(StatementStep::kConstant, instruction);
      if (m_depth < 2)
         return false;
      if (opcode == EGET)
         return makeArray(m_depth - 2) && combine(StatementStep::kElement, instruction);
      if (IsInt32Operator(opcode))
         return takeRightOperand(opcode) || combine(StatementStep::kOperation, instruction);
      return false;
   }

   // True when exactly one number is left and an operation made it.
   bool complete() const { return m_depth == 1 && m_entries[0].computed; }

   // True when an array, an index and a number are left, as ESET wants them; the array's
   // step then reads the array. The number is computed or a constant that keeps no text
   // of its own: a variable's value or the constant "0x1F" keeps its text, which the
   // element must keep too.
   bool storable()
   {
      return m_depth == 3 && (m_entries[2].computed || isPlainConstant(m_entries[2])) && makeArray(0);
   }

private:
   bool isPlainConstant(const Entry &entry) const
   {
      const StatementStep &step = m_statement->steps[entry.step];
      return step.kind == StatementStep::kConstant && IsPlainInt32(step.instruction->getConstant());
   }

   bool makeArray(uint32_t position)
   {
      if (!m_entries[position].variable)
         return false;
      m_statement->steps[m_entries[position].step].kind = StatementStep::kArray;
      return true;
   }

   bool push(StatementStep::Kind kind, const ORVA_Instruction *instruction)
   {
      if (!addStep(kind, instruction))
         return false;
      m_entries[m_depth++] = {m_statement->stepCount - 1, kind == StatementStep::kVariable, false};
      return true;
   }

   // An operator whose right operand was pushed just before it: the push's step becomes
   // the operation on the number below, which spares a step and a place on the stack.
   bool takeRightOperand(int opcode)
   {
      const Entry &right = m_entries[m_depth - 1];
      StatementStep &push = m_statement->steps[right.step];
      if (right.computed || right.step + 1 != m_statement->stepCount ||
          (push.kind != StatementStep::kVariable && push.kind != StatementStep::kConstant))
         return false;
      push.kind = (push.kind == StatementStep::kVariable) ? StatementStep::kVariableOperation
                                                          : StatementStep::kConstantOperation;
      push.opcode = static_cast<uint8_t>(opcode);
      m_depth--;
      m_entries[m_depth - 1] = {right.step, false, true};
      return true;
   }

   bool combine(StatementStep::Kind kind, const ORVA_Instruction *instruction)
   {
      if (!addStep(kind, instruction))
         return false;
      m_depth--;
      m_entries[m_depth - 1] = {m_statement->stepCount - 1, false, true};
      return true;
   }

   bool addStep(StatementStep::Kind kind, const ORVA_Instruction *instruction)
   {
      if (m_statement->stepCount == DecodedStatement::kMaxSteps)
         return false;
      // A constant never changes during a run: its number is read once, here.
      const int32_t number = (kind == StatementStep::kConstant) ? instruction->getConstant()->getValueAsInt32() : 0;
      m_statement->steps[m_statement->stepCount++] = {kind, static_cast<uint8_t>(instruction->getOpcode()), number,
                                                      instruction};
      return true;
   }

   DecodedStatement *m_statement;
   Entry m_entries[DecodedStatement::kMaxSteps];
   uint32_t m_depth = 0;
};

bool isPopOne(const ORVA_Instruction *instruction)
{
   return instruction->getOpcode() == POP && instruction->getIntOperand() == 1;
}

void clear(DecodedStatement *statement)
{
   statement->stepCount = 0;
   statement->jump = nullptr;
   statement->runs = 0;
   statement->misses = 0;
}

// Ends the statement with the instruction at `position` and the ones it takes along.
bool finish(DecodedStatement *statement, DecodedStatement::End end, const ORVA_Instruction *target, uint32_t covered)
{
   statement->end = end;
   statement->target = target;
   statement->length = covered;
   return true;
}

// A POP 1 after SET or ESET, and a JMP after that, belong to the statement.
bool finishDropped(ORVA_Instruction *const *code, uint32_t codeSize, uint32_t start, uint32_t position,
                   DecodedStatement *statement, DecodedStatement::End end)
{
   if (position + 1 >= codeSize || !isPopOne(code[position + 1]))
      return false;
   finish(statement, end, code[position], position - start + 2);
   if (position + 2 < codeSize && code[position + 2]->getOpcode() == JMP)
   {
      statement->jump = code[position + 2];
      statement->length++;
   }
   return true;
}

}  // namespace

bool DecodeStatement(ORVA_Instruction *const *code, uint32_t codeSize, uint32_t start, DecodedStatement *statement)
{
   clear(statement);
   Decoder decoder(statement);
   for (uint32_t position = start; position < codeSize; position++)
   {
      const ORVA_Instruction *instruction = code[position];
      const int opcode = instruction->getOpcode();
      if (opcode == JZ || opcode == JNZ)
      {
         // Two operands and one operation before a branch are decided as they are pushed.
         if (!decoder.complete() || position - start <= 3)
            return false;
         return finish(statement, DecodedStatement::kBranch, instruction, position - start + 1);
      }
      if (opcode == SET && decoder.complete() &&
          finishDropped(code, codeSize, start, position, statement, DecodedStatement::kAssign))
         return true;
      if (opcode == ESET && decoder.storable())
         return finishDropped(code, codeSize, start, position, statement, DecodedStatement::kStore);
      if (!decoder.take(instruction))
      {
         // Whatever comes next takes the number from the stack.
         if (!decoder.complete())
            return false;
         return finish(statement, DecodedStatement::kPush, nullptr, position - start);
      }
   }
   return false;
}

namespace {

// How many values an instruction that cannot change a variable takes from the stack (it
// puts one back), or false for any other instruction.
bool takenByPureInstruction(int opcode, uint32_t *taken)
{
   switch (opcode)
   {
      case PUSH_VAR: case PUSH_CONST:
         *taken = 0;
         return true;
      case NEG: case NOT: case BITNOT: case CAST:
         *taken = 1;
         return true;
      case ADD: case SUB: case MUL: case DIV: case REM:
      case EQ: case NE: case LT: case LE: case GT: case GE:
      case BITAND: case BITOR: case BITXOR: case AND: case OR:
      case LSHIFT: case RSHIFT: case CONCAT: case LIKE: case ILIKE: case EGET:
         *taken = 2;
         return true;
      default:
         return false;
   }
}

}  // namespace

bool DecodeAppend(ORVA_Instruction *const *code, uint32_t codeSize, uint32_t start, DecodedStatement *statement)
{
   const ORVA_Instruction *push = code[start];
   if (push->getOpcode() != PUSH_VAR || push->getNameOperand() == nullptr)
      return false;
   // Values above the one PUSH_VAR pushed.
   uint32_t depth = 0;
   for (uint32_t position = start + 1; position + 2 < codeSize; position++)
   {
      const int opcode = code[position]->getOpcode();
      if (opcode == CONCAT && depth == 1)
      {
         const ORVA_Instruction *set = code[position + 1];
         if (set->getOpcode() != SET || set->getNameOperand() == nullptr ||
             wcscmp(set->getNameOperand(), push->getNameOperand()) != 0 || !isPopOne(code[position + 2]))
            return false;
         clear(statement);
         return finish(statement, DecodedStatement::kAppend, set, position - start);
      }
      uint32_t taken;
      if (!takenByPureInstruction(opcode, &taken) || depth < taken)
         return false;
      depth = depth - taken + 1;
   }
   return false;
}
