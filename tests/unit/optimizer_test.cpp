// The peephole optimizer and removeInstructions. The edge cases are a table written in a
// small assembly notation; random programs check that the optimizer, which removes in one
// sweep, gives exactly what the one-instruction-at-a-time definition gives.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <orva.h>

#include "vm/opcodes.h"

namespace {

class ProgramProbe : public ORVA_Program
{
public:
   using ORVA_Program::getFinalJumpDestination;
};

int opcodeByName(const std::string &name)
{
#define ORVA_NAME_ROW(op, mnemonic, operand, listing) if (name == #op) return op;
   ORVA_OPCODE_TABLE(ORVA_NAME_ROW)
#undef ORVA_NAME_ROW
   return -1;
}

const char *opcodeName(int opcode)
{
#define ORVA_NAME_ROW(op, mnemonic, operand, listing) if (opcode == op) return #op;
   ORVA_OPCODE_TABLE(ORVA_NAME_ROW)
#undef ORVA_NAME_ROW
   return "?";
}

// "PUSH_CONST i5; NEG; JMP 7; POP 2" -> instructions. Constants: i int32, u uint32,
// l int64, r real, s: string. Address operands take a number or "none" (0xFFFFFFFF).
void assemble(ORVA_Program &program, const std::string &source)
{
   std::stringstream lines(source);
   std::string line;
   while (std::getline(lines, line, ';'))
   {
      std::stringstream words(line);
      std::string name, operand;
      words >> name >> operand;
      if (name.empty())
         continue;
      int op = opcodeByName(name);
      ASSERT_GE(op, 0) << name;
      switch (operandKindOf(op))
      {
         case ORVA_OperandKind::Address:
            program.addInstruction(new ORVA_Instruction(1, op, operand == "none" ? ORVA_INVALID_ADDRESS
                                                        : static_cast<uint32_t>(std::stoul(operand))));
            break;
         case ORVA_OperandKind::Int:
            program.addInstruction(new ORVA_Instruction(1, op, std::stoi(operand)));
            break;
         case ORVA_OperandKind::Name:
            program.addInstruction(new ORVA_Instruction(1, op, strdup(operand.c_str())));
            break;
         case ORVA_OperandKind::Constant:
         {
            std::string text = operand.substr(1);
            ORVA_Value *value = nullptr;
            switch (operand[0])
            {
               case 'i': value = new ORVA_Value(static_cast<int32_t>(std::stol(text))); break;
               case 'u': value = new ORVA_Value(static_cast<uint32_t>(std::stoul(text))); break;
               case 'l': value = new ORVA_Value(static_cast<int64_t>(std::stoll(text))); break;
               case 'r': value = new ORVA_Value(std::stod(text)); break;
               default: value = new ORVA_Value(text.substr(1).c_str()); break;
            }
            program.addInstruction(new ORVA_Instruction(1, op, value));
            break;
         }
         case ORVA_OperandKind::None:
            program.addInstruction(new ORVA_Instruction(1, op));
            break;
      }
   }
}

// The inverse of assemble, for comparing whole programs.
std::string disassemble(const ORVA_Program &program)
{
   std::string text;
   for (uint32_t i = 0; i < program.getCodeSize(); i++)
   {
      const ORVA_Instruction *instruction = program.getInstruction(i);
      int op = instruction->getOpcode();
      if (!text.empty())
         text += "; ";
      text += opcodeName(op);
      switch (operandKindOf(op))
      {
         case ORVA_OperandKind::Address:
            text += instruction->getAddress() == ORVA_INVALID_ADDRESS ? " none" : " " + std::to_string(instruction->getAddress());
            break;
         case ORVA_OperandKind::Int:
            text += " " + std::to_string(instruction->getIntOperand());
            break;
         case ORVA_OperandKind::Constant:
         {
            ORVA_Value *value = instruction->getConstant();
            switch (value->getDataType())
            {
               case ORVA_DT_INT32: text += " i" + std::to_string(value->getValueAsInt32()); break;
               case ORVA_DT_UINT32: text += " u" + std::to_string(value->getValueAsUInt32()); break;
               case ORVA_DT_INT64: text += " l" + std::to_string(value->getValueAsInt64()); break;
               case ORVA_DT_REAL: text += " r" + std::to_string(value->getValueAsReal()); break;
               default: text += " s:string"; break;
            }
            break;
         }
         default:
            break;
      }
   }
   return text;
}

std::string functionsOf(const ORVA_Program &program)
{
   std::string text;
   for (uint32_t i = 0; i < program.getFunctionCount(); i++)
   {
      char name[64];
      wcstombs(name, program.getFunction(i)->name, sizeof(name));
      text += std::string(i ? " " : "") + name + "@" + std::to_string(program.getFunction(i)->address);
   }
   return text;
}

struct OptimizerCase
{
   const char *what;
   const char *code;
   std::vector<std::pair<const char *, uint32_t>> functions;
   const char *expectedCode;
   const char *expectedFunctions;
};

TEST(Optimizer, EdgeCases)
{
   const OptimizerCase cases[] = {
      {"int32 negation folds", "PUSH_CONST i5; NEG; NRET", {}, "PUSH_CONST i-5; NRET", ""},
      {"int64 negation folds", "PUSH_CONST l5; NEG; NRET", {}, "PUSH_CONST l-5; NRET", ""},
      {"real negation folds", "PUSH_CONST r2.5; NEG; NRET", {}, "PUSH_CONST r-2.500000; NRET", ""},
      {"uint32 keeps its NEG", "PUSH_CONST u5; NEG; NRET", {}, "PUSH_CONST u5; NEG; NRET", ""},
      {"string keeps its NEG", "PUSH_CONST s:abc; NEG; NRET", {}, "PUSH_CONST s:string; NEG; NRET", ""},
      {"only the first of two NEGs folds", "PUSH_CONST i5; NEG; NEG; NRET", {}, "PUSH_CONST i-5; NEG; NRET", ""},
      {"a NEG in the last position stays", "PUSH_CONST i5; NEG", {}, "PUSH_CONST i5; NEG", ""},
      {"folding moves later addresses",
       "JMP 4; PUSH_CONST i1; NEG; NOP; PRINT; NRET", {{"f", 4}, {"g", 2}},
       "JMP 3; PUSH_CONST i-1; NOP; PRINT; NRET", "f@3 g@2"},
      {"a chain of jumps is short-cut",
       "NOP; NOP; JMP 7; NOP; ADD; NOP; NOP; JMP 9; NOP; JMP 4; NRET", {},
       "NOP; NOP; JMP 4; NOP; ADD; NOP; NOP; JMP 4; NOP; JMP 4; NRET", ""},
      {"a conditional jump to a JMP takes its target",
       "JZ 1; JMP 12; NOP; NOP; NOP; NOP; NOP; NOP; NOP; NOP; NOP; NOP; NRET", {},
       "JZ 12; JMP 12; NOP; NOP; NOP; NOP; NOP; NOP; NOP; NOP; NOP; NOP; NRET", ""},
      {"a JMP to the next instruction goes",
       "JZ 6; NOP; NOP; JMP 4; NOP; NOP; NOP; NOP; NRET; NRET", {{"f", 8}, {"g", 3}},
       "JZ 5; NOP; NOP; NOP; NOP; NOP; NOP; NRET; NRET", "f@7 g@3"},
      {"a JMP past the end becomes NRET",
       "NOP; NOP; NOP; NOP; NOP; NOP; JMP 10; NOP; NOP; NRET", {},
       "NOP; NOP; NOP; NOP; NOP; NOP; NRET; NOP; NOP; NRET", ""},
      {"an unresolved JMP becomes NRET", "JMP none; NOP", {}, "NRET; NOP", ""},
      {"a conditional jump past the end stays", "JZ none; JNZ 9; NRET", {}, "JZ none; JNZ 9; NRET", ""},
      {"a conditional jump to the next instruction stays (it pops its condition)",
       "PUSH_CONST i1; JZ 2; PUSH_CONST i2; JNZ 4; NRET", {},
       "PUSH_CONST i1; JZ 2; PUSH_CONST i2; JNZ 4; NRET", ""},
      {"calls are relocated but not threaded", "CALL_ADDR 3; JMP 2; NRET; JMP 5; NOP; RET", {{"$main", 0}, {"f", 3}},
       "CALL_ADDR 2; NRET; JMP 4; NOP; RET", "$main@0 f@2"},
      {"threading comes before removal", "JMP 1; JMP 2; JMP 3; NRET", {{"$main", 0}},
       "JMP 2; JMP 2; NRET", "$main@0"},
      {"a jump that becomes next-in-line through a later removal stays",
       "JMP 2; JMP 2; NRET", {}, "JMP 1; NRET", ""},
      {"a cycle of JMPs ends and keeps its shape", "JMP 1; JMP 2; JMP 1; NRET", {}, "JMP 0; NRET", ""},
      {"a JMP to itself stays", "JMP 0; NRET", {}, "JMP 0; NRET", ""},
      {"a jump into a cycle is not threaded", "JZ 1; JMP 3; NRET; JMP 1; NRET", {}, "JZ 1; JMP 3; NRET; JMP 1; NRET", ""},
      {"empty code", "", {}, "", ""},
   };
   for (const OptimizerCase &c : cases)
   {
      SCOPED_TRACE(c.what);
      ORVA_Program program;
      assemble(program, c.code);
      for (const auto &function : c.functions)
         program.addFunction(function.first, function.second, nullptr, 0);
      program.optimize();
      EXPECT_EQ(disassemble(program), c.expectedCode);
      EXPECT_EQ(functionsOf(program), c.expectedFunctions);
   }
}

TEST(Optimizer, ListingAfterOptimizationShowsConsistentAddresses)
{
   ORVA_Program program;
   assemble(program, "PUSH_CONST i3; NEG; JZ 4; JMP 4; PUSH_VAR x; PRINT; JMP 0; NRET");
   program.optimize();
   char *buffer = nullptr;
   size_t size = 0;
   FILE *stream = open_memstream(&buffer, &size);
   program.dump(stream);
   fclose(stream);
   EXPECT_EQ(std::string(buffer, size),
             "0000  PUSH    \"-3\"\n"
             "0001  JZ      0002\n"
             "0002  PUSH    x\n"
             "0003  PRINT   \n"
             "0004  JMP     0000\n"
             "0005  NRET    \n");
   free(buffer);
}

TEST(Optimizer, FinalJumpDestination)
{
   ProgramProbe program;
   assemble(program, "JMP 1; JMP 3; JMP 2; ADD; JMP 5; JMP 4");
   EXPECT_EQ(program.getFinalJumpDestination(0), 3u);
   EXPECT_EQ(program.getFinalJumpDestination(3), 3u);   // not a JMP
   EXPECT_EQ(program.getFinalJumpDestination(4), 4u);   // a cycle: the position itself
   EXPECT_EQ(program.getFinalJumpDestination(40), 40u);  // past the end
}

TEST(RemoveInstructions, MovesLaterAddressesAndFunctions)
{
   struct Case
   {
      uint32_t start;
      int count;
      const char *expectedCode;
      const char *expectedFunctions;
   };
   const char *code = "JMP 0; JZ 2; JNZ 3; CALL_ADDR 4; JMP 6; JMP none; NOP; NOP; NOP; NRET";
   const Case cases[] = {
      {2, 2, "JMP 0; JZ 2; JMP 4; JMP 4294967293; NOP; NOP; NOP; NRET", "a@0 b@2 c@2 d@7"},
      {9, 1, "JMP 0; JZ 2; JNZ 3; CALL_ADDR 4; JMP 6; JMP none; NOP; NOP; NOP; NRET", "a@0 b@2 c@3 d@9"},
      {8, 2, "JMP 0; JZ 2; JNZ 3; CALL_ADDR 4; JMP 6; JMP none; NOP; NOP; NOP; NRET", "a@0 b@2 c@3 d@9"},
      {2, 0, "JMP 0; JZ 2; JNZ 3; CALL_ADDR 4; JMP 6; JMP none; NOP; NOP; NOP; NRET", "a@0 b@2 c@3 d@9"},
      {2, -1, "JMP 0; JZ 2; JNZ 3; CALL_ADDR 4; JMP 6; JMP none; NOP; NOP; NOP; NRET", "a@0 b@2 c@3 d@9"},
      {0xFFFFFFFF, 1, "JMP 0; JZ 2; JNZ 3; CALL_ADDR 4; JMP 6; JMP none; NOP; NOP; NOP; NRET", "a@0 b@2 c@3 d@9"},
      {0, 9, "NRET", "a@0 b@0 c@0 d@0"},
   };
   for (const Case &c : cases)
   {
      SCOPED_TRACE(testing::Message() << "remove " << c.count << " at " << c.start);
      ORVA_Program program;
      assemble(program, code);
      program.addFunction("a", 0, nullptr, 0);
      program.addFunction("b", 2, nullptr, 0);
      program.addFunction("c", 3, nullptr, 0);
      program.addFunction("d", 9, nullptr, 0);
      program.removeInstructions(c.start, c.count);
      EXPECT_EQ(disassemble(program), c.expectedCode);
      EXPECT_EQ(functionsOf(program), c.expectedFunctions);
   }
}

// The optimizer as defined: every removal is one removeInstructions call.
struct ModelInstruction
{
   int op;
   uint32_t address;
   int type;
   int64_t value;
};

struct Model
{
   std::vector<ModelInstruction> code;
   std::vector<uint32_t> functions;

