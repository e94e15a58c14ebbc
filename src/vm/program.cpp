// ORVA_Program as the compiler builds it and as dump lists it: the code array, the
// function table, the preload list and the variable sets that outlive a run. Running
// (run, execute, calls, errors, variable lookup) lives in engine.cpp, the optimizer in
// optimizer.cpp and module linking in modules.cpp.
//
// The code, the function table, the module table and the preload list are malloc'ed
// arrays released with free. The code and function arrays grow geometrically
// (m_codeAllocated, m_functionsAllocated); a run trims what it appended by count alone.
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <string>

#include "platform/platform.h"
#include "vm/function_index.h"
#include "vm/instruction_cache.h"
#include "vm/opcodes.h"
#include "vm/program_growth.h"
#include "vm/regex_cache.h"
#include "vm/run_cache.h"

ORVA_Program::ORVA_Program()
   : m_lock(new std::recursive_mutex()),
     m_environment(nullptr),
     m_instructions(nullptr),
     m_codeSize(0),
     m_currentPosition(ORVA_INVALID_ADDRESS),
     m_preloadCount(0),
     m_preloadList(nullptr),
     m_callDepth(0),
     m_dataStack(nullptr),
     m_controlStack(nullptr),
     m_bindCounter(0),
     m_constants(new ORVA_VariableSystem(true)),
     m_globals(new ORVA_VariableSystem(false)),
     m_locals(nullptr),
     m_functionCount(0),
     m_functions(nullptr),
     m_moduleCount(0),
     m_modules(nullptr),
     m_result(nullptr),
     m_errorText(nullptr),
     m_codeAllocated(0),
     m_functionsAllocated(0),
     m_runState(nullptr),
     m_runCache(nullptr),
     m_instructionCaches(nullptr),
     m_instructionCacheCount(0),
     m_runNumber(0),
     m_lookupEpoch(1),
     m_epochCounter(1),
     m_epochFloor(0),
     m_carryStamp(kNoCarry),
     m_regexCache(nullptr),
     m_functionIndex(nullptr),
     m_limits(),
     m_interruptRequested(false),
     m_runSerial(1),
     m_interruptSerial(0),
     m_errorInfo(),
     m_entryAddress(ORVA_INVALID_ADDRESS),
     m_keepGlobals(false),
     m_sharedCode(nullptr)
{
   // The random built-in draws from the C generator; each new program reseeds it.
   srand(static_cast<unsigned int>(time(nullptr)));
}

ORVA_Program::~ORVA_Program()
{
   if (m_sharedCode != nullptr)
      releaseSharedCode();
   for (uint32_t i = 0; i < m_codeSize; i++)
      delete m_instructions[i];
   free(m_instructions);
   delete m_dataStack;
   delete m_controlStack;
   delete m_runCache;
   ORVA_InstructionCache::releaseConstants(this, 0);
   free(m_instructionCaches);
   delete m_constants;
   delete m_globals;
   delete m_locals;
   delete m_environment;
   delete m_result;
   delete m_regexCache;
   delete m_functionIndex;
   free(m_functions);
   free(m_modules);
   for (uint32_t i = 0; i < m_preloadCount; i++)
      free(m_preloadList[i]);
   free(m_preloadList);
   free(m_errorText);
   delete m_lock;
}

// Appends an instruction; the program owns it from now on.
void ORVA_Program::addInstruction(ORVA_Instruction *instruction)
{
   if (instruction == nullptr)
      return;
   if (m_sharedCode != nullptr)
   {
      delete instruction;
      return;
   }
   codeEdited();
   if (m_codeSize == m_codeAllocated)
   {
      if (!reserveEntries(&m_instructions, &m_codeAllocated, static_cast<uint64_t>(m_codeSize) + 1))
      {
         delete instruction;
         return;
      }
   }
   instruction->m_address = m_codeSize;
   m_instructions[m_codeSize++] = instruction;
}

// Closes the most recent open forward jump of the given opcode: it will land on the next
// instruction to be appended.
void ORVA_Program::resolveLastJump(int opcode)
{
   if (!carriesAddress(opcode) || m_sharedCode != nullptr)
      return;
   codeEdited();
   for (uint32_t i = m_codeSize; i > 0; i--)
   {
      ORVA_Instruction *instruction = m_instructions[i - 1];
      if (instruction->m_opcode == opcode && instruction->m_operand.addr == ORVA_INVALID_ADDRESS)
      {
         instruction->m_operand.addr = m_codeSize;
         return;
      }
   }
}

// Replaces the instruction at position by a JMP to target on the same source line.
void ORVA_Program::createJumpAt(uint32_t position, uint32_t target)
{
   if (position >= m_codeSize || m_sharedCode != nullptr)
      return;
   codeEdited();
   int line = m_instructions[position]->m_sourceLine;
   delete m_instructions[position];
   m_instructions[position] = new ORVA_Instruction(line, JMP, target);
   m_instructions[position]->m_address = position;
}

