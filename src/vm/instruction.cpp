// ORVA_Instruction: one record of a program's code. The operand slot holds, depending on
// the opcode's operand kind (vm/opcodes.h), nothing, a code address, an owned wide-string
// name or an owned constant value. The engine's variable cache always starts empty and
// is never copied: it points into the variable sets of one particular run.
//
// Memory. A compilation makes an instruction for nearly every token, and a program frees
// them all together, so instructions are not heap blocks of their own: each thread carves
// them one after another from its current block of kBlockSize bytes, and each instruction
// is preceded by a pointer to its block. A block goes back to the C allocator once it is
// retired (full, or its thread has ended) and its last instruction has been deleted, on
// whichever thread that happens: its counter starts at kUnretired, every delete takes one
// off, and retiring takes off kUnretired minus the number of instructions carved from it,
// so the counter reaches 0 exactly once, after both. Builds with AddressSanitizer use
// plain operator new and delete, so that leaks and use-after-free stay visible.
#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

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

// GCC says __SANITIZE_ADDRESS__, clang says __has_feature(address_sanitizer).
#if defined(__SANITIZE_ADDRESS__)
#define ORVA_INSTRUCTION_BLOCKS_DISABLED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ORVA_INSTRUCTION_BLOCKS_DISABLED 1
#endif
#endif

#ifndef ORVA_INSTRUCTION_BLOCKS_DISABLED

namespace {

struct InstructionBlock
{
   std::atomic<uint64_t> remaining;
};

// About 290 instructions a block: one allocation serves many, and a block that a single
// long-lived instruction keeps alive costs little.
constexpr size_t kBlockSize = 16384;
constexpr uint64_t kUnretired = uint64_t(1) << 62;
// The block pointer before each instruction; it keeps the instructions 8-byte aligned.
constexpr size_t kSlotHeader = sizeof(InstructionBlock *);
constexpr size_t kBlockHeader = (sizeof(InstructionBlock) + kSlotHeader - 1) / kSlotHeader * kSlotHeader;
static_assert(alignof(ORVA_Instruction) <= kSlotHeader, "slots keep instructions aligned");

struct ThreadBlocks
{
   InstructionBlock *current;
   char *next;
   char *end;
   uint64_t carved;
   bool registered;
   bool closed;
};

// Trivially destructible, so it stays readable while the thread's other thread_locals are
// destroyed; initial-exec reaches it without a call into the dynamic loader.
__attribute__((tls_model("initial-exec"))) thread_local ThreadBlocks t_blocks;

void dropInstructions(InstructionBlock *block, uint64_t count)
{
   if (block->remaining.fetch_sub(count, std::memory_order_acq_rel) == count)
   {
      block->~InstructionBlock();
      free(block);
   }
}

void retireCurrentBlock()
{
   if (t_blocks.current != nullptr)
      dropInstructions(t_blocks.current, kUnretired - t_blocks.carved);
   t_blocks.current = nullptr;
   t_blocks.next = nullptr;
   t_blocks.end = nullptr;
   t_blocks.carved = 0;
}

// Retires the thread's block when the thread ends; later instructions of the thread (made
// by other thread_locals' destructors) each get a block of their own.
struct BlockCloser
{
   ~BlockCloser()
   {
      retireCurrentBlock();
      t_blocks.closed = true;
   }
   void open() {}
};

thread_local BlockCloser t_closer;

__attribute__((noinline)) void startBlock(size_t slotSize)
{
   if (!t_blocks.registered && !t_blocks.closed)
   {
      // The first use of t_closer registers its destructor for this thread's exit.
      t_closer.open();
      t_blocks.registered = true;
   }
   retireCurrentBlock();
   size_t size = (kBlockHeader + slotSize > kBlockSize) ? kBlockHeader + slotSize : kBlockSize;
   void *memory = malloc(size);
   if (memory == nullptr)
      throw std::bad_alloc();
   auto *block = new (memory) InstructionBlock;
   block->remaining.store(kUnretired, std::memory_order_relaxed);
   t_blocks.current = block;
   t_blocks.next = static_cast<char *>(memory) + kBlockHeader;
   t_blocks.end = static_cast<char *>(memory) + size;
}

}  // namespace

void *ORVA_Instruction::operator new(size_t size)
{
   size_t slotSize = kSlotHeader + (size + kSlotHeader - 1) / kSlotHeader * kSlotHeader;
   if (slotSize > static_cast<size_t>(t_blocks.end - t_blocks.next))
      startBlock(slotSize);
   char *slot = t_blocks.next;
   t_blocks.next += slotSize;
   t_blocks.carved++;
   *reinterpret_cast<InstructionBlock **>(slot) = t_blocks.current;
   if (t_blocks.closed)
      retireCurrentBlock();
   return slot + kSlotHeader;
}

void ORVA_Instruction::operator delete(void *block)
{
   if (block == nullptr)
      return;
   char *slot = static_cast<char *>(block) - kSlotHeader;
   dropInstructions(*reinterpret_cast<InstructionBlock **>(slot), 1);
}

#else

void *ORVA_Instruction::operator new(size_t size)
{
   return ::operator new(size);
}

void ORVA_Instruction::operator delete(void *block)
{
   ::operator delete(block);
}

#endif
