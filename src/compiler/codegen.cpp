// Code generation: what the grammar's actions emit.
//
// Jumps. A forward JMP or JZ is appended with the address 0xFFFFFFFF and closed by
// resolveLastJump when its target is reached; constructs nest, so the newest open jump of an
// opcode always belongs to the innermost construct still open. Backward targets (the
// condition of while, the start of do, the increment of for, the NEXT of foreach) sit on the
// compiler's address stack; the top entry is the innermost loop's continue target.
//
// Break lists. Every loop and switch opens a break list on the compiler's break stack. A
// `break` appends a NOP placeholder and records its address in the innermost list; when the
// construct ends, closeBreakList turns each placeholder into a JMP to the instruction after
// the construct. Addresses are stored as plain numbers in a Queue, so address 0 is an
// ordinary entry: lists are walked by their size, never until a null.
//
// A switch keeps its value on the data stack while its cases run. A `continue` inside a
// switch leaves the switch for the loop's continue target, so it first drops the value of
// every switch it leaves (one POP 1 each); the compiler counts the switches open inside
// each open loop.
#include "compiler/codegen.h"
#include "vm/instruction_memory.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

void *addressToSlot(uint32_t address)
{
   return reinterpret_cast<void *>(static_cast<uintptr_t>(address));
}

uint32_t slotToAddress(void *slot)
{
   return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(slot));
}

void append(ORVA_Program *program, ORVA_Instruction *instruction)
{
   program->addInstruction(instruction);
}

void genJump(ORVA_Compiler *compiler, ORVA_Program *program, int opcode, uint32_t address)
{
   append(program, new ORVA_Instruction(compiler->getCurrentLine(), opcode, address));
}

// Registers a function and reports a duplicate name as a compile error.
void registerFunction(ORVA_Compiler *compiler, ORVA_Program *program, const char *name, uint32_t address)
{
   char message[kFunctionErrorBufferSize];
   message[0] = 0;
   if (!program->addFunction(name, address, message, sizeof(message)))
      compiler->error(message);
}

Queue *topBreakList(ORVA_Compiler *compiler)
{
   return static_cast<Queue *>(compiler->m_breakStack->peek());
}

// A loop body starts: it is the continue target of the switches opened inside it.
void openLoop(ORVA_Compiler *compiler)
{
   compiler->m_openSwitches.push_back(0);
}

