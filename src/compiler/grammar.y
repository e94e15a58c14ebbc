/* The ORVA grammar. Each action emits bytecode at once through the helpers of codegen.h;
   there is no syntax tree. The order of the token declarations, of the precedence lines
   and of the rules fixes the symbol numbers, the automaton and so the expected-token lists
   of syntax error messages: keep it as it is. */

%code requires {
#include "compiler/compiler.h"
}

%code {
#include "compiler/codegen.h"
#include "vm/instruction_memory.h"

#include <cstdlib>
#include <cstring>
#include <string>

// The parser's stacks start with room for 200 entries and grow by doubling on the heap
// (never with alloca) up to kParserStackLimit entries; beyond that: "memory exhausted".
// Nesting deeper than kParserNestingLimit stops earlier, in yylex.
#define YYSTACK_USE_ALLOCA 0
#define YYINITDEPTH 200
#define YYMAXDEPTH kParserStackLimit

// The scanner is asked for the next token with the parser's state stack in view, so the
// nesting limit can be checked once per token (see checkNesting below).
static int yylex(ORVA_TokenValue *value, ORVA_Compiler *compiler, void *scanner, const void *stackBottom,
                 const void *stackTop);

static void yyerror(ORVA_Compiler *compiler, ORVA_Lexer *, void *, ORVA_Program *, const char *message)
{
   compiler->error(message);
}
}

%define api.pure full
%define api.value.type {union ORVA_TokenValue}
%define parse.error custom
%parse-param {ORVA_Compiler *compiler} {ORVA_Lexer *lexer} {void *scanner} {ORVA_Program *program}
%lex-param {ORVA_Compiler *compiler} {void *scanner} {const void *yyss} {const void *yyssp}

%token T_ARRAY T_BREAK T_CASE T_CONTINUE T_DEFAULT T_DO T_ELSE T_EXIT T_FALSE T_FOR
%token T_FOREACH T_GLOBAL T_IF T_NULL T_PRINT T_PRINTLN T_RETURN T_SUB T_SWITCH T_TRUE
%token T_TYPE_INT32 T_TYPE_INT64 T_TYPE_REAL T_TYPE_STRING T_TYPE_UINT32 T_TYPE_UINT64
%token T_USE T_WHILE
%token <text> T_COMPOUND_IDENTIFIER T_IDENTIFIER T_STRING
%token <int32> T_INT32
%token <uint32> T_UINT32
%token <int64> T_INT64
%token <uint64> T_UINT64
%token <real> T_REAL

%right '=' T_ASSIGN_XOR T_ASSIGN_OR T_ASSIGN_AND T_ASSIGN_CONCAT T_ASSIGN_REM T_ASSIGN_DIV T_ASSIGN_MUL T_ASSIGN_SUB T_ASSIGN_ADD
%right ':' '?'
%left '.'
%left T_OR
%left T_AND
%left '|'
%left '^'
%left '&'
%left T_IMATCH T_MATCH T_ILIKE T_LIKE T_EQ T_NE
%left '<' '>' T_GE T_LE
%left T_RSHIFT T_LSHIFT
%left '+' '-'
%left '*' '/' '%'
%right '!' '~' NEGATE
%right T_DEC T_INC
%left '[' ']'
%left T_REF
%left T_POST_DEC T_POST_INC

/* Values the parser still holds when it gives up at a syntax error (texts belong to the
   lexer). */
%destructor { discardCompiledConstant($<constant>$); } Constant
%destructor { delete $<instruction>$; } SimpleStatementKeyword

/* The dangling else: shifting binds it to the nearest if. */
%expect 1

%start Script

%%

Script
   : Module                   { genMainEnd(compiler, program, false); }
   | Expression               { genMainEnd(compiler, program, true); }
   ;

Module
   : ModuleComponent Module   { compiler->popFinished(); }
   | ModuleComponent          { compiler->popFinished(); }
   ;

ModuleComponent
   : Function                 { compiler->pushFinished(); }
   | StatementOrBlock
   | UseStatement             { compiler->pushFinished(); }
   ;

UseStatement
   : T_USE AnyIdentifier ';'  { program->addPreload(strdup($<text>2)); }
   ;

AnyIdentifier
   : T_IDENTIFIER
   | T_COMPOUND_IDENTIFIER
   ;

Function
   : T_SUB FunctionName       { genFunctionStart(compiler, program, $<text>2); }
     ParameterDeclaration Block
                              { genFunctionEnd(compiler, program); }
   ;

ParameterDeclaration
   : IdentifierList ')'
   | ')'
   ;

IdentifierList
   : T_IDENTIFIER             { genIdentifierListItem(compiler, program, $1); }
     ',' IdentifierList
   | T_IDENTIFIER             { genIdentifierListItem(compiler, program, $1); }
   ;

