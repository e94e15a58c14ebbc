#include "compiler/token_texts.h"

#include <cstring>

namespace {

constexpr size_t kFirstSlots = 1024;

// FNV-1a: names are a few bytes long, and their hashes differ in the low bits.
uint32_t hashOf(const char *text, size_t length)
{
   uint32_t hash = 2166136261u;
   for (size_t i = 0; i < length; i++)
      hash = (hash ^ static_cast<unsigned char>(text[i])) * 16777619u;
   return hash;
}

size_t slotOf(uint32_t hash, size_t mask)
{
   return (hash ^ (hash >> 16)) & mask;
}

}  // namespace

char *ORVA_TokenTexts::intern(const char *text, size_t length)
{
   if (2 * (m_used + 1) > m_slots.size())
      grow();
   const uint32_t hash = hashOf(text, length);
   const size_t mask = m_slots.size() - 1;
   size_t i = slotOf(hash, mask);
   for (; m_slots[i].text != nullptr; i = (i + 1) & mask)
   {
      std::string &kept = *m_slots[i].text;
      if (m_slots[i].hash == hash && kept.size() == length && memcmp(kept.data(), text, length) == 0)
         return &kept[0];
   }
   std::string &kept = m_texts.emplace_back(text, length);
   m_slots[i] = {&kept, hash};
   m_used++;
   return &kept[0];
}

void ORVA_TokenTexts::grow()
{
   std::vector<Slot> slots(m_slots.empty() ? kFirstSlots : 2 * m_slots.size(), Slot{nullptr, 0});
   const size_t mask = slots.size() - 1;
   for (const Slot &slot : m_slots)
   {
      if (slot.text == nullptr)
         continue;
      size_t i = slotOf(slot.hash, mask);
      while (slots[i].text != nullptr)
         i = (i + 1) & mask;
      slots[i] = slot;
   }
   m_slots.swap(slots);
}
