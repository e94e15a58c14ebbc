// ORVA_Instruction: one record of a program's code. The operand slot holds, depending on
// the opcode's operand kind (vm/opcodes.h), nothing, a code address, an owned wide-string
// name or an owned constant value, and the record knows its address; what runs learn about
// it is kept by the program (instruction_cache.h), so the record is only read once built.
//
// Memory. A compilation makes an instruction for nearly every token, most with a name, and
// a program frees them all together, so instructions and their names are not heap blocks
// of their own: each thread carves them one after another from its current block, which
// is made of aligned units that each begin with a pointer to the block, so a piece is
// found by its address alone and carries only its contents. A block goes back to the C
// allocator once it is retired (full, or its thread has ended) and everything carved from
// it has been released, on whichever thread that happens: its counter starts at
// kUnretired, every release takes one off, and retiring takes off kUnretired minus the
// number of pieces carved from it, so the counter reaches 0 exactly once, after both.
// A name operand is therefore released by its instruction (releaseOperand), never with
// free. During a large compilation (instruction_memory.h) the blocks are 2 MB, mapped on
// their own. Builds with AddressSanitizer use plain operator
// new and malloc, so that leaks and use-after-free stay visible.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <memory>
#include <new>
#include <string>
#include <unordered_map>

#include <sys/mman.h>

#include "platform/platform.h"
#include "vm/instruction_memory.h"
#include "vm/opcodes.h"

// GCC says __SANITIZE_ADDRESS__, clang says __has_feature(address_sanitizer).
#if defined(__SANITIZE_ADDRESS__)
#define ORVA_INSTRUCTION_BLOCKS_DISABLED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ORVA_INSTRUCTION_BLOCKS_DISABLED 1
#endif
#endif