Block
   : '{' StatementList '}'
   ;

StatementList
   : StatementOrBlock StatementList
                              { compiler->popFinished(); }
   | %empty
   ;

StatementOrBlock
   : Statement                { compiler->pushFinished(); }
   | Block                    { compiler->pushFinished(); }
   ;

Statement
   : Expression ';'           { genPop(compiler, program); }
   | BuiltinStatement
   | ';'                      { genOp(compiler, program, NOP); }
   ;

Expression
   : '(' Expression ')'
   | T_IDENTIFIER '=' Expression
                              { genName(compiler, program, SET, $1); }
   | T_IDENTIFIER T_ASSIGN_ADD { genPushVarCopy(compiler, program, $1); }
     Expression               { genCompoundAssign(compiler, program, ADD, $1); }
   | T_IDENTIFIER T_ASSIGN_SUB { genPushVarCopy(compiler, program, $1); }
     Expression               { genCompoundAssign(compiler, program, SUB, $1); }
   | T_IDENTIFIER T_ASSIGN_MUL { genPushVarCopy(compiler, program, $1); }
     Expression               { genCompoundAssign(compiler, program, MUL, $1); }
   | T_IDENTIFIER T_ASSIGN_DIV { genPushVarCopy(compiler, program, $1); }
     Expression               { genCompoundAssign(compiler, program, DIV, $1); }
   | T_IDENTIFIER T_ASSIGN_REM { genPushVarCopy(compiler, program, $1); }
     Expression               { genCompoundAssign(compiler, program, REM, $1); }
   | T_IDENTIFIER T_ASSIGN_CONCAT { genPushVarCopy(compiler, program, $1); }
     Expression               { genCompoundAssign(compiler, program, CONCAT, $1); }
   | T_IDENTIFIER T_ASSIGN_AND { genPushVarCopy(compiler, program, $1); }
     Expression               { genCompoundAssign(compiler, program, BITAND, $1); }
   | T_IDENTIFIER T_ASSIGN_OR { genPushVarCopy(compiler, program, $1); }
     Expression               { genCompoundAssign(compiler, program, BITOR, $1); }
   | T_IDENTIFIER T_ASSIGN_XOR { genPushVarCopy(compiler, program, $1); }
     Expression               { genCompoundAssign(compiler, program, BITXOR, $1); }
   | Expression '[' Expression ']' '=' Expression
                              { genOp(compiler, program, ESET); }
   | Expression '[' Expression ']'
                              { genOp(compiler, program, EGET); }
   | Expression T_REF T_IDENTIFIER '=' Expression
                              { genName(compiler, program, ASET, $3); }
   | Expression T_REF T_IDENTIFIER
                              { genName(compiler, program, AGET, $3); }
   | '-' Expression %prec NEGATE
                              { genOp(compiler, program, NEG); }
   | '!' Expression           { genOp(compiler, program, NOT); }
   | '~' Expression           { genOp(compiler, program, BITNOT); }
   | T_INC T_IDENTIFIER       { genName(compiler, program, INCP, $2); }
   | T_DEC T_IDENTIFIER       { genName(compiler, program, DECP, $2); }
   | T_IDENTIFIER T_INC       { genName(compiler, program, INC, $1); }
   | T_IDENTIFIER T_DEC       { genName(compiler, program, DEC, $1); }
   | Expression '+' Expression { genOp(compiler, program, ADD); }
   | Expression '-' Expression { genOp(compiler, program, SUB); }
   | Expression '*' Expression { genOp(compiler, program, MUL); }
   | Expression '/' Expression { genOp(compiler, program, DIV); }
   | Expression '%' Expression { genOp(compiler, program, REM); }
   | Expression T_LIKE Expression { genOp(compiler, program, LIKE); }
   | Expression T_ILIKE Expression { genOp(compiler, program, ILIKE); }
   | Expression T_MATCH Expression { genOp(compiler, program, MATCH); }
   | Expression T_IMATCH Expression { genOp(compiler, program, IMATCH); }
   | Expression T_EQ Expression { genOp(compiler, program, EQ); }
   | Expression T_NE Expression { genOp(compiler, program, NE); }
   | Expression '<' Expression { genOp(compiler, program, LT); }
   | Expression T_LE Expression { genOp(compiler, program, LE); }
   | Expression '>' Expression { genOp(compiler, program, GT); }
   | Expression T_GE Expression { genOp(compiler, program, GE); }
   | Expression '&' Expression { genOp(compiler, program, BITAND); }
   | Expression '|' Expression { genOp(compiler, program, BITOR); }
   | Expression '^' Expression { genOp(compiler, program, BITXOR); }
   | Expression T_AND Expression { genOp(compiler, program, AND); }
   | Expression T_OR Expression { genOp(compiler, program, OR); }
   | Expression T_LSHIFT Expression { genOp(compiler, program, LSHIFT); }
   | Expression T_RSHIFT Expression { genOp(compiler, program, RSHIFT); }
   | Expression '.' Expression { genOp(compiler, program, CONCAT); }
   | Expression '?'           { genForwardJump(compiler, program, JZ); }
     Expression ':'           { genConditionalElse(compiler, program); }
     Expression               { program->resolveLastJump(JMP); }
   | Operand
   ;

