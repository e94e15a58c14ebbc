// The instruction set of ORVA's virtual machine, written down once.
//
// ORVA_OPCODE_TABLE lists every opcode in numbering order with its mnemonic (what dump
// prints), the kind of its operand slot and the form of its listing line. Everything
// that depends on the kind of operand reads it from here: the instruction copy
// constructor and destructor (which own names and constants), dump, relocation and the
// optimizer (which move addresses). The enum ORVA_Opcode in orva.h gives the numbers; a
// compile-time check below keeps the two in the same order.
//
// Stack effects are written bottom to top, [.. a b] having b on top. Adding an opcode
// means one line here, one enum entry in orva.h and one case in the engine.
#ifndef ORVA_OPCODES_H
#define ORVA_OPCODES_H

#include <orva.h>

// The library names opcodes without their namespace (orva.h keeps them out of hosts').
using namespace ORVA_Op;

// What the operand slot of an instruction holds.
enum class ORVA_OperandKind : uint8_t
{
   None,      // nothing
   Address,   // a code address (plus, for CALL_ADDR, the argument count)
   Name,      // an owned wide string (plus, for CALL_NAME and GLOBAL, an integer)
   Constant,  // an owned ORVA_Value
   Int        // only the integer operand is used
};

// What dump writes after the "%04X  %-6s  " prefix.
enum class ORVA_ListingForm : uint8_t
{
   Plain,         // "\n"
   Address,       // "%04X\n" of the address
   AddressCount,  // "%04X, %d\n" of address and integer operand
   Name,          // "%s\n" of the name
   NameCount,     // "%s, %d\n" of name and integer operand
   Constant,      // "<null>\n" or the constant's text in double quotes
   Count,         // "%d\n" of the integer operand
   DataType       // "[%s]\n" of the data type name the integer operand codes
};