   void remove(uint32_t start, int count)
   {
      if (count <= 0 || static_cast<uint64_t>(start) + count >= code.size())
         return;
      code.erase(code.begin() + start, code.begin() + start + count);
      auto move = [&](uint32_t &address) {
         if (address > start)
            address = (address - start >= static_cast<uint32_t>(count)) ? address - count : start;
      };
      for (auto &instruction : code)
         if (carriesAddress(instruction.op))
            move(instruction.address);
      for (auto &address : functions)
         move(address);
   }

   uint32_t finalDestination(uint32_t position) const
   {
      uint32_t current = position;
      for (size_t steps = 0; current < code.size() && code[current].op == JMP; steps++)
      {
         if (steps >= code.size())
            return position;
         current = code[current].address;
      }
      return current;
   }

   void optimize()
   {
      for (uint32_t p = 0; p + 1 < code.size(); p++)
      {
         if (code[p].op == PUSH_CONST && code[p + 1].op == NEG && p + 2 < code.size() &&
             (code[p].type == ORVA_DT_INT32 || code[p].type == ORVA_DT_INT64 || code[p].type == ORVA_DT_REAL))
         {
            code[p].value = -code[p].value;
            remove(p + 1, 1);
         }
      }
      for (auto &instruction : code)
         if (instruction.op == JMP && instruction.address >= code.size())
            instruction.op = NRET;
      for (auto &instruction : code)
      {
         if (isJump(instruction.op) && instruction.address < code.size() && code[instruction.address].op == JMP)
            instruction.address = finalDestination(instruction.address);
      }
      for (uint32_t i = 0; i < code.size();)
      {
         size_t before = code.size();
         if (code[i].op == JMP && code[i].address == i + 1)
            remove(i, 1);
         if (code.size() == before)
            i++;
      }
   }
};

void generate(std::mt19937 &random, ORVA_Program &program, Model &model)
{
   static const int ops[] = {NOP, ADD, NEG, NEG, PUSH_CONST, PUSH_CONST, JMP, JMP, JMP, JZ, JNZ, CALL_ADDR, NRET};
   uint32_t size = 1 + random() % 40;
   for (uint32_t i = 0; i < size; i++)
   {
      int op = ops[random() % (sizeof(ops) / sizeof(ops[0]))];
      ModelInstruction m{op, 0, 0, 0};
      if (carriesAddress(op))
      {
         m.address = (random() % 10 == 0) ? ORVA_INVALID_ADDRESS : random() % (size + 2);
         program.addInstruction(new ORVA_Instruction(1, op, m.address));
      }
      else if (op == PUSH_CONST)
      {
         static const int types[] = {ORVA_DT_INT32, ORVA_DT_INT64, ORVA_DT_REAL, ORVA_DT_UINT32};
         m.type = types[random() % 4];
         m.value = static_cast<int64_t>(random() % 1000);
         ORVA_Value *value = nullptr;
         switch (m.type)
         {
            case ORVA_DT_INT32: value = new ORVA_Value(static_cast<int32_t>(m.value)); break;
            case ORVA_DT_INT64: value = new ORVA_Value(static_cast<int64_t>(m.value)); break;
            case ORVA_DT_REAL: value = new ORVA_Value(static_cast<double>(m.value)); break;
            default: value = new ORVA_Value(static_cast<uint32_t>(m.value)); break;
         }
         program.addInstruction(new ORVA_Instruction(1, op, value));
      }
      else
      {
         program.addInstruction(new ORVA_Instruction(1, op));
      }
      model.code.push_back(m);
   }
   uint32_t functions = random() % 4;
   for (uint32_t i = 0; i < functions; i++)
   {
      uint32_t address = random() % size;
      program.addFunction(("f" + std::to_string(i)).c_str(), address, nullptr, 0);
      model.functions.push_back(address);
   }
}

void expectSame(const ORVA_Program &program, const Model &model)
{
   ASSERT_EQ(program.getCodeSize(), model.code.size());
   for (uint32_t i = 0; i < model.code.size(); i++)
   {
      const ORVA_Instruction *instruction = program.getInstruction(i);
      const ModelInstruction &m = model.code[i];
      ASSERT_EQ(instruction->getOpcode(), m.op) << "at " << i;
      if (carriesAddress(m.op))
      {
         ASSERT_EQ(instruction->getAddress(), m.address) << "at " << i;
      }
      if (m.op == PUSH_CONST)
      {
         ASSERT_EQ(instruction->getConstant()->getDataType(), m.type) << "at " << i;
         ASSERT_EQ(static_cast<int64_t>(instruction->getConstant()->getValueAsReal()), m.value) << "at " << i;
      }
   }
   ASSERT_EQ(program.getFunctionCount(), model.functions.size());
   for (uint32_t i = 0; i < model.functions.size(); i++)
      ASSERT_EQ(program.getFunction(i)->address, model.functions[i]) << "function " << i;
}

TEST(Optimizer, SweepMatchesOneRemovalAtATimeOnRandomPrograms)
{
   std::mt19937 random(20240601);
   for (int round = 0; round < 3000; round++)
   {
      SCOPED_TRACE(round);
      ORVA_Program program;
      Model model;
      generate(random, program, model);
      program.optimize();
      model.optimize();
      expectSame(program, model);
      if (HasFatalFailure())
         return;
   }
}

TEST(RemoveInstructions, MatchesTheDefinitionOnRandomPrograms)
{
   std::mt19937 random(77);
   for (int round = 0; round < 500; round++)
   {
      SCOPED_TRACE(round);
      ORVA_Program program;
      Model model;
      generate(random, program, model);
      for (int step = 0; step < 3; step++)
      {
         uint32_t start = random() % (model.code.size() + 1);
         int count = static_cast<int>(random() % 5) - 1;
         program.removeInstructions(start, count);
         model.remove(start, count);
      }
      expectSame(program, model);
      if (HasFatalFailure())
         return;
   }
}

// A large script full of foldable negations and jumps to the next instruction: the
// optimizer handles it in one sweep per pass.
TEST(Optimizer, LargeProgram)
{
   const uint32_t blocks = 200000;
   ORVA_Program program;
   for (uint32_t i = 0; i < blocks; i++)
   {
      program.addInstruction(new ORVA_Instruction(1, PUSH_CONST, new ORVA_Value(static_cast<int32_t>(i))));
      program.addInstruction(new ORVA_Instruction(1, NEG));
      program.addInstruction(new ORVA_Instruction(1, JMP, 3 * i + 3));
   }
   program.addInstruction(new ORVA_Instruction(1, NRET));
   program.addFunction("$main", 0, nullptr, 0);
   program.addFunction("last", 3 * blocks, nullptr, 0);
   program.optimize();
   ASSERT_EQ(program.getCodeSize(), blocks + 1);
   for (uint32_t i = 0; i < blocks; i += 9973)
      EXPECT_EQ(program.getInstruction(i)->getConstant()->getValueAsInt64(), -static_cast<int64_t>(i));
   EXPECT_EQ(program.getInstruction(blocks)->getOpcode(), NRET);
   EXPECT_EQ(program.getFunction(1)->address, blocks);
}

}  // namespace