namespace {

#ifndef ORVA_INSTRUCTION_BLOCKS_DISABLED

struct InstructionBlock
{
   std::atomic<uint64_t> remaining;
   size_t mappedSize;   // 0 for a block from the C allocator
};

// Blocks are made of units of kUnitSize bytes, each aligned to its size and starting with
// a pointer to the header of its block; a piece never crosses the end of its unit, so the
// unit, and with it the block, is found from the piece's address alone and the pieces
// themselves carry nothing but their contents.
constexpr size_t kUnitSize = 16384;
// A small block is one unit: about 680 instructions, so one allocation serves many, and a
// block that a single long-lived instruction keeps alive costs little.
constexpr size_t kBlockSize = kUnitSize;
// Blocks of a large compilation: a mapping each, for hundreds of instructions' worth of
// units at a time. They are not advised to use transparent huge pages: with the kernel's
// usual setting a fault on such a page may wait for memory to be compacted, and a large
// compilation right after another program freed much memory took up to twice as long.
constexpr size_t kBulkBlockSize = size_t(2) << 20;
static_assert(kBulkBlockSize % kUnitSize == 0, "bulk blocks are whole units");
// A piece larger than this (a very long name) gets a block of its own.
constexpr size_t kLargestCarved = kUnitSize / 8;
constexpr uint64_t kUnretired = uint64_t(1) << 62;
// Pieces are rounded to this size, which keeps them aligned for what they hold.
constexpr size_t kPieceAlignment = 8;
constexpr size_t kUnitHeader = sizeof(InstructionBlock *);
// The first unit of a block also holds the block's header.
constexpr size_t kFirstUnitHeader = kUnitHeader + (sizeof(InstructionBlock) + kPieceAlignment - 1) / kPieceAlignment * kPieceAlignment;
static_assert(alignof(ORVA_Instruction) <= kPieceAlignment, "pieces keep instructions aligned");
static_assert(alignof(ORVA_Value) <= kPieceAlignment, "pieces keep constants aligned");
static_assert(alignof(wchar_t) <= kPieceAlignment, "pieces keep names aligned");
static_assert(kUnitHeader % kPieceAlignment == 0 && kFirstUnitHeader + kLargestCarved <= kUnitSize,
              "a unit holds the largest piece carved from a block");

struct ThreadBlocks
{
   InstructionBlock *current;
   char *next;
   char *end;        // of the current unit
   char *blockEnd;
   uint64_t carved;
   bool registered;
   bool closed;
   bool bulk;   // a large compilation runs: new blocks are bulk blocks
};

// Trivially destructible, so it stays readable while the thread's other thread_locals are
// destroyed; initial-exec reaches it without a call into the dynamic loader.
__attribute__((tls_model("initial-exec"))) thread_local ThreadBlocks t_blocks;

void releasePieces(InstructionBlock *block, uint64_t count)
{
   if (block->remaining.fetch_sub(count, std::memory_order_acq_rel) == count)
   {
      size_t mappedSize = block->mappedSize;
      block->~InstructionBlock();
      void *memory = reinterpret_cast<char *>(block) - kUnitHeader;
      if (mappedSize != 0)
         munmap(memory, mappedSize);
      else
         free(memory);
   }
}

void retireCurrentBlock()
{
   if (t_blocks.current != nullptr)
      releasePieces(t_blocks.current, kUnretired - t_blocks.carved);
   t_blocks.current = nullptr;
   t_blocks.next = nullptr;
   t_blocks.end = nullptr;
   t_blocks.blockEnd = nullptr;
   t_blocks.carved = 0;
}

// Retires the thread's block when the thread ends; pieces carved later on the thread (by
// other thread_locals' destructors) each get a block of their own.
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

// Lays out the first unit of a block at memory: its unit header and the block's header.
InstructionBlock *placeBlock(void *memory, size_t mappedSize)
{
   auto *block = new (static_cast<char *>(memory) + kUnitHeader) InstructionBlock;
   *static_cast<InstructionBlock **>(memory) = block;
   block->remaining.store(kUnretired, std::memory_order_relaxed);
   block->mappedSize = mappedSize;
   return block;
}

// A block of at least size bytes, whole units, from the C allocator.
InstructionBlock *newBlock(size_t size)
{
   size_t units = (size + kUnitSize - 1) / kUnitSize;
   void *memory = aligned_alloc(kUnitSize, units * kUnitSize);
   if (memory == nullptr)
      throw std::bad_alloc();
   return placeBlock(memory, 0);
}

// A block of kBulkBlockSize bytes on a boundary of its size (which keeps its units on
// theirs); null when the system has no such memory to give.
InstructionBlock *newBulkBlock()
{
   size_t span = 2 * kBulkBlockSize;
   void *mapped = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
   if (mapped == MAP_FAILED)
      return nullptr;
   uintptr_t address = reinterpret_cast<uintptr_t>(mapped);
   uintptr_t start = (address + kBulkBlockSize - 1) & ~static_cast<uintptr_t>(kBulkBlockSize - 1);
   size_t head = start - address;
   if (head != 0)
      munmap(mapped, head);
   if (span - head - kBulkBlockSize != 0)
      munmap(reinterpret_cast<char *>(start) + kBulkBlockSize, span - head - kBulkBlockSize);
   return placeBlock(reinterpret_cast<void *>(start), kBulkBlockSize);
}

char *unitStartOf(InstructionBlock *block)
{
   return reinterpret_cast<char *>(block) - kUnitHeader;
}

__attribute__((noinline)) void startBlock()
{
   if (!t_blocks.registered && !t_blocks.closed)
   {
      // The first use of t_closer registers its destructor for this thread's exit.
      t_closer.open();
      t_blocks.registered = true;
   }
   retireCurrentBlock();
   InstructionBlock *block = t_blocks.bulk ? newBulkBlock() : nullptr;
   if (block == nullptr)
      block = newBlock(kBlockSize);
   char *unit = unitStartOf(block);
   t_blocks.current = block;
   t_blocks.next = unit + kFirstUnitHeader;
   t_blocks.end = unit + kUnitSize;
   t_blocks.blockEnd = unit + (block->mappedSize != 0 ? block->mappedSize : kBlockSize);
}

// Goes on to the next unit of the current block, or to a new block after the last one.
void startUnit()
{
   if (t_blocks.end == t_blocks.blockEnd)
   {
      startBlock();
      return;
   }
   char *unit = t_blocks.end;
   *reinterpret_cast<InstructionBlock **>(unit) = t_blocks.current;
   t_blocks.next = unit + kUnitHeader;
   t_blocks.end = unit + kUnitSize;
}

// A piece of at least size bytes from the thread's current block; throws std::bad_alloc.
void *carve(size_t size)
{
   size_t pieceSize = (size + kPieceAlignment - 1) / kPieceAlignment * kPieceAlignment;
   if (pieceSize > kLargestCarved)
   {
      InstructionBlock *block = newBlock(kFirstUnitHeader + pieceSize);
      releasePieces(block, kUnretired - 1);   // retired at once, with its one piece
      return unitStartOf(block) + kFirstUnitHeader;
   }
   if (pieceSize > static_cast<size_t>(t_blocks.end - t_blocks.next))
      startUnit();
   char *piece = t_blocks.next;
   t_blocks.next += pieceSize;
   t_blocks.carved++;
   if (t_blocks.closed)
      retireCurrentBlock();
   return piece;
}

// The block a piece was carved from, read off the start of its unit.
InstructionBlock *blockOf(void *carved)
{
   uintptr_t unit = reinterpret_cast<uintptr_t>(carved) & ~static_cast<uintptr_t>(kUnitSize - 1);
   return *reinterpret_cast<InstructionBlock **>(unit);
}

void release(void *carved)
{
   if (carved == nullptr)
      return;
   releasePieces(blockOf(carved), 1);
}

// One more holder of a carved piece: its block counts it as one more piece to release.
void *share(void *carved)
{
   blockOf(carved)->remaining.fetch_add(1, std::memory_order_relaxed);
   return carved;
}

// The names a bulk compilation carved, by their UTF-8 text: a large script names the same
// few variables hundreds of thousands of times, and each instruction of a name shares the
// one copy. The table holds a share of each name itself, so that a name stays while the
// optimizer deletes instructions that held it.
}  // namespace