// X(name, mnemonic, operand kind, listing form)
#define ORVA_OPCODE_TABLE(X)                                                               \
   /* [..] -> [..]                       nothing */                                        \
   X(NOP,        "NOP",     None,     Plain)                                               \
   /* [..] -> [..]                       return to the caller; at top level end the run */ \
   X(RET,        "RET",     None,     Plain)                                               \
   /* [..] -> [..]                       continue at the address */                        \
   X(JMP,        "JMP",     Address,  Address)                                             \
   /* [.. a1..an] -> [..]                call the script function at the address */        \
   X(CALL_ADDR,  "CALL",    Address,  AddressCount)                                        \
   /* [.. a1..an] -> [.. r]              call a function by name (environment first) */    \
   X(CALL_NAME,  "CALL",    Name,     NameCount)                                           \
   /* [..] -> [.. c]                     push a copy of the constant */                    \
   X(PUSH_CONST, "PUSH",    Constant, Constant)                                            \
   /* [..] -> [.. v]                     push a copy of the variable's value */            \
   X(PUSH_VAR,   "PUSH",    Name,     Name)                                                \
   /* [.. v] -> end of run, result v     end the run with the top value */                 \
   X(EXIT,       "EXIT",    None,     Plain)                                               \
   /* [.. v1..vn] -> [..]                discard n values */                               \
   X(POP,        "POP",     Int,      Count)                                               \
   /* [.. v] -> [.. v]                   assign the top value to the variable */           \
   X(SET,        "SET",     Name,     Name)                                                \
   /* [.. a b] -> [.. a+b] */                                                              \
   X(ADD,        "ADD",     None,     Plain)                                               \
   /* [.. a b] -> [.. a-b] */                                                              \
   X(SUB,        "SUB",     None,     Plain)                                               \
   /* [.. a b] -> [.. a*b] */                                                              \
   X(MUL,        "MUL",     None,     Plain)                                               \
   /* [.. a b] -> [.. a/b] */                                                              \
   X(DIV,        "DIV",     None,     Plain)                                               \
   /* [.. a b] -> [.. a%b] */                                                              \
   X(REM,        "REM",     None,     Plain)                                               \
   /* [.. a b] -> [.. a==b] */                                                             \
   X(EQ,         "EQ",      None,     Plain)                                               \
   /* [.. a b] -> [.. a!=b] */                                                             \
   X(NE,         "NE",      None,     Plain)                                               \
   /* [.. a b] -> [.. a<b] */                                                              \
   X(LT,         "LT",      None,     Plain)                                               \
   /* [.. a b] -> [.. a<=b] */                                                             \
   X(LE,         "LE",      None,     Plain)                                               \
   /* [.. a b] -> [.. a>b] */                                                              \
   X(GT,         "GT",      None,     Plain)                                               \
   /* [.. a b] -> [.. a>=b] */                                                             \
   X(GE,         "GE",      None,     Plain)                                               \
   /* [.. a b] -> [.. a&b] */                                                              \
   X(BITAND,     "BITAND",  None,     Plain)                                               \
   /* [.. a b] -> [.. a|b] */                                                              \
   X(BITOR,      "BITOR",   None,     Plain)                                               \
   /* [.. a b] -> [.. a^b] */                                                              \
   X(BITXOR,     "BITXOR",  None,     Plain)                                               \
   /* [.. a b] -> [.. a&&b] */                                                             \
   X(AND,        "AND",     None,     Plain)                                               \
   /* [.. a b] -> [.. a||b] */                                                             \
   X(OR,         "OR",      None,     Plain)                                               \
   /* [.. a b] -> [.. a<<b] */                                                             \
   X(LSHIFT,     "LSHIFT",  None,     Plain)                                               \
   /* [.. a b] -> [.. a>>b] */                                                             \
   X(RSHIFT,     "RSHIFT",  None,     Plain)                                               \
   /* [..] -> [.. null]                  then as RET */                                    \
   X(NRET,       "NRET",    None,     Plain)                                               \
   /* [.. c] -> [..]                     jump to the address if c is zero */               \
   X(JZ,         "JZ",      Address,  Address)                                             \
   /* [.. v] -> [..]                     hand v to the environment's print */              \
   X(PRINT,      "PRINT",   None,     Plain)                                               \
   /* [.. a b] -> [.. a.b]               text concatenation */                             \
   X(CONCAT,     "CONCAT",  None,     Plain)                                               \
   /* [..] -> [..]                       parameter := next positional argument */          \
   X(BIND,       "BIND",    Name,     Name)                                                \
   /* [..] -> [.. v]                     push v, then v := v+1 */                          \
   X(INC,        "INC",     Name,     Name)                                                \
   /* [..] -> [.. v]                     push v, then v := v-1 */                          \
   X(DEC,        "DEC",     Name,     Name)                                                \
   /* [.. a] -> [.. -a] */                                                                 \
   X(NEG,        "NEG",     None,     Plain)                                               \
   /* [.. a] -> [.. !a] */                                                                 \
   X(NOT,        "NOT",     None,     Plain)                                               \
   /* [.. a] -> [.. ~a] */                                                                 \
   X(BITNOT,     "BITNOT",  None,     Plain)                                               \
   /* [.. a] -> [.. (type)a]             convert in place */                               \
   X(CAST,       "CAST",    Int,      DataType)                                            \
   /* [.. o] -> [.. o->name] */                                                            \
   X(AGET,       "AGET",    Name,     Name)                                                \
   /* [..] -> [.. v+1]                   v := v+1, then push v */                          \
   X(INCP,       "INCP",    Name,     Name)                                                \
   /* [..] -> [.. v-1]                   v := v-1, then push v */                          \
   X(DECP,       "DECP",    Name,     Name)                                                \
   /* [.. c] -> [..]                     jump to the address if c is not zero */           \
   X(JNZ,        "JNZ",     Address,  Address)                                             \
   /* [.. t p] -> [.. t like p] */                                                         \
   X(LIKE,       "LIKE",    None,     Plain)                                               \
   /* [.. t p] -> [.. t ilike p] */                                                        \
   X(ILIKE,      "ILIKE",   None,     Plain)                                               \
   /* [.. t p] -> [.. t match p]         captures go to $1, $2, ... */                     \
   X(MATCH,      "MATCH",   None,     Plain)                                               \
   /* [.. t p] -> [.. t imatch p] */                                                       \
   X(IMATCH,     "IMATCH",  None,     Plain)                                               \
   /* [.. s] -> [.. s f]                 f := s equals the constant */                     \
   X(CASE,       "CASE",    Constant, Constant)                                            \
   /* [..] -> [..]                       declare a local array */                          \
   X(ARRAY,      "ARRAY",   Name,     Name)                                                \
   /* [.. a i] -> [.. a[i]] */                                                             \
   X(EGET,       "EGET",    None,     Plain)                                               \
   /* [.. a i v] -> [.. v]               a[i] := v */                                      \
   X(ESET,       "ESET",    None,     Plain)                                               \
   /* [.. o v] -> [.. v]                 o->name := v */                                   \
   X(ASET,       "ASET",    Name,     Name)                                                \
   /* [.. v] -> [.. v]                   v carries the name (named argument) */            \
   X(NAME,       "NAME",    Name,     Name)                                                \
   /* [.. n a] -> [.. it]                iterator over a for the loop variable n */        \
   X(FOREACH,    "FOREACH", None,     Plain)                                               \
   /* [.. it] -> [.. it f]               advance; f is 1 with an element, 0 at the end */  \
   X(NEXT,       "NEXT",    None,     Plain)                                               \
   /* [.. v] -> [..] or [..] -> [..]     declare a global, with v when the flag is set */  \
   X(GLOBAL,     "GLOBAL",  Name,     NameCount)                                           \
   /* [..] -> [..]                       declare a global array */                         \
   X(GARRAY,     "GARRAY",  Name,     Name)

