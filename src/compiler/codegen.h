// Code generation for the parser's actions. Each helper appends the instructions of one
// grammar action to the program; every instruction carries the line the lexer is on when
// the action runs. Names passed to these helpers are UTF-8 texts from the scanner, which
// the lexer keeps for the whole compilation (compiler/token_texts.h); the helpers only
// read them.
#ifndef ORVA_CODEGEN_H
#define ORVA_CODEGEN_H

#include "compiler/compiler.h"

// Size of the buffer addFunction writes its duplicate-name message into.
constexpr size_t kFunctionErrorBufferSize = 1024;

// How deeply a script may nest: parser stack entries allowed before "memory exhausted",
// not counting the finished statements that wait for the end of their list. Ten thousand
// levels are far beyond any real script and keep the parser's memory small.
constexpr int kParserNestingLimit = 10000;

// Hard bound on the parser stack (state plus value, about 10 bytes an entry). Statement
// lists are right-recursive and keep one entry per statement until the list ends, so this
// admits about a million statements in one list and caps the stack at about 10 MB.
constexpr int kParserStackLimit = 1000000;

// Instruction creation
ORVA_Instruction *newInstruction(ORVA_Compiler *compiler, int opcode);

// Plain instructions
void genOp(ORVA_Compiler *compiler, ORVA_Program *program, int opcode);
void genPop(ORVA_Compiler *compiler, ORVA_Program *program);
void genName(ORVA_Compiler *compiler, ORVA_Program *program, int opcode, const char *name);
void genNameInt(ORVA_Compiler *compiler, ORVA_Program *program, int opcode, const char *name, int intOperand);
// The constant comes from newCompiledConstant (vm/instruction_memory.h): the instruction is
// made in front of it.
void genConstant(ORVA_Compiler *compiler, ORVA_Program *program, int opcode, ORVA_Value *constant);
void genCast(ORVA_Compiler *compiler, ORVA_Program *program, int dataType);
// A JMP or JZ whose target is not known yet (closed later with resolveLastJump).
void genForwardJump(ORVA_Compiler *compiler, ORVA_Program *program, int opcode);

// Script and functions
void genMainEnd(ORVA_Compiler *compiler, ORVA_Program *program, bool isExpression);
void genFunctionStart(ORVA_Compiler *compiler, ORVA_Program *program, const char *name);
void genFunctionEnd(ORVA_Compiler *compiler, ORVA_Program *program);
void genIdentifierListItem(ORVA_Compiler *compiler, ORVA_Program *program, const char *name);

// Expressions
void genPushVarCopy(ORVA_Compiler *compiler, ORVA_Program *program, const char *name);
void genCompoundAssign(ORVA_Compiler *compiler, ORVA_Program *program, int opcode, const char *name);
void genConditionalElse(ORVA_Compiler *compiler, ORVA_Program *program);

// Simple statements
void genValuelessStatement(ORVA_Compiler *compiler, ORVA_Program *program, ORVA_Instruction *instruction);
void genPrintln(ORVA_Compiler *compiler, ORVA_Program *program, bool withExpression);

// Control flow
void genElse(ORVA_Compiler *compiler, ORVA_Program *program);
void genLoopStart(ORVA_Compiler *compiler, ORVA_Program *program);
void genWhileEnd(ORVA_Compiler *compiler, ORVA_Program *program);
void genDoEnd(ORVA_Compiler *compiler, ORVA_Program *program);
void genForInit(ORVA_Compiler *compiler, ORVA_Program *program);
void genForCondition(ORVA_Compiler *compiler, ORVA_Program *program);
void genForIncrement(ORVA_Compiler *compiler, ORVA_Program *program);
void genForEnd(ORVA_Compiler *compiler, ORVA_Program *program);
void genForEachVariable(ORVA_Compiler *compiler, ORVA_Program *program, const char *name);
void genForEachStart(ORVA_Compiler *compiler, ORVA_Program *program);
void genForEachEnd(ORVA_Compiler *compiler, ORVA_Program *program);
void genSwitchStart(ORVA_Compiler *compiler);
void genSwitchEnd(ORVA_Compiler *compiler, ORVA_Program *program);
void genCaseTest(ORVA_Compiler *compiler, ORVA_Program *program, ORVA_Value *constant);
void genCaseNext(ORVA_Compiler *compiler, ORVA_Program *program);
void genBreak(ORVA_Compiler *compiler, ORVA_Program *program);
void genContinue(ORVA_Compiler *compiler, ORVA_Program *program);

// Releases the break lists of constructs a failed parse left open.
void discardOpenBreakLists(ORVA_Compiler *compiler);

#endif
