// ORVA_Environment: the function table scripts call into, the output stream of print, the
// script library modules come from, and the print/trace hooks a host overrides.
//
// The table starts with the 32 built-ins of g_orvaDefaultFunctions (builtin_table.cpp);
// host records are appended after them. A name is looked up from the front, so a host
// function never hides a built-in, and of two host functions with one name the first
// registered wins. An environment shares the read-only built-ins with every other one and
// allocates nothing for them: a host makes one per event. It copies them only when it
// needs its own (ownTable). A sandbox takes functions out (removeFunction) or puts its own
// in their place (replaceFunction) explicitly. useModule lives with module linking
// (src/vm/modules.cpp).
#include <orva.h>

#include <cstdlib>
#include <cstring>
#include <new>

#include "env/builtins.h"
#include "platform/platform.h"
#include "values/pool.h"


// Room for a function name, terminator included.
constexpr size_t kFunctionNameSize = sizeof(ORVA_ExtFunction::name) / sizeof(wchar_t);

// Starts with the built-ins only, shared: nothing is allocated until the host adds a record.
ORVA_Environment::ORVA_Environment()
   : m_builtins(g_orvaDefaultFunctions), m_builtinCount(kBuiltinFunctionCount), m_functionCount(0),
     m_functions(nullptr), m_retired(nullptr), m_functionRoom(0), m_retiredRoom(0), m_library(nullptr),
     m_stdIn(nullptr), m_stdOut(nullptr), m_tableEdits(0)
{
}

// Releases the table only; the library and the streams belong to the host.
ORVA_Environment::~ORVA_Environment()
{
   TextRelease(m_functions, m_functionRoom);
   TextRelease(m_retired, m_retiredRoom);
}

// A derived class's size reaches operator delete through the virtual destructor.
void *ORVA_Environment::operator new(size_t size)
{
   size_t capacity;
   void *block = TextAllocate(size, &capacity);
   if (block == nullptr)
      throw std::bad_alloc();
   return block;
}

void ORVA_Environment::operator delete(void *block, size_t size)
{
   TextRelease(block, size);
}

// Appends copies of the host's records; the caller's array is not kept. When the table
// cannot grow (count overflow or no memory) it stays exactly as it was.
void ORVA_Environment::registerFunctionSet(uint32_t count, const ORVA_ExtFunction *functions)
{
   if (count == 0 || functions == nullptr)
      return;
   uint64_t newCount = static_cast<uint64_t>(m_functionCount) + count;
   if (newCount + m_builtinCount > UINT32_MAX || newCount > SIZE_MAX / sizeof(ORVA_ExtFunction))
      return;
   size_t room;
   auto *grown = static_cast<ORVA_ExtFunction *>(TextGrow(m_functions, m_functionRoom, m_functionCount * sizeof(ORVA_ExtFunction),
                                                          static_cast<size_t>(newCount) * sizeof(ORVA_ExtFunction), &room));
   if (grown == nullptr)
      return;
   memcpy(grown + m_functionCount, functions, static_cast<size_t>(count) * sizeof(ORVA_ExtFunction));
   m_functions = grown;
   m_functionRoom = room;
   m_functionCount = static_cast<uint32_t>(newCount);
   m_tableEdits++;
}

// Position of the first of count records whose name equals name exactly (case-sensitive),
// or count. The comparison never reads past a record's 64 characters, even if a host left
// a name unterminated; a name of 64 characters or more cannot be in the table.
static uint32_t findRecord(const ORVA_ExtFunction *functions, uint32_t count, const wchar_t *name)
{
   if (name == nullptr || count == 0 || wcsnlen(name, kFunctionNameSize) >= kFunctionNameSize)
      return count;
   for (uint32_t i = 0; i < count; i++)
   {
      if (functions[i].name[0] == name[0] && wcsncmp(functions[i].name, name, kFunctionNameSize) == 0)
         return i;
   }
   return count;
}

