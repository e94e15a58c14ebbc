// KWMPMessage: numbered integer and text fields of a protocol message, kept in a map.
#include "orva.h"

#include <map>
#include <new>
#include <string>

struct KWMPMessage::Fields
{
   struct Field
   {
      bool isText;
      uint32_t number;
      std::wstring text;
   };
   std::map<uint32_t, Field> byId;
};

KWMPMessage::KWMPMessage() : m_fields(new (std::nothrow) Fields)
{
}

KWMPMessage::~KWMPMessage()
{
   delete m_fields;
}

void KWMPMessage::SetVariable(uint32_t id, uint32_t value)
{
   if (m_fields == nullptr)
      return;
   try
   {
      Fields::Field &field = m_fields->byId[id];
      field.isText = false;
      field.number = value;
      field.text.clear();
   }
   catch (...)
   {
      // Out of memory: the field is not stored.
   }
}

void KWMPMessage::SetVariable(uint32_t id, const wchar_t *value)
{
   if (m_fields == nullptr)
      return;
   try
   {
      Fields::Field &field = m_fields->byId[id];
      field.isText = true;
      field.number = 0;
      field.text = (value != nullptr) ? value : L"";
   }
   catch (...)
   {
      m_fields->byId.erase(id);
   }
}

uint32_t KWMPMessage::GetFieldCount() const
{
   return m_fields != nullptr ? static_cast<uint32_t>(m_fields->byId.size()) : 0;
}

bool KWMPMessage::IsFieldSet(uint32_t id) const
{
   return m_fields != nullptr && m_fields->byId.count(id) > 0;
}

uint32_t KWMPMessage::GetVariableLong(uint32_t id) const
{
   if (m_fields == nullptr)
      return 0;
   auto it = m_fields->byId.find(id);
   return (it != m_fields->byId.end() && !it->second.isText) ? it->second.number : 0;
}

const wchar_t *KWMPMessage::GetVariableStr(uint32_t id) const
{
   if (m_fields == nullptr)
      return nullptr;
   auto it = m_fields->byId.find(id);
   return (it != m_fields->byId.end() && it->second.isText) ? it->second.text.c_str() : nullptr;
}