// Cuts a string that snprintf truncated back to the last whole UTF-8 character.
static void trimPartialUTF8(char *text)
{
   size_t length = strlen(text);
   size_t start = length;
   while (start > 0 && (static_cast<unsigned char>(text[start - 1]) & 0xC0) == 0x80)
      start--;
   if (start == 0)
      return;
   unsigned char lead = static_cast<unsigned char>(text[start - 1]);
   size_t expected = (lead >= 0xF0) ? 4 : (lead >= 0xE0) ? 3 : (lead >= 0xC0) ? 2 : 1;
   if (length - (start - 1) < expected)
      text[start - 1] = 0;
}

// Position of the first of the count entries of functions named exactly name, or
// ORVA_INVALID_ADDRESS. The index answers when it covers all of them; when it does not and
// mayUpdate is set, it is brought up to date first. Without a usable index, the table is
// walked from the start.
static uint32_t findFunctionEntry(const ORVA_FunctionEntry *functions, uint32_t count, ORVA_FunctionIndex *index,
                                  bool mayUpdate, const wchar_t *name)
{
   if (index != nullptr && index->coveredCount() != count && mayUpdate)
      index->update(functions, count);
   if (index != nullptr && index->coveredCount() == count)
      return index->find(functions, name);
   for (uint32_t i = 0; i < count; i++)
      if (wcscmp(functions[i].name, name) == 0)
         return i;
   return ORVA_INVALID_ADDRESS;
}

// Registers a function. Returns 1, or 0 for a name already registered, with the message
// written into errorBuffer (cut to fit errorBufferSize bytes).
int ORVA_Program::addFunction(const char *name, uint32_t address, char *errorBuffer, size_t errorBufferSize)
{
   if (m_sharedCode != nullptr)
      return 0;
   if (name == nullptr)
      name = "";
   wchar_t *wideName = WideStringFromUTF8String(name);
   if (wideName == nullptr)
      return 0;

   if (m_functionIndex == nullptr)
      m_functionIndex = new (std::nothrow) ORVA_FunctionIndex();
   if (findFunctionEntry(m_functions, m_functionCount, m_functionIndex, true, wideName) != ORVA_INVALID_ADDRESS)
   {
      if (errorBuffer != nullptr && errorBufferSize > 0)
      {
         int written = snprintf(errorBuffer, errorBufferSize, "Duplicate function name: \"%s\"", name);
         if (written >= 0 && static_cast<size_t>(written) >= errorBufferSize)
            trimPartialUTF8(errorBuffer);
      }
      free(wideName);
      return 0;
   }

   if (!reserveEntries(&m_functions, &m_functionsAllocated, static_cast<uint64_t>(m_functionCount) + 1))
   {
      free(wideName);
      return 0;
   }
   ORVA_FunctionEntry *entry = &m_functions[m_functionCount++];
   memset(entry, 0, sizeof(*entry));
   wcsncpy(entry->name, wideName, 63);
   entry->address = (address == ORVA_INVALID_ADDRESS) ? m_codeSize : address;
   free(wideName);
   return 1;
}

// Appends a module name to the preload list; takes over and frees the argument.
void ORVA_Program::addPreload(char *name)
{
   if (m_sharedCode != nullptr)
   {
      free(name);
      return;
   }
   if (name == nullptr)
      return;
   wchar_t *wideName = WideStringFromUTF8String(name);
   free(name);
   if (wideName == nullptr)
      return;
   wchar_t **grown = static_cast<wchar_t **>(realloc(m_preloadList, (m_preloadCount + 1) * sizeof(wchar_t *)));
   if (grown == nullptr)
   {
      free(wideName);
      return;
   }
   m_preloadList = grown;
   m_preloadList[m_preloadCount++] = wideName;
}

// Binds every CALL_NAME whose name is a function of this program to its address. Calls
// left unresolved are looked up by name when they execute.
void ORVA_Program::resolveFunctions()
{
   if (m_sharedCode != nullptr)
      return;
   if (m_functionIndex != nullptr)
      m_functionIndex->update(m_functions, m_functionCount);
   for (uint32_t i = 0; i < m_codeSize; i++)
   {
      // The walk reads every instruction once; fetching ahead hides most of the misses.
      if (i + 16 < m_codeSize)
         __builtin_prefetch(m_instructions[i + 16]);
      ORVA_Instruction *instruction = m_instructions[i];
      if (instruction->m_opcode != CALL_NAME || instruction->m_operand.name == nullptr)
         continue;
      uint32_t address = getFunctionAddress(instruction->m_operand.name);
      if (address == ORVA_INVALID_ADDRESS)
         continue;
      instruction->releaseOperand();
      instruction->m_operand.addr = address;
      instruction->m_opcode = CALL_ADDR;
      if (i < m_instructionCacheCount)
         m_instructionCaches[i].run = 0;
   }
}