// Gives the environment a private copy of the whole table, built-ins first, so that its
// records can be changed or handed out for changing. The host records' old array is kept
// until the environment goes, so that a pointer lent before stays valid.
void ORVA_Environment::ownTable()
{
   if (m_builtinCount == 0)
      return;
   const size_t count = static_cast<size_t>(m_builtinCount) + m_functionCount;
   size_t room;
   auto *table = static_cast<ORVA_ExtFunction *>(TextAllocate(count * sizeof(ORVA_ExtFunction), &room));
   if (table == nullptr)
      throw std::bad_alloc();
   memcpy(table, m_builtins, m_builtinCount * sizeof(ORVA_ExtFunction));
   if (m_functionCount > 0)
      memcpy(table + m_builtinCount, m_functions, m_functionCount * sizeof(ORVA_ExtFunction));
   TextRelease(m_retired, m_retiredRoom);
   m_retired = m_functions;
   m_retiredRoom = m_functionRoom;
   m_functions = table;
   m_functionRoom = room;
   m_functionCount = static_cast<uint32_t>(count);
   m_builtinCount = 0;
   m_tableEdits++;
}

// A built-in comes first in the table, so a name that is one reaches it while the
// built-ins are shared; every other name is looked for among the host's records.
const ORVA_ExtFunction *ORVA_Environment::findFunction(const wchar_t *name) const
{
   return findFunction(name, (m_builtinCount != 0) ? FindBuiltin(name) : kBuiltinFunctionCount);
}

const ORVA_ExtFunction *ORVA_Environment::findFunction(const wchar_t *name, uint32_t builtin) const
{
   if (builtin < m_builtinCount)
      return &m_builtins[builtin];
   uint32_t position = findRecord(m_functions, m_functionCount, name);
   return (position < m_functionCount) ? &m_functions[position] : nullptr;
}

// The same lookup for a host that holds a modifiable environment and wants the record as
// a plain pointer into the table, which it may change: the table becomes the
// environment's own first.
ORVA_ExtFunction *ORVA_Environment::findFunction(const wchar_t *name)
{
   ownTable();
   uint32_t position = findRecord(m_functions, m_functionCount, name);
   return (position < m_functionCount) ? &m_functions[position] : nullptr;
}

// A built-in among the shared records is only taken out of a private copy.
uint32_t ORVA_Environment::removeFunction(const wchar_t *name)
{
   if (m_builtinCount != 0 && FindBuiltin(name) < m_builtinCount)
      ownTable();
   uint32_t kept = 0;
   for (uint32_t i = 0; i < m_functionCount; i++)
   {
      if (findRecord(&m_functions[i], 1, name) == 0)
         continue;
      m_functions[kept++] = m_functions[i];
   }
   const uint32_t removed = m_functionCount - kept;
   m_functionCount = kept;
   m_tableEdits++;
   return removed;
}

int ORVA_Environment::replaceFunction(const ORVA_ExtFunction &function)
{
   if (m_builtinCount != 0 && FindBuiltin(function.name) < m_builtinCount)
      ownTable();
   uint32_t position = findRecord(m_functions, m_functionCount, function.name);
   if (position == m_functionCount)
   {
      registerFunctionSet(1, &function);
      return 0;
   }
   m_functions[position] = function;
   m_tableEdits++;
   return 1;
}

// Writes the value's text form as UTF-8, with no terminator and no line end. Values without
// a text form (null, object, array) write "(null)". The whole text is written, zero
// characters included (each as a 0 byte), so a text made with an explicit length reaches
// the stream intact instead of being cut at its first zero character.
void ORVA_Environment::print(ORVA_Value *value)
{
   if (m_stdOut == nullptr)
      return;
   if (value == nullptr || value->isNull() || value->isObject() || value->isArray())
   {
      fputs("(null)", m_stdOut);
      return;
   }
   uint32_t length = 0;
   const wchar_t *text = value->getValueAsString(&length);
   if (text == nullptr || length == 0)
      return;
   size_t byteCount = 0;
   char *bytes = UTF8StringFromWideStringN(text, length, &byteCount);
   if (bytes == nullptr)
      throw std::bad_alloc();
   fwrite(bytes, 1, byteCount, m_stdOut);
   free(bytes);
}

// Trace messages go nowhere unless a host overrides this hook.
void ORVA_Environment::trace(int, const wchar_t *)
{
}