class ORVA_SharedNames
{
public:
   ORVA_SharedNames() = default;
   ORVA_SharedNames(const ORVA_SharedNames &) = delete;
   ORVA_SharedNames &operator=(const ORVA_SharedNames &) = delete;
   ~ORVA_SharedNames()
   {
      for (auto &entry : m_names)
         release(entry.second);
      for (auto &entry : m_keptNames)
         release(entry.second);
   }

   // Another holder's share of the name carved for `text`, or null when there is none yet.
   // A kept text stays unchanged at its address while the compilation lasts (the
   // compiler's token texts), so its address finds the name without reading the text.
   wchar_t *take(const char *text, bool kept) const
   {
      wchar_t *name = nullptr;
      if (kept)
      {
         auto found = m_keptNames.find(text);
         name = found != m_keptNames.end() ? found->second : nullptr;
      }
      else
      {
         // Names are short: the key fits a string's own buffer, no allocation is made.
         auto found = m_names.find(std::string(text));
         name = found != m_names.end() ? found->second : nullptr;
      }
      return name != nullptr ? static_cast<wchar_t *>(share(name)) : nullptr;
   }
   void add(const char *text, bool kept, wchar_t *name)
   {
      if (kept)
         m_keptNames.emplace(text, name);
      else
         m_names.emplace(std::string(text), name);
      share(name);
   }

private:
   std::unordered_map<std::string, wchar_t *> m_names;
   std::unordered_map<const char *, wchar_t *> m_keptNames;
};

namespace {

// Switches the thread's bulk mode and returns the previous one. Either switch retires the
// current block: a bulk block is started at once, and none is left in use after the
// compilation.
bool setBulk(bool bulk)
{
   bool previous = t_blocks.bulk;
   retireCurrentBlock();
   t_blocks.bulk = bulk;
   return previous;
}


#else

void *carve(size_t size)
{
   void *memory = malloc(size);
   if (memory == nullptr)
      throw std::bad_alloc();
   return memory;
}

void release(void *carved)
{
   free(carved);
}

bool setBulk(bool)
{
   return false;
}

}  // namespace

// Pieces from malloc cannot be shared: every instruction keeps its own name.
class ORVA_SharedNames
{
public:
   wchar_t *take(const char *, bool) const { return nullptr; }
   void add(const char *, bool, wchar_t *) {}
};

namespace {

#endif

// The names of the bulk compilation under way on this thread, or null.
thread_local ORVA_SharedNames *t_sharedNames = nullptr;

// A name of length characters copied into the thread's blocks.
wchar_t *carveName(const wchar_t *text, size_t length)
{
   auto *name = static_cast<wchar_t *>(carve((length + 1) * sizeof(wchar_t)));
   wmemcpy(name, text, length);
   name[length] = 0;
   return name;
}

// A UTF-8 name converted into the thread's blocks. ASCII, which every name from the
// scanner is, converts byte by byte; anything else goes through WideStringFromUTF8String,
// so both read the same.
wchar_t *convertUTF8Name(const char *text)
{
   size_t length = 0;
   bool ascii = true;
   for (; text[length] != 0; length++)
   {
      if (static_cast<unsigned char>(text[length]) >= 0x80)
         ascii = false;
   }
   if (!ascii)
   {
      wchar_t *wide = WideStringFromUTF8String(text);
      if (wide == nullptr)
         throw std::bad_alloc();
      wchar_t *name = carveName(wide, wcslen(wide));
      free(wide);
      return name;
   }
   auto *name = static_cast<wchar_t *>(carve((length + 1) * sizeof(wchar_t)));
   for (size_t i = 0; i <= length; i++)
      name[i] = static_cast<unsigned char>(text[i]);
   return name;
}

// A UTF-8 name in the thread's blocks, shared with the instructions that named it before
// in a bulk compilation; null for null. kept: see ORVA_SharedNames::take.
wchar_t *carveUTF8Name(const char *text, bool kept = false)
{
   if (text == nullptr)
      return nullptr;
   if (t_sharedNames == nullptr)
      return convertUTF8Name(text);
   wchar_t *name = t_sharedNames->take(text, kept);
   if (name != nullptr)
      return name;
   name = convertUTF8Name(text);
   try
   {
      t_sharedNames->add(text, kept, name);
   }
   catch (...)
   {
      release(name);
      throw;
   }
   return name;
}

}  // namespace