Operand
   : FunctionCall
   | TypeCast
   | T_IDENTIFIER             { genName(compiler, program, PUSH_VAR, $1); }
   | Constant                 { genConstant(compiler, program, PUSH_CONST, $<constant>1); }
   ;

TypeCast
   : BuiltinType '(' Expression ')'
                              { genCast(compiler, program, $<number>1); }
   ;

BuiltinType
   : T_TYPE_INT32             { $<number>$ = ORVA_DT_INT32; }
   | T_TYPE_INT64             { $<number>$ = ORVA_DT_INT64; }
   | T_TYPE_UINT32            { $<number>$ = ORVA_DT_UINT32; }
   | T_TYPE_UINT64            { $<number>$ = ORVA_DT_UINT64; }
   | T_TYPE_REAL              { $<number>$ = ORVA_DT_REAL; }
   | T_TYPE_STRING            { $<number>$ = ORVA_DT_STRING; }
   ;

BuiltinStatement
   : SimpleStatement ';'
   | PrintlnStatement
   | IfStatement
   | DoStatement
   | WhileStatement
   | ForStatement
   | ForEachStatement
   | SwitchStatement
   | ArrayStatement
   | GlobalStatement
   | T_BREAK ';'              { genBreak(compiler, program); }
   | T_CONTINUE ';'           { genContinue(compiler, program); }
   ;

SimpleStatement
   : SimpleStatementKeyword Expression
                              { program->addInstruction($<instruction>1); }
   | SimpleStatementKeyword   { genValuelessStatement(compiler, program, $<instruction>1); }
   ;

SimpleStatementKeyword
   : T_EXIT                   { $<instruction>$ = newInstruction(compiler, EXIT); }
   | T_RETURN                 { $<instruction>$ = newInstruction(compiler, RET); }
   | T_PRINT                  { $<instruction>$ = newInstruction(compiler, PRINT); }
   ;

PrintlnStatement
   : T_PRINTLN Expression ';' { genPrintln(compiler, program, true); }
   | T_PRINTLN ';'            { genPrintln(compiler, program, false); }
   ;

IfStatement
   : T_IF '(' Expression ')'  { genForwardJump(compiler, program, JZ); }
     IfBody
   ;

IfBody
   : StatementOrBlock         { compiler->popFinished(); program->resolveLastJump(JZ); }
   | StatementOrBlock ElseStatement
                              { compiler->popFinished(); program->resolveLastJump(JMP); }
   ;

ElseStatement
   : T_ELSE                   { genElse(compiler, program); }
     StatementOrBlock         { compiler->popFinished(); }
   ;

ForStatement
   : T_FOR '(' Expression ';' { genForInit(compiler, program); }
     Expression ';'           { genForCondition(compiler, program); }
     Expression ')'           { genForIncrement(compiler, program); }
     StatementOrBlock         { compiler->popFinished(); genForEnd(compiler, program); }
   ;

ForEachStatement
   : T_FOREACH '(' T_IDENTIFIER
                              { genForEachVariable(compiler, program, $3); }
     ':' Expression ')'       { genForEachStart(compiler, program); }
     StatementOrBlock         { compiler->popFinished(); genForEachEnd(compiler, program); }
   ;

WhileStatement
   : T_WHILE                  { genLoopStart(compiler, program); }
     '(' Expression ')'       { genForwardJump(compiler, program, JZ); }
     StatementOrBlock         { compiler->popFinished(); genWhileEnd(compiler, program); }
   ;

DoStatement
   : T_DO                     { genLoopStart(compiler, program); }
     StatementOrBlock T_WHILE '(' Expression ')' ';'
                              { compiler->popFinished(); genDoEnd(compiler, program); }
   ;

SwitchStatement
   : T_SWITCH                 { genSwitchStart(compiler); }
     '(' Expression ')' '{' CaseList Default '}'
                              { genSwitchEnd(compiler, program); }
   ;

CaseList
   : Case                     { genCaseNext(compiler, program); }
     CaseList
   | Case                     { program->resolveLastJump(JZ); }
   ;

Case
   : T_CASE Constant          { genCaseTest(compiler, program, $<constant>2); $<constant>2 = nullptr; }
     ':' StatementList
   ;

