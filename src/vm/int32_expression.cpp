// Decoding of the statements the engine runs on int32 numbers (see int32_expression.h).
#include "vm/int32_expression.h"

namespace {

// The operators ComputeInt32 (vm/engine.h) computes for two int32 values.
bool isInt32Operator(int opcode)
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
   explicit Decoder(Int32Expression *expression) : m_expression(expression) {}

   // Takes one operand or operation instruction; false when it cannot be part of the
   // statement.
   bool take(const ORVA_Instruction *instruction)
   {
      const int opcode = instruction->getOpcode();
      if (opcode == PUSH_VAR || opcode == PUSH_CONST)
         return push(opcode == PUSH_VAR ? Int32Step::kVariable : Int32Step::kConstant, instruction);
      if (m_depth < 2)
         return false;
      if (opcode == EGET)
         return makeArray(m_depth - 2) && combine(Int32Step::kElement, instruction);
      if (isInt32Operator(opcode))
         return combine(Int32Step::kOperation, instruction);
      return false;
   }

   // True when exactly one number is left and an operation made it.
   bool complete() const { return m_depth == 1 && m_entries[0].computed; }

   // True when an array, an index and a computed number are left, as ESET wants them; the
   // array's step then reads the array.
   bool storable()
   {
      return m_depth == 3 && m_entries[2].computed && makeArray(0);
   }

   uint32_t stepCount() const { return m_expression->stepCount; }

private:
   bool makeArray(uint32_t position)
   {
      if (!m_entries[position].variable)
         return false;
      m_expression->steps[m_entries[position].step].kind = Int32Step::kArray;
      return true;
   }

   bool push(Int32Step::Kind kind, const ORVA_Instruction *instruction)
   {
      if (!addStep(kind, instruction))
         return false;
      m_entries[m_depth++] = {m_expression->stepCount - 1, kind == Int32Step::kVariable, false};
      return true;
   }

   bool combine(Int32Step::Kind kind, const ORVA_Instruction *instruction)
   {
      if (!addStep(kind, instruction))
         return false;
      m_depth--;
      m_entries[m_depth - 1] = {m_expression->stepCount - 1, false, true};
      return true;
   }

   bool addStep(Int32Step::Kind kind, const ORVA_Instruction *instruction)
   {
      if (m_expression->stepCount == Int32Expression::kMaxSteps)
         return false;
      m_expression->steps[m_expression->stepCount++] = {kind, instruction->getOpcode(), instruction};
      return true;
   }

   Int32Expression *m_expression;
   Entry m_entries[Int32Expression::kMaxSteps];
   uint32_t m_depth = 0;
};

bool isPopOne(const ORVA_Instruction *instruction)
{
   return instruction->getOpcode() == POP && instruction->getIntOperand() == 1;
}

// Ends the statement with the instruction at `position` and the ones it takes along.
bool finish(Int32Expression *expression, Int32Expression::End end, const ORVA_Instruction *target, uint32_t covered)
{
   expression->end = end;
   expression->target = target;
   expression->length = covered;
   return true;
}

// A POP 1 after SET or ESET, and a JMP after that, belong to the statement.
bool finishDropped(ORVA_Instruction *const *code, uint32_t codeSize, uint32_t start, uint32_t position,
                   Int32Expression *expression, Int32Expression::End end)
{
   if (position + 1 >= codeSize || !isPopOne(code[position + 1]))
      return false;
   finish(expression, end, code[position], position - start + 2);
   if (position + 2 < codeSize && code[position + 2]->getOpcode() == JMP)
   {
      expression->jump = code[position + 2];
      expression->length++;
   }
   return true;
}

}  // namespace

bool DecodeInt32Expression(ORVA_Instruction *const *code, uint32_t codeSize, uint32_t start,
                           Int32Expression *expression)
{
   expression->stepCount = 0;
   expression->jump = nullptr;
   expression->runs = 0;
   expression->misses = 0;
   Decoder decoder(expression);
   for (uint32_t position = start; position < codeSize; position++)
   {
      const ORVA_Instruction *instruction = code[position];
      const int opcode = instruction->getOpcode();
      if (opcode == JZ || opcode == JNZ)
      {
         // Two operands and one operation before a branch are decided as they are pushed.
         if (!decoder.complete() || decoder.stepCount() <= 3)
            return false;
         return finish(expression, Int32Expression::kBranch, instruction, position - start + 1);
      }
      if (opcode == SET && decoder.complete() &&
          finishDropped(code, codeSize, start, position, expression, Int32Expression::kAssign))
         return true;
      if (opcode == ESET && decoder.storable())
         return finishDropped(code, codeSize, start, position, expression, Int32Expression::kStore);
      if (!decoder.take(instruction))
      {
         // Whatever comes next takes the number from the stack.
         if (!decoder.complete())
            return false;
         return finish(expression, Int32Expression::kPush, nullptr, position - start);
      }
   }
   return false;
}
