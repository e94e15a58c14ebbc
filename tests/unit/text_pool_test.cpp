// Text buffers of values: texts that grow across the pool's size classes and past them,
// a text appended to itself as it moves, and texts made on one thread and released on
// another (also after the thread that made them has ended); and the large blocks a
// thread keeps for reuse.
#include <orva.h>

#include "value_text.h"

#include "values/pool.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {


// A text of `length` characters that differ from their neighbours, so a misplaced copy
// shows.
std::wstring pattern(size_t length, wchar_t first)
{
   std::wstring text;
   for (size_t i = 0; i < length; i++)
      text.push_back(static_cast<wchar_t>(first + i % 23));
   return text;
}

}  // namespace

// Appending the value's own text (all of it, or its tail) while the buffer moves from
// class to class and on to the C allocator.
TEST(TextBuffers, AppendingOwnTextAcrossEverySize)
{
   ORVA_Value whole(L"a");
   ORVA_Value tail(L"xy");
   std::wstring expectedWhole = L"a";
   std::wstring expectedTail = L"xy";
   while (expectedWhole.size() < 5000)
   {
      uint32_t length = 0;
      const wchar_t *own = whole.getValueAsString(&length);
      whole.concatenate(own, length);
      expectedWhole += expectedWhole;
      ASSERT_EQ(textOf(&whole), expectedWhole);

      own = tail.getValueAsString(&length);
      tail.concatenate(own + length / 2, length - length / 2);
      expectedTail += expectedTail.substr(expectedTail.size() / 2);
      ASSERT_EQ(textOf(&tail), expectedTail);
   }
   EXPECT_EQ(whole.getDataType(), ORVA_DT_STRING);
}

// Copies and appends one character at a time, from the empty text past the largest pooled
// class: every length keeps its text and its terminator.
TEST(TextBuffers, GrowingAndCopyingKeepTheText)
{
   const std::wstring full = pattern(2100, L'A');
   ORVA_Value grown(L"");
   for (size_t n = 0; n < full.size(); n++)
   {
      grown.concatenate(&full[n], 1);
      ValuePtr copy(new ORVA_Value(&grown));
      const wchar_t *text = copy->getValueAsCString();
      ASSERT_EQ(std::wstring(text), full.substr(0, n + 1));
   }
}

// Texts made on one thread die on another, which keeps their buffers and hands them out
// again; then the other way round once the making thread has ended.
TEST(TextBuffers, ReleasedOnAnotherThread)
{
   const size_t lengths[] = {0, 1, 3, 4, 7, 8, 100, 511, 512, 1000, 3000};
   std::vector<ORVA_Value *> made;
   std::thread maker([&] {
      for (int round = 0; round < 50; round++)
      {
         for (size_t length : lengths)
         {
            const std::wstring text = pattern(length, static_cast<wchar_t>(L'a' + round % 5));
            made.push_back(new ORVA_Value(text.c_str(), static_cast<uint32_t>(length)));
         }
      }
   });
   maker.join();

   std::vector<ORVA_Value *> remade;
   std::thread releaser([&] {
      for (ORVA_Value *value : made)
         delete value;
      for (int round = 0; round < 50; round++)
      {
         for (size_t length : lengths)
         {
            const std::wstring text = pattern(length, static_cast<wchar_t>(L'A' + round % 7));
            ORVA_Value *value = new ORVA_Value(text.c_str(), static_cast<uint32_t>(length));
            value->concatenate(L"!", 1);
            remade.push_back(value);
         }
      }
   });
   releaser.join();

   size_t index = 0;
   for (int round = 0; round < 50; round++)
   {
      for (size_t length : lengths)
      {
         ORVA_Value *value = remade[index++];
         EXPECT_EQ(textOf(value), pattern(length, static_cast<wchar_t>(L'A' + round % 7)) + L"!");
         delete value;
      }
   }
}

// The first character decides quickly that most texts are no number; texts that start
// with white space, a sign or a point are still read in full.
TEST(TextBuffers, NumberRecognitionAfterAppending)
{
   struct Case
   {
      const wchar_t *start;
      const wchar_t *appended;
      int type;
   } cases[] = {
      {L"\t", L"5", ORVA_DT_INT32},   {L"\n", L"5", ORVA_DT_INT32}, {L"\v", L"5", ORVA_DT_INT32},
      {L"\f", L"5", ORVA_DT_INT32},   {L"\r", L".5", ORVA_DT_REAL}, {L"+", L".5", ORVA_DT_REAL},
      {L"-", L"0x1A", ORVA_DT_INT32}, {L"-", L"1e3", ORVA_DT_REAL}, {L"x", L"5", ORVA_DT_STRING},
      {L"\u00a0", L"5", ORVA_DT_STRING}, {L"", L"", ORVA_DT_INT32},
   };
   for (const Case &c : cases)
   {
      ORVA_Value value(c.start);
      value.concatenate(c.appended, static_cast<uint32_t>(wcslen(c.appended)));
      EXPECT_EQ(value.getDataType(), c.type) << c.start << c.appended;
   }
   ORVA_Value zero(std::wstring(L"\0", 1).c_str(), 1);
   EXPECT_EQ(zero.getDataType(), ORVA_DT_STRING);
}

// A value keeps its text's room in one byte. The code may understate the room, never
// overstate it (a text would then grow past its block), by at most an eighth; the pool's
// power-of-two blocks keep all their room.
TEST(TextBuffers, RoomCodeNeverOverstates)
{
   for (size_t bytes : {size_t{8}, size_t{15}, size_t{16}, size_t{17}, size_t{100}, size_t{2048}, size_t{2052},
                        size_t{3000}, size_t{4096}, size_t{65535}, size_t{1} << 33, (size_t{1} << 34) + 4})
   {
      const size_t room = TextRoomOf(TextRoomCode(bytes));
      EXPECT_LE(room, bytes) << bytes;
      EXPECT_GE(room * 9, bytes * 8) << bytes;
   }
   for (size_t bytes = 8; bytes <= (size_t{1} << 34); bytes *= 2)
      EXPECT_EQ(TextRoomOf(TextRoomCode(bytes)), bytes);
}

// A thread keeps large blocks it released (an array's big pages) for the next request of
// the same size only.
TEST(LargeBlocks, ComeBackForTheirOwnSizeOnly)
{
   const size_t size = kLargeBlockSmallest * 2;
   auto *kept = static_cast<unsigned char *>(LargeBlockAllocate(size));
   ASSERT_NE(kept, nullptr);
   std::memset(kept, 1, size);
   LargeBlockRelease(kept, size);
   auto *larger = static_cast<unsigned char *>(LargeBlockAllocate(size * 2));
   ASSERT_NE(larger, nullptr);
   EXPECT_NE(larger, kept);
   std::memset(larger, 2, size * 2);
   auto *same = static_cast<unsigned char *>(LargeBlockAllocate(size));
   ASSERT_NE(same, nullptr);
   std::memset(same, 3, size);
   EXPECT_EQ(larger[size * 2 - 1], 2);
   LargeBlockRelease(same, size);
   LargeBlockRelease(larger, size * 2);
}
