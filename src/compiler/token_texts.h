// The texts of one compilation's tokens: names and string constants. Each distinct text
// is kept once, for the whole compilation, and the scanner hands that copy to the parser,
// which only reads it. A script names the same few variables hundreds of thousands of
// times; a copy per token cost one malloc and one free each, and a kept text lets the
// instructions find their shared name by its address (vm/instruction_memory.h).
#ifndef ORVA_COMPILER_TOKEN_TEXTS_H
#define ORVA_COMPILER_TOKEN_TEXTS_H

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

class ORVA_TokenTexts
{
public:
   ORVA_TokenTexts() = default;
   ORVA_TokenTexts(const ORVA_TokenTexts &) = delete;
   ORVA_TokenTexts &operator=(const ORVA_TokenTexts &) = delete;

   // The kept copy of the length bytes at text, terminated; valid until the texts go.
   char *intern(const char *text, size_t length);

private:
   // An open-addressed index of the kept texts: most tokens find their text in the first
   // slot they look at, without a call.
   struct Slot
   {
      std::string *text;   // null: empty
      uint32_t hash;
   };
   void grow();

   std::deque<std::string> m_texts;   // a deque never moves what it holds
   std::vector<Slot> m_slots;         // a power of two in size, at most half full
   size_t m_used = 0;
};

#endif