ORVA_InstructionBulk::ORVA_InstructionBulk(bool enable)
   : m_enabled(enable), m_previous(false), m_names(nullptr), m_previousNames(nullptr)
{
   if (!m_enabled)
      return;
   m_names = new ORVA_SharedNames();
   m_previousNames = t_sharedNames;
   t_sharedNames = m_names;
   m_previous = setBulk(true);
}

ORVA_InstructionBulk::~ORVA_InstructionBulk()
{
   if (!m_enabled)
      return;
   setBulk(m_previous);
   t_sharedNames = m_previousNames;
   delete m_names;
}

namespace {

// Where a compiled constant stands in its piece: right behind the instruction record.
constexpr size_t kCompiledConstantOffset =
   (sizeof(ORVA_Instruction) + alignof(ORVA_Value) - 1) / alignof(ORVA_Value) * alignof(ORVA_Value);

char *roomOf(ORVA_Value *constant)
{
   return reinterpret_cast<char *>(constant) - kCompiledConstantOffset;
}

}  // namespace

void *carveCompiledConstantRoom()
{
   return carve(kCompiledConstantOffset + sizeof(ORVA_Value));
}

void releaseCompiledConstantRoom(void *room)
{
   release(room);
}

ORVA_Value *compiledConstantIn(void *room)
{
   return reinterpret_cast<ORVA_Value *>(static_cast<char *>(room) + kCompiledConstantOffset);
}

ORVA_Instruction *instructionWithCompiledConstant(int line, int opcode, ORVA_Value *constant)
{
   return ::new (roomOf(constant)) ORVA_Instruction(line, opcode, constant);
}

void discardCompiledConstant(ORVA_Value *constant)
{
   if (constant == nullptr)
      return;
   constant->~ORVA_Value();
   release(roomOf(constant));
}

ORVA_Instruction *newNamedInstruction(int line, int opcode, const char *name, int intOperand)
{
   std::unique_ptr<ORVA_Instruction> instruction(new ORVA_Instruction(line, opcode, intOperand));
   instruction->m_operand.name = carveUTF8Name(name, true);
   return instruction.release();
}

void *ORVA_Instruction::operator new(size_t size)
{
   return carve(size);
}

void ORVA_Instruction::operator delete(void *block)
{
   release(block);
}

ORVA_Instruction::ORVA_Instruction(int line, int opcode)
   : m_opcode(opcode), m_intOperand(0), m_sourceLine(line), m_address(0)
{
   m_operand.raw = nullptr;
}

ORVA_Instruction::ORVA_Instruction(int line, int opcode, ORVA_Value *constant)
   : m_opcode(opcode), m_intOperand(0), m_sourceLine(line), m_address(0)
{
   m_operand.constant = constant;
}

ORVA_Instruction::ORVA_Instruction(int line, int opcode, char *name)
   : ORVA_Instruction(line, opcode, name, 0)
{
}

ORVA_Instruction::ORVA_Instruction(int line, int opcode, char *name, int intOperand)
   : m_opcode(opcode), m_intOperand(intOperand), m_sourceLine(line), m_address(0)
{
   // The name is released here also when carving throws.
   struct FreeName
   {
      char *text;
      ~FreeName() { free(text); }
   } owned{name};
   m_operand.name = carveUTF8Name(name);
}

ORVA_Instruction::ORVA_Instruction(int line, int opcode, uint32_t address)
   : m_opcode(opcode), m_intOperand(0), m_sourceLine(line), m_address(0)
{
   m_operand.raw = nullptr;
   m_operand.addr = address;
}

ORVA_Instruction::ORVA_Instruction(int line, int opcode, int intOperand)
   : m_opcode(opcode), m_intOperand(intOperand), m_sourceLine(line), m_address(0)
{
   m_operand.raw = nullptr;
}

ORVA_Instruction::ORVA_Instruction(const ORVA_Instruction *src)
   : m_opcode(src->m_opcode), m_intOperand(src->m_intOperand), m_sourceLine(src->m_sourceLine), m_address(0)
{
   switch (operandKindOf(m_opcode))
   {
      case ORVA_OperandKind::Name:
         m_operand.name = (src->m_operand.name != nullptr) ? carveName(src->m_operand.name, wcslen(src->m_operand.name)) : nullptr;
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
         release(m_operand.name);
         break;
      case ORVA_OperandKind::Constant:
         // A compiled constant shares the instruction's piece, which goes with the record.
         if (m_operand.constant != nullptr && m_operand.constant == compiledConstantIn(this))
            m_operand.constant->~ORVA_Value();
         else
            delete m_operand.constant;
         break;
      default:
         break;
   }
   m_operand.raw = nullptr;
}