struct ORVA_OpcodeInfo
{
   int opcode;
   const char *mnemonic;
   ORVA_OperandKind operand;
   ORVA_ListingForm listing;
};

#define ORVA_OPCODE_INFO(name, mnemonic, operand, listing) \
   { name, mnemonic, ORVA_OperandKind::operand, ORVA_ListingForm::listing },
inline constexpr ORVA_OpcodeInfo g_orvaOpcodes[] = { ORVA_OPCODE_TABLE(ORVA_OPCODE_INFO) };
#undef ORVA_OPCODE_INFO

constexpr int kOpcodeTableSize = static_cast<int>(sizeof(g_orvaOpcodes) / sizeof(g_orvaOpcodes[0]));
static_assert(kOpcodeTableSize == ORVA_OPCODE_COUNT, "the opcode table and ORVA_Opcode differ in count");

// Each row must sit at the index its enum value names.
constexpr bool opcodeTableInEnumOrder()
{
   for (int i = 0; i < kOpcodeTableSize; i++)
      if (g_orvaOpcodes[i].opcode != i)
         return false;
   return true;
}
static_assert(opcodeTableInEnumOrder(), "the opcode table is not in ORVA_Opcode order");

inline bool isValidOpcode(int opcode)
{
   return opcode >= 0 && opcode < kOpcodeTableSize;
}

// Operand kind of an opcode; an unknown opcode has none, so nothing is owned or moved.
inline ORVA_OperandKind operandKindOf(int opcode)
{
   return isValidOpcode(opcode) ? g_orvaOpcodes[opcode].operand : ORVA_OperandKind::None;
}

inline const char *mnemonicOf(int opcode)
{
   return isValidOpcode(opcode) ? g_orvaOpcodes[opcode].mnemonic : "???";
}

// JMP, JZ, JNZ and CALL_ADDR: the instructions whose operand is a code address.
inline bool carriesAddress(int opcode)
{
   return operandKindOf(opcode) == ORVA_OperandKind::Address;
}

inline bool isJump(int opcode)
{
   return opcode == JMP || opcode == JZ || opcode == JNZ;
}

#endif