void closeLoop(ORVA_Compiler *compiler)
{
   if (!compiler->m_openSwitches.empty())
      compiler->m_openSwitches.pop_back();
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Address stack and break lists
// ---------------------------------------------------------------------------------------

void ORVA_Compiler::pushAddr(uint32_t address)
{
   m_addrStack->push(addressToSlot(address));
}

uint32_t ORVA_Compiler::popAddr()
{
   if (m_addrStack->getSize() == 0)
      return ORVA_INVALID_ADDRESS;
   return slotToAddress(m_addrStack->pop());
}

uint32_t ORVA_Compiler::peekAddr() const
{
   if (m_addrStack->getSize() == 0)
      return ORVA_INVALID_ADDRESS;
   return slotToAddress(m_addrStack->peek());
}

void ORVA_Compiler::newBreakList()
{
   m_breakStack->push(new Queue());
}

void ORVA_Compiler::closeBreakList(ORVA_Program *program)
{
   if (m_breakStack->getSize() == 0)
      return;
   Queue *list = static_cast<Queue *>(m_breakStack->pop());
   uint32_t here = program->getCodeSize();
   for (int n = list->Size(); n > 0; n--)
   {
      uint32_t address = slotToAddress(list->Get());
      if (address < here)
         program->createJumpAt(address, here);
   }
   delete list;
}

void discardOpenBreakLists(ORVA_Compiler *compiler)
{
   while (compiler->m_breakStack->getSize() > 0)
      delete static_cast<Queue *>(compiler->m_breakStack->pop());
}

// ---------------------------------------------------------------------------------------
// Plain instructions
// ---------------------------------------------------------------------------------------

ORVA_Instruction *newInstruction(ORVA_Compiler *compiler, int opcode)
{
   return new ORVA_Instruction(compiler->getCurrentLine(), opcode);
}

void genOp(ORVA_Compiler *compiler, ORVA_Program *program, int opcode)
{
   append(program, newInstruction(compiler, opcode));
}

void genPop(ORVA_Compiler *compiler, ORVA_Program *program)
{
   append(program, new ORVA_Instruction(compiler->getCurrentLine(), POP, 1));
}

void genName(ORVA_Compiler *compiler, ORVA_Program *program, int opcode, const char *name)
{
   genNameInt(compiler, program, opcode, name, 0);
}

void genNameInt(ORVA_Compiler *compiler, ORVA_Program *program, int opcode, const char *name, int intOperand)
{
   append(program, newNamedInstruction(compiler->getCurrentLine(), opcode, name, intOperand));
}

void genConstant(ORVA_Compiler *compiler, ORVA_Program *program, int opcode, ORVA_Value *constant)
{
   append(program, instructionWithCompiledConstant(compiler->getCurrentLine(), opcode, constant));
}

void genCast(ORVA_Compiler *compiler, ORVA_Program *program, int dataType)
{
   append(program, new ORVA_Instruction(compiler->getCurrentLine(), CAST, dataType));
}

void genForwardJump(ORVA_Compiler *compiler, ORVA_Program *program, int opcode)
{
   genJump(compiler, program, opcode, ORVA_INVALID_ADDRESS);
}

// ---------------------------------------------------------------------------------------
// Script and functions
// ---------------------------------------------------------------------------------------

// The top-level code is the function "$main" at address 0; a script that is one
// expression returns its value, any other script ends with NRET.
void genMainEnd(ORVA_Compiler *compiler, ORVA_Program *program, bool isExpression)
{
   if (isExpression)
   {
      genOp(compiler, program, RET);
      registerFunction(compiler, program, "$main", 0);
   }
   else
   {
      registerFunction(compiler, program, "$main", 0);
      genOp(compiler, program, NRET);
   }
}

// sub f(...): top-level code jumps over the body; f starts right after that jump.
void genFunctionStart(ORVA_Compiler *compiler, ORVA_Program *program, const char *name)
{
   genForwardJump(compiler, program, JMP);
   registerFunction(compiler, program, name, ORVA_INVALID_ADDRESS);
   compiler->m_idListOpcode = BIND;
}

void genFunctionEnd(ORVA_Compiler *compiler, ORVA_Program *program)
{
   genOp(compiler, program, NRET);
   program->resolveLastJump(JMP);
}

// One name of a parameter list or of an array declaration.
void genIdentifierListItem(ORVA_Compiler *compiler, ORVA_Program *program, const char *name)
{
   genName(compiler, program, compiler->m_idListOpcode, name);
}

// ---------------------------------------------------------------------------------------
// Expressions
// ---------------------------------------------------------------------------------------

// x op= e starts by pushing x; the name itself stays with the parser for the final SET.
void genPushVarCopy(ORVA_Compiler *compiler, ORVA_Program *program, const char *name)
{
   genName(compiler, program, PUSH_VAR, name);
}

void genCompoundAssign(ORVA_Compiler *compiler, ORVA_Program *program, int opcode, const char *name)
{
   genOp(compiler, program, opcode);
   genName(compiler, program, SET, name);
}

// c ? a : b — after a: jump over b, and let the JZ of the condition land on b.
void genConditionalElse(ORVA_Compiler *compiler, ORVA_Program *program)
{
   genForwardJump(compiler, program, JMP);
   program->resolveLastJump(JZ);
}

// ---------------------------------------------------------------------------------------
// Simple statements
// ---------------------------------------------------------------------------------------

// return; exit; print; act on a null value.
void genValuelessStatement(ORVA_Compiler *compiler, ORVA_Program *program, ORVA_Instruction *instruction)
{
   genConstant(compiler, program, PUSH_CONST, newCompiledConstant());
   append(program, instruction);
}

void genPrintln(ORVA_Compiler *compiler, ORVA_Program *program, bool withExpression)
{
   genConstant(compiler, program, PUSH_CONST, newCompiledConstant("\n"));
   if (withExpression)
      genOp(compiler, program, CONCAT);
   genOp(compiler, program, PRINT);
}

// ---------------------------------------------------------------------------------------
// Control flow
// ---------------------------------------------------------------------------------------

void genElse(ORVA_Compiler *compiler, ORVA_Program *program)
{
   genForwardJump(compiler, program, JMP);
   program->resolveLastJump(JZ);
}

// while and do: the loop starts here, which is also where continue goes.
void genLoopStart(ORVA_Compiler *compiler, ORVA_Program *program)
{
   compiler->pushAddr(program->getCodeSize());
   compiler->newBreakList();
   openLoop(compiler);
}

void genWhileEnd(ORVA_Compiler *compiler, ORVA_Program *program)
{
   genJump(compiler, program, JMP, compiler->popAddr());
   program->resolveLastJump(JZ);
   compiler->closeBreakList(program);
   closeLoop(compiler);
}

void genDoEnd(ORVA_Compiler *compiler, ORVA_Program *program)
{
   genJump(compiler, program, JNZ, compiler->popAddr());
   compiler->closeBreakList(program);
   closeLoop(compiler);
}

// for (i; c; n) s lays out as
//    code(i) POP 1  Lc: code(c) JZ Le  JMP Lb  Ln: code(n) POP 1  JMP Lc  Lb: code(s) JMP Ln  Le:
void genForInit(ORVA_Compiler *compiler, ORVA_Program *program)
{
   genPop(compiler, program);
   compiler->pushAddr(program->getCodeSize());
}

void genForCondition(ORVA_Compiler *compiler, ORVA_Program *program)
{
   genForwardJump(compiler, program, JZ);
   genForwardJump(compiler, program, JMP);
   compiler->pushAddr(program->getCodeSize());
}

void genForIncrement(ORVA_Compiler *compiler, ORVA_Program *program)
{
   genPop(compiler, program);
   uint32_t increment = compiler->popAddr();
   genJump(compiler, program, JMP, compiler->popAddr());
   compiler->pushAddr(increment);
   compiler->newBreakList();
   openLoop(compiler);
   program->resolveLastJump(JMP);
}

void genForEnd(ORVA_Compiler *compiler, ORVA_Program *program)
{
   genJump(compiler, program, JMP, compiler->popAddr());
   program->resolveLastJump(JZ);
   compiler->closeBreakList(program);
   closeLoop(compiler);
}

// foreach (v : e) s lays out as
//    PUSH_CONST "v"  code(e)  FOREACH  Ln: NEXT  JZ Le  code(s)  JMP Ln  Le: POP 1
void genForEachVariable(ORVA_Compiler *compiler, ORVA_Program *program, const char *name)
{
   genConstant(compiler, program, PUSH_CONST, newCompiledConstant(name));
}

void genForEachStart(ORVA_Compiler *compiler, ORVA_Program *program)
{
   genOp(compiler, program, FOREACH);
   compiler->pushAddr(program->getCodeSize());
   compiler->newBreakList();
   openLoop(compiler);
   genOp(compiler, program, NEXT);
   genForwardJump(compiler, program, JZ);
}

void genForEachEnd(ORVA_Compiler *compiler, ORVA_Program *program)
{
   genJump(compiler, program, JMP, compiler->popAddr());
   program->resolveLastJump(JZ);
   compiler->closeBreakList(program);
   closeLoop(compiler);
   genPop(compiler, program);
}

// A switch opens a break list but no continue target.
void genSwitchStart(ORVA_Compiler *compiler)
{
   compiler->newBreakList();
   if (!compiler->m_openSwitches.empty())
      compiler->m_openSwitches.back()++;
}

void genSwitchEnd(ORVA_Compiler *compiler, ORVA_Program *program)
{
   if (!compiler->m_openSwitches.empty())
      compiler->m_openSwitches.back()--;
   compiler->closeBreakList(program);
   genPop(compiler, program);
}

void genCaseTest(ORVA_Compiler *compiler, ORVA_Program *program, ORVA_Value *constant)
{
   genConstant(compiler, program, CASE, constant);
   genForwardJump(compiler, program, JZ);
}

// Between two cases: fall through into the next case's statements, skipping its CASE and
// JZ; a failed test of this case lands on the next CASE.
void genCaseNext(ORVA_Compiler *compiler, ORVA_Program *program)
{
   genJump(compiler, program, JMP, program->getCodeSize() + 3);
   program->resolveLastJump(JZ);
}

void genBreak(ORVA_Compiler *compiler, ORVA_Program *program)
{
   if (compiler->m_breakStack->getSize() == 0)
   {
      compiler->error("\"break\" statement can be used only within loops and \"switch\" statements");
      return;
   }
   topBreakList(compiler)->Put(addressToSlot(program->getCodeSize()));
   genOp(compiler, program, NOP);
}

void genContinue(ORVA_Compiler *compiler, ORVA_Program *program)
{
   if (compiler->m_addrStack->getSize() == 0)
   {
      compiler->error("\"continue\" statement can be used only within loops");
      return;
   }
   int switchesLeft = compiler->m_openSwitches.empty() ? 0 : compiler->m_openSwitches.back();
   for (int n = switchesLeft; n > 0; n--)
      genPop(compiler, program);
   genJump(compiler, program, JMP, compiler->peekAddr());
}