Default
   : T_DEFAULT ':' StatementList
   | %empty
   ;

ArrayStatement
   : T_ARRAY                  { compiler->m_idListOpcode = ARRAY; }
     IdentifierList ';'
   | T_GLOBAL T_ARRAY         { compiler->m_idListOpcode = GARRAY; }
     IdentifierList ';'
   ;

GlobalStatement
   : T_GLOBAL GlobalVariableList ';'
   ;

GlobalVariableList
   : GlobalVariableDeclaration ',' GlobalVariableList
   | GlobalVariableDeclaration
   ;

GlobalVariableDeclaration
   : T_IDENTIFIER             { genNameInt(compiler, program, GLOBAL, $1, 0); }
   | T_IDENTIFIER '=' Expression
                              { genNameInt(compiler, program, GLOBAL, $1, 1); }
   ;

FunctionCall
   : FunctionName ParameterList ')'
                              { genNameInt(compiler, program, CALL_NAME, $<text>1, $<number>2); }
   | FunctionName ')'         { genNameInt(compiler, program, CALL_NAME, $<text>1, 0); }
   ;

ParameterList
   : Parameter ',' ParameterList
                              { $<number>$ = $<number>3 + 1; }
   | Parameter                { $<number>$ = 1; }
   ;

Parameter
   : Expression
   | T_IDENTIFIER ':' Expression
                              { genName(compiler, program, NAME, $1); }
   ;

FunctionName
   : T_IDENTIFIER '('         { $<text>$ = $1; }
   ;

Constant
   : T_STRING                 { $<constant>$ = newCompiledConstant(static_cast<const char *>($1)); }
   | T_INT32                  { $<constant>$ = newCompiledConstant($1); }
   | T_UINT32                 { $<constant>$ = newCompiledConstant($1); }
   | T_INT64                  { $<constant>$ = newCompiledConstant($1); }
   | T_UINT64                 { $<constant>$ = newCompiledConstant($1); }
   | T_REAL                   { $<constant>$ = newCompiledConstant($1); }
   | T_TRUE                   { $<constant>$ = newCompiledConstant(static_cast<int32_t>(1)); }
   | T_FALSE                  { $<constant>$ = newCompiledConstant(static_cast<int32_t>(0)); }
   | T_NULL                   { $<constant>$ = newCompiledConstant(); }
   ;

%%

/* "syntax error, unexpected X, expecting A or B": the expected tokens are listed only when
   there are at most four of them. End of input and unknown tokens show as "$end" and
   "$undefined". */
static const char *symbolDisplayName(yysymbol_kind_t symbol)
{
   switch (symbol)
   {
      case YYSYMBOL_YYEOF:
         return "$end";
      case YYSYMBOL_YYUNDEF:
         return "$undefined";
      default:
         return yysymbol_name(symbol);
   }
}

static int yyreport_syntax_error(const yypcontext_t *context, ORVA_Compiler *compiler, ORVA_Lexer *, void *, ORVA_Program *)
{
   enum { kMaxExpected = 4 };
   yysymbol_kind_t unexpected = yypcontext_token(context);
   if (unexpected == YYSYMBOL_YYEMPTY)
   {
      compiler->error("syntax error");
      return 0;
   }

   yysymbol_kind_t expected[kMaxExpected];
   int count = yypcontext_expected_tokens(context, expected, kMaxExpected);
   if (count < 0)
      count = 0;

   std::string message = "syntax error, unexpected ";
   message += symbolDisplayName(unexpected);
   for (int i = 0; i < count; i++)
   {
      message += (i == 0) ? ", expecting " : " or ";
      message += symbolDisplayName(expected[i]);
   }
   compiler->error(message.c_str());
   return 0;
}

// Deep nesting stops with "memory exhausted" once the parser stack holds more than
// kParserNestingLimit entries, not counting finished statements and top-level components that
// wait for the end of their (right-recursive) list: so long scripts compile, deep ones fail.
// The error ends the input; as the first error of the compilation, it is the one reported.
static int yylex(ORVA_TokenValue *value, ORVA_Compiler *compiler, void *scanner, const void *stackBottom,
                 const void *stackTop)
{
   auto depth = static_cast<const yy_state_t *>(stackTop) - static_cast<const yy_state_t *>(stackBottom) + 1;
   if (depth - compiler->finishedOnStack() > kParserNestingLimit)
   {
      compiler->error("memory exhausted");
      return 0;
   }
   int token = nextToken(value, scanner);
   return token > 0 ? token : 0;   // a lexical error ends the input
}

int parse(ORVA_Compiler *compiler, ORVA_Lexer *lexer, void *scanner, ORVA_Program *program)
{
   return yyparse(compiler, lexer, scanner, program);
}