// Address of the first function entry named exactly `name`, or ORVA_INVALID_ADDRESS.
// The index is used as it stands: while a run has modules linked, the table is walked.
uint32_t ORVA_Program::getFunctionAddress(const wchar_t *name) const
{
   if (name == nullptr)
      return ORVA_INVALID_ADDRESS;
   uint32_t position = findFunctionEntry(m_functions, m_functionCount, m_functionIndex, false, name);
   return (position != ORVA_INVALID_ADDRESS) ? m_functions[position].address : ORVA_INVALID_ADDRESS;
}

// Appends the UTF-8 form of a wide string; a null string reads "(null)" as printf has it.
static void appendWide(std::string &line, const wchar_t *text)
{
   if (text == nullptr)
   {
      line += "(null)";
      return;
   }
   char *utf8 = UTF8StringFromWideString(text);
   if (utf8 != nullptr)
   {
      line += utf8;
      free(utf8);
   }
}

static void appendFormatted(std::string &line, const char *format, uint32_t number)
{
   char buffer[32];
   snprintf(buffer, sizeof(buffer), format, number);
   line += buffer;
}

static void appendInt(std::string &line, int number)
{
   char buffer[32];
   snprintf(buffer, sizeof(buffer), "%d", number);
   line += buffer;
}

// The listing of a PUSH_CONST or CASE operand.
static void appendConstant(std::string &line, ORVA_Value *constant)
{
   if (constant == nullptr || constant->isNull())
   {
      line += "<null>\n";
      return;
   }
   line += '"';
   if (constant->isObject() || constant->isArray())
      line += "(null)";   // these types have no text form
   else
      appendWide(line, constant->getValueAsCString());
   line += "\"\n";
}

// Writes the bytecode listing: one line per instruction, "%04X  %-6s  " followed by the
// opcode's listing form. Wide texts are written as UTF-8; each line goes out in one piece.
void ORVA_Program::dump(FILE *file)
{
   if (file == nullptr)
      return;
   std::string line;
   for (uint32_t address = 0; address < m_codeSize; address++)
   {
      ORVA_Instruction *instruction = m_instructions[address];
      int opcode = instruction->m_opcode;
      char prefix[64];
      snprintf(prefix, sizeof(prefix), "%04X  %-6s  ", address, mnemonicOf(opcode));
      line = prefix;

      ORVA_ListingForm form = isValidOpcode(opcode) ? g_orvaOpcodes[opcode].listing : ORVA_ListingForm::Plain;
      switch (form)
      {
         case ORVA_ListingForm::Plain:
            line += '\n';
            break;
         case ORVA_ListingForm::Address:
            appendFormatted(line, "%04X\n", instruction->m_operand.addr);
            break;
         case ORVA_ListingForm::AddressCount:
            appendFormatted(line, "%04X, ", instruction->m_operand.addr);
            appendInt(line, instruction->m_intOperand);
            line += '\n';
            break;
         case ORVA_ListingForm::Name:
            appendWide(line, instruction->m_operand.name);
            line += '\n';
            break;
         case ORVA_ListingForm::NameCount:
            appendWide(line, instruction->m_operand.name);
            line += ", ";
            appendInt(line, instruction->m_intOperand);
            line += '\n';
            break;
         case ORVA_ListingForm::Constant:
            appendConstant(line, instruction->m_operand.constant);
            break;
         case ORVA_ListingForm::Count:
            appendInt(line, instruction->m_intOperand);
            line += '\n';
            break;
         case ORVA_ListingForm::DataType:
            line += '[';
            if (instruction->m_intOperand >= ORVA_DT_NULL && instruction->m_intOperand <= ORVA_DT_UINT64)
               appendWide(line, g_orvaDataTypeNames[instruction->m_intOperand]);
            else
               appendInt(line, instruction->m_intOperand);
            line += "]\n";
            break;
      }
      fwrite(line.data(), 1, line.size(), file);
   }
}

const wchar_t *ORVA_Program::getErrorText() const
{
   return (m_errorText != nullptr) ? m_errorText : L"";
}

// Sets a global variable that every later run starts with; takes over the value.
void ORVA_Program::setGlobalVariable(const wchar_t *name, ORVA_Value *value)
{
   ORVA_Variable *variable = m_globals->find(name);
   if (variable != nullptr)
   {
      variable->setValue(value);
      return;
   }
   m_globals->create(name, value);
   globalsChanged();
}

void ORVA_Program::globalsChanged()
{
   m_lookupEpoch = ++m_epochCounter;
   m_epochFloor = m_lookupEpoch;
   m_carryStamp = kNoCarry;
}

// What runs learnt about the code may no longer describe it, also in a run under way.
void ORVA_Program::codeEdited()
{
   CodeEdited(m_runCache, m_runNumber);
   m_carryStamp = kNoCarry;
}

ORVA_Variable *ORVA_Program::findGlobalVariable(const wchar_t *name) const
{
   return m_globals->find(name);
}

// Hands a trace message to the environment of the current run; outside a run it is lost.
void ORVA_Program::trace(int level, const wchar_t *text)
{
   if (m_environment != nullptr)
      m_environment->trace(level, text);
}
