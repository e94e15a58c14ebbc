// ORVA_Library: scripts kept by name and id, and the script list written into a message.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <orva.h>

using namespace ORVA_Op;

namespace {

// Programs whose destruction is observable: each holds a global variable with a host
// object, and the object's class records the tag when the program releases it.
class WatchClass : public ORVA_Class
{
public:
   void onObjectDelete(ORVA_Object *object) override
   {
      destroyed.push_back(static_cast<int>(reinterpret_cast<intptr_t>(object->getData())));
   }
   std::vector<int> destroyed;
};

ORVA_Program *taggedProgram(int tag, WatchClass *watch = nullptr)
{
   auto *program = new ORVA_Program();
   program->addInstruction(new ORVA_Instruction(tag, NRET));
   if (watch != nullptr)
      program->setGlobalVariable(L"watch", new ORVA_Value(new ORVA_Object(watch, reinterpret_cast<void *>(static_cast<intptr_t>(tag)))));
   return program;
}

int tagOf(const ORVA_Program *program)
{
   return program == nullptr ? -1 : program->getInstruction(0)->getLine();
}

// Reads the script list back from a message as (id, name) pairs.
std::vector<std::pair<uint32_t, std::wstring>> scriptList(const KWMPMessage &message)
{
   std::vector<std::pair<uint32_t, std::wstring>> list;
   uint32_t count = message.GetVariableLong(206);
   for (uint32_t i = 0; i < count; i++)
   {
      const wchar_t *name = message.GetVariableStr(0x10000001 + 2 * i);
      list.emplace_back(message.GetVariableLong(0x10000000 + 2 * i), name != nullptr ? name : L"<missing>");
   }
   return list;
}

TEST(Library, AddRefusesNamesThatDifferOnlyInCase)
{
   ORVA_Library library;
   EXPECT_EQ(library.addScript(1, L"Util", taggedProgram(1)), 1);
   ORVA_Program *second = taggedProgram(2);
   EXPECT_EQ(library.addScript(2, L"util", second), 0);
   delete second;   // refused: still the caller's
   EXPECT_EQ(library.getCount(), 1u);
   EXPECT_EQ(tagOf(library.findScript(L"UTIL")), 1);
   EXPECT_EQ(library.findScript(L"other"), nullptr);

   KWMPMessage message;
   library.fillMessage(&message);
   EXPECT_STREQ(message.GetVariableStr(0x10000001), L"Util");   // spelled as added
}

TEST(Library, NamesKeepTheirOwnCopy)
{
   ORVA_Library library;
   wchar_t name[] = L"abc";
   library.addScript(5, name, taggedProgram(5));
   name[0] = L'x';
   EXPECT_EQ(tagOf(library.findScript(L"ABC")), 5);
   EXPECT_EQ(library.findScript(L"xbc"), nullptr);
}

TEST(Library, DeleteByNameOrIdRemovesTheFirstMatchAndKeepsOrder)
{
   WatchClass watch;
   ORVA_Library library;
   library.addScript(7, L"A", taggedProgram(10, &watch));
   library.addScript(9, L"B", taggedProgram(11, &watch));
   library.addScript(9, L"C", taggedProgram(12, &watch));   // ids may repeat
   library.addScript(4, L"D", taggedProgram(13, &watch));

   library.deleteScript(static_cast<uint32_t>(9));   // only the earlier of the two
   EXPECT_EQ(library.findScript(L"B"), nullptr);
   EXPECT_EQ(tagOf(library.findScript(L"C")), 12);
   EXPECT_EQ(watch.destroyed, std::vector<int>{11});

   library.deleteScript(L"a");   // case ignored
   EXPECT_EQ(library.findScript(L"A"), nullptr);
   EXPECT_EQ(watch.destroyed, (std::vector<int>{11, 10}));

   library.deleteScript(L"missing");
   library.deleteScript(static_cast<uint32_t>(1234));
   EXPECT_EQ(library.getCount(), 2u);

   KWMPMessage message;
   library.fillMessage(&message);
   using List = std::vector<std::pair<uint32_t, std::wstring>>;
   EXPECT_EQ(scriptList(message), (List{{9, L"C"}, {4, L"D"}}));

   // A name freed by deletion can be added again, at the end.
   EXPECT_EQ(library.addScript(1, L"a", taggedProgram(14)), 1);
   KWMPMessage after;
   library.fillMessage(&after);
   EXPECT_EQ(scriptList(after), (List{{9, L"C"}, {4, L"D"}, {1, L"a"}}));
}

TEST(Library, DestructorDestroysEveryProgram)
{
   WatchClass watch;
   {
      ORVA_Library library;
      library.addScript(1, L"x", taggedProgram(1, &watch));
      library.addScript(2, L"y", taggedProgram(2, &watch));
      EXPECT_TRUE(watch.destroyed.empty());
   }
   EXPECT_EQ(watch.destroyed, (std::vector<int>{1, 2}));
}

TEST(Library, FillMessageWritesCountThenIdAndNamePerScript)
{
   ORVA_Library library;
   KWMPMessage empty;
   library.fillMessage(&empty);
   EXPECT_EQ(empty.GetFieldCount(), 1u);
   EXPECT_TRUE(empty.IsFieldSet(206));
   EXPECT_EQ(empty.GetVariableLong(206), 0u);

   library.addScript(7, L"A", taggedProgram(1));
   library.addScript(9, L"B", taggedProgram(2));
   library.addScript(4, L"C", taggedProgram(3));
   KWMPMessage full;
   library.fillMessage(&full);
   EXPECT_EQ(full.GetFieldCount(), 7u);
   EXPECT_EQ(full.GetVariableLong(206), 3u);
   EXPECT_EQ(full.GetVariableLong(268435456), 7u);
   EXPECT_STREQ(full.GetVariableStr(268435457), L"A");
   EXPECT_EQ(full.GetVariableLong(268435458), 9u);
   EXPECT_STREQ(full.GetVariableStr(268435459), L"B");
   EXPECT_EQ(full.GetVariableLong(268435460), 4u);
   EXPECT_STREQ(full.GetVariableStr(268435461), L"C");

   library.deleteScript(static_cast<uint32_t>(9));
   KWMPMessage shorter;
   library.fillMessage(&shorter);
   EXPECT_EQ(shorter.GetFieldCount(), 5u);
   EXPECT_EQ(shorter.GetVariableLong(206), 2u);
   EXPECT_EQ(shorter.GetVariableLong(268435456), 7u);
   EXPECT_STREQ(shorter.GetVariableStr(268435457), L"A");
   EXPECT_EQ(shorter.GetVariableLong(268435458), 4u);
   EXPECT_STREQ(shorter.GetVariableStr(268435459), L"C");
}

TEST(Library, ManyScriptsAndTheLock)
{
   ORVA_Library library;
   library.lock();
   library.lock();   // re-entrant for the holder
   for (uint32_t i = 0; i < 200; i++)
      ASSERT_EQ(library.addScript(i, (L"s" + std::to_wstring(i)).c_str(), taggedProgram(static_cast<int>(i))), 1);
   for (uint32_t i = 0; i < 200; i += 2)
      library.deleteScript(i);
   library.unlock();
   library.unlock();
   EXPECT_EQ(library.getCount(), 100u);
   EXPECT_EQ(tagOf(library.findScript(L"S199")), 199);
   EXPECT_EQ(library.findScript(L"s198"), nullptr);
   // The destructor releases the remaining programs (checked by the sanitizer build).
}

}  // namespace
