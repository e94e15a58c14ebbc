// ORVA_Instruction: one record of a program's code. The operand slot holds, depending on
// the opcode's operand kind (vm/opcodes.h), nothing, a code address, an owned wide-string
// name or an owned constant value. The engine's variable cache always starts empty and
// is never copied: it points into the variable sets of one particular run.
#include <cstdlib>

#include "platform/platform.h"
#include "vm/opcodes.h"

ORVA_Instruction::ORVA_Instruction(int line, int opcode)
   : m_opcode(opcode), m_intOperand(0), m_sourceLine(line),
     m_cacheRun(0), m_cacheConstants(0), m_cacheGlobals(0), m_cacheIndex(0), m_cacheSet(0)
{
   m_operand.raw = nullptr;
}

ORVA_Instruction::ORVA_Instruction(int line, int opcode, ORVA_Value *constant)
   : m_opcode(opcode), m_intOperand(0), m_sourceLine(line),
     m_cacheRun(0), m_cacheConstants(0), m_cacheGlobals(0), m_cacheIndex(0), m_cacheSet(0)
{
   m_operand.constant = constant;
}

ORVA_Instruction::ORVA_Instruction(int line, int opcode, char *name)
   : ORVA_Instruction(line, opcode, name, 0)
{
}

ORVA_Instruction::ORVA_Instruction(int line, int opcode, char *name, int intOperand)
   : m_opcode(opcode), m_intOperand(intOperand), m_sourceLine(line),
     m_cacheRun(0), m_cacheConstants(0), m_cacheGlobals(0), m_cacheIndex(0), m_cacheSet(0)
{
   m_operand.name = WideStringFromUTF8String(name);
   free(name);
}

ORVA_Instruction::ORVA_Instruction(int line, int opcode, uint32_t address)
   : m_opcode(opcode), m_intOperand(0), m_sourceLine(line),
     m_cacheRun(0), m_cacheConstants(0), m_cacheGlobals(0), m_cacheIndex(0), m_cacheSet(0)
{
   m_operand.raw = nullptr;
   m_operand.addr = address;
}

ORVA_Instruction::ORVA_Instruction(int line, int opcode, int intOperand)
   : m_opcode(opcode), m_intOperand(intOperand), m_sourceLine(line),
     m_cacheRun(0), m_cacheConstants(0), m_cacheGlobals(0), m_cacheIndex(0), m_cacheSet(0)
{
   m_operand.raw = nullptr;
}

ORVA_Instruction::ORVA_Instruction(const ORVA_Instruction *src)
   : m_opcode(src->m_opcode), m_intOperand(src->m_intOperand), m_sourceLine(src->m_sourceLine),
     m_cacheRun(0), m_cacheConstants(0), m_cacheGlobals(0), m_cacheIndex(0), m_cacheSet(0)
{
   switch (operandKindOf(m_opcode))
   {
      case ORVA_OperandKind::Name:
         m_operand.name = (src->m_operand.name != nullptr) ? qv_wcsdup(src->m_operand.name) : nullptr;
         break;
      case ORVA_OperandKind::Constant:
         m_operand.constant = (src->m_operand.constant != nullptr) ? new ORVA_Value(src->m_operand.constant) : nullptr;
         break;
      default:
         m_operand.raw = src->m_operand.raw;
         break;
   }
}

ORVA_Instruction::~ORVA_Instruction()
{
   releaseOperand();
}

// Releases an owned name or constant and leaves the slot empty.
void ORVA_Instruction::releaseOperand()
{
   switch (operandKindOf(m_opcode))
   {
      case ORVA_OperandKind::Name:
         free(m_operand.name);
         break;
      case ORVA_OperandKind::Constant:
         delete m_operand.constant;
         break;
      default:
         break;
   }
   m_operand.raw = nullptr;
}
