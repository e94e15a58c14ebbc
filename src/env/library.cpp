// ORVA_Library: the host's compiled scripts, each with a name and an id, in the order they
// were added. Three parallel malloc'ed arrays hold the programs (owned), private copies of
// the names and the ids. Names are unique ignoring the case of A-Z; ids are the host's
// business and may repeat. The library never takes its lock itself: lock and unlock are
// for hosts that share it between threads.
#include <cstdlib>
#include <cstring>

#include <orva.h>

#include "platform/platform.h"

// Message field that carries the number of scripts in fillMessage.
constexpr uint32_t kScriptCountField = 206;
// First field of the script list; script i has its id at kScriptListBase + 2i and its
// name at kScriptListBase + 2i + 1.
constexpr uint32_t kScriptListBase = 0x10000000;

ORVA_Library::ORVA_Library()
   : m_count(0), m_programs(nullptr), m_names(nullptr), m_ids(nullptr), m_lock(new std::recursive_mutex())
{
}

ORVA_Library::~ORVA_Library()
{
   for (uint32_t i = 0; i < m_count; i++)
   {
      delete m_programs[i];
      free(m_names[i]);
   }
   free(m_programs);
   free(m_names);
   free(m_ids);
   delete m_lock;
}

// Adds a script; the library owns the program from then on. Returns 0 and leaves the
// program with the caller when the name is already taken (case ignored). No program, and
// a program the library holds already (under another name), are refused too: the first
// would be a script that cannot be linked, the second would be deleted twice.
int ORVA_Library::addScript(uint32_t id, const wchar_t *name, ORVA_Program *program)
{
   if (name == nullptr || program == nullptr)
      return 0;
   for (uint32_t i = 0; i < m_count; i++)
      if (qv_wcsicmp(m_names[i], name) == 0 || m_programs[i] == program)
         return 0;

   wchar_t *nameCopy = qv_wcsdup(name);
   if (nameCopy == nullptr)
      return 0;
   size_t newCount = static_cast<size_t>(m_count) + 1;
   // Each array is grown on its own; one that grew while another failed only has room
   // to spare, because the count stays as it was.
   ORVA_Program **programs = static_cast<ORVA_Program **>(realloc(m_programs, newCount * sizeof(ORVA_Program *)));
   if (programs != nullptr)
      m_programs = programs;
   wchar_t **names = static_cast<wchar_t **>(realloc(m_names, newCount * sizeof(wchar_t *)));
   if (names != nullptr)
      m_names = names;
   uint32_t *ids = static_cast<uint32_t *>(realloc(m_ids, newCount * sizeof(uint32_t)));
   if (ids != nullptr)
      m_ids = ids;
   if (programs == nullptr || names == nullptr || ids == nullptr)
   {
      free(nameCopy);
      return 0;
   }

   m_programs[m_count] = program;
   m_names[m_count] = nameCopy;
   m_ids[m_count] = id;
   m_count++;
   return 1;
}

// Removes and destroys the first script of that name (case ignored), if any.
void ORVA_Library::deleteScript(const wchar_t *name)
{
   if (name == nullptr)
      return;
   for (uint32_t i = 0; i < m_count; i++)
   {
      if (qv_wcsicmp(m_names[i], name) == 0)
      {
         deleteInternal(static_cast<int>(i));
         return;
      }
   }
}

// Removes and destroys the first script with that id, if any.
void ORVA_Library::deleteScript(uint32_t id)
{
   for (uint32_t i = 0; i < m_count; i++)
   {
      if (m_ids[i] == id)
      {
         deleteInternal(static_cast<int>(i));
         return;
      }
   }
}

// The program of the first script of that name (case ignored), or null; the library
// keeps it.
ORVA_Program *ORVA_Library::findScript(const wchar_t *name) const
{
   if (name == nullptr)
      return nullptr;
   for (uint32_t i = 0; i < m_count; i++)
      if (qv_wcsicmp(m_names[i], name) == 0)
         return m_programs[i];
   return nullptr;
}

// Writes the number of scripts, then each script's id and name in library order.
void ORVA_Library::fillMessage(KWMPMessage *message) const
{
   if (message == nullptr)
      return;
   message->SetVariable(kScriptCountField, m_count);
   for (uint32_t i = 0; i < m_count; i++)
   {
      message->SetVariable(kScriptListBase + 2 * i, m_ids[i]);
      message->SetVariable(kScriptListBase + 2 * i + 1, static_cast<const wchar_t *>(m_names[i]));
   }
}

// Destroys the entry at position and closes the gap, keeping the order of the rest.
void ORVA_Library::deleteInternal(int position)
{
   if (position < 0 || static_cast<uint32_t>(position) >= m_count)
      return;
   uint32_t index = static_cast<uint32_t>(position);
   delete m_programs[index];
   free(m_names[index]);
   uint32_t following = m_count - index - 1;
   memmove(&m_programs[index], &m_programs[index + 1], following * sizeof(ORVA_Program *));
   memmove(&m_names[index], &m_names[index + 1], following * sizeof(wchar_t *));
   memmove(&m_ids[index], &m_ids[index + 1], following * sizeof(uint32_t));
   m_count--;
}
