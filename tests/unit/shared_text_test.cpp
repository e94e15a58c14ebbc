// Values that share one text buffer: a copy shares its original's text, and whichever of
// them changes its text in place must make the text its own first. Each case changes one
// holder and checks that every other holder, and a text pointer handed out before, still
// reads as it did. Under AddressSanitizer a buffer given back too early shows as well.
#include <orva.h>

#include "value_text.h"

#include "compile_script.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {


struct Change
{
   const char *name;
   std::function<void(ORVA_Value &)> apply;
   const wchar_t *text;  // the changed value's text afterwards
   int dataType;         // and its data type
};

// Everything that changes a value's text in place or replaces it.
const Change kChanges[] = {
   {"append", [](ORVA_Value &v) { v.concatenate(L"-tail", 5); }, L"0x1A-tail", ORVA_DT_STRING},
   {"append digits", [](ORVA_Value &v) { v.concatenate(L"77", 2); }, L"0x1A77", ORVA_DT_INT32},
   {"append own text",
    [](ORVA_Value &v) {
       uint32_t length = 0;
       const wchar_t *own = v.getValueAsString(&length);
       v.concatenate(own, length);
    },
    L"0x1A0x1A", ORVA_DT_STRING},
   {"append nothing", [](ORVA_Value &v) { v.concatenate(nullptr, 0); }, L"0x1A", ORVA_DT_INT32},
   {"set", [](ORVA_Value &v) { v.set(5); }, L"5", ORVA_DT_INT32},
   {"convert to real", [](ORVA_Value &v) { v.convert(ORVA_DT_REAL); }, L"26.000000", ORVA_DT_REAL},
   {"convert to uint64", [](ORVA_Value &v) { v.convert(ORVA_DT_UINT64); }, L"26", ORVA_DT_UINT64},
   {"increment", [](ORVA_Value &v) { v.increment(); }, L"27", ORVA_DT_INT32},
   {"swap",
    [](ORVA_Value &v) {
       ORVA_Value other(L"other");
       v.swap(other);
    },
    L"other", ORVA_DT_STRING},
   {"rename", [](ORVA_Value &v) { v.setName(L"n"); }, L"0x1A", ORVA_DT_INT32},
};

class SharedText : public ::testing::TestWithParam<Change>
{
};

// The original, two copies of it and a text pointer each handed out before the change:
// one of the three changes, the other two keep their text at the same address.
TEST_P(SharedText, ChangingOneHolderLeavesTheOthers)
{
   const Change &change = GetParam();
   for (int changed = 0; changed < 3; changed++)
   {
      SCOPED_TRACE(::testing::Message() << change.name << ", holder " << changed);
      // A text that reads as a number: a change that forms text from the number differs
      // from one that keeps the text.
      ValuePtr holders[3];
      holders[0].reset(new ORVA_Value(L"0x1A"));
      holders[1].reset(new ORVA_Value(holders[0].get()));
      holders[2].reset(new ORVA_Value(holders[1].get()));
      const wchar_t *lent[3];
      for (int i = 0; i < 3; i++)
         lent[i] = holders[i]->getValueAsCString();

      change.apply(*holders[changed]);

      EXPECT_EQ(textOf(holders[changed].get()), change.text);
      EXPECT_EQ(holders[changed]->getDataType(), change.dataType);
      for (int i = 0; i < 3; i++)
      {
         if (i == changed)
            continue;
         EXPECT_EQ(holders[i]->getValueAsCString(), lent[i]);
         EXPECT_EQ(std::wstring(lent[i]), L"0x1A");
         EXPECT_EQ(holders[i]->getValueAsInt32(), 26);
      }
   }
}

INSTANTIATE_TEST_SUITE_P(Changes, SharedText, ::testing::ValuesIn(kChanges));

// Holders dropped in every order: the text stays readable until the last one goes.
TEST(SharedTextHolders, LastHolderKeepsTheText)
{
   const int orders[][3] = {{0, 1, 2}, {2, 1, 0}, {1, 0, 2}};
   for (const auto &order : orders)
   {
      ValuePtr holders[3];
      holders[0].reset(new ORVA_Value(L"kept text"));
      holders[1].reset(new ORVA_Value(holders[0].get()));
      holders[2].reset(new ORVA_Value(holders[0].get()));
      holders[order[0]].reset();
      holders[order[1]].reset();
      EXPECT_EQ(textOf(holders[order[2]].get()), L"kept text");
   }
}

// A value whose text is shared grows by appending many times: each append after a new
// copy must copy first, and the copies keep the text they were made with.
TEST(SharedTextHolders, CopiesAlongAGrowingText)
{
   ORVA_Value grown(L"");
   std::vector<ValuePtr> copies;
   std::wstring expected;
   for (int i = 0; i < 600; i++)
   {
      copies.emplace_back(new ORVA_Value(&grown));
      const wchar_t piece = static_cast<wchar_t>(L'a' + i % 26);
      grown.concatenate(&piece, 1);
      expected.push_back(piece);
   }
   EXPECT_EQ(textOf(&grown), expected);
   for (size_t i = 0; i < copies.size(); i++)
      ASSERT_EQ(textOf(copies[i].get()), expected.substr(0, i)) << "copy " << i;
}

// Array elements hold copies of a variable's text: changing the element or the variable
// leaves the other.
TEST(SharedTextHolders, ArrayElementsAndTheirSource)
{
   ORVA_Value source(L"shared");
   ORVA_Array array;
   array.set(1, new ORVA_Value(&source));
   array.set(2, new ORVA_Value(&source));
   const wchar_t *lent = source.getValueAsCString();

   array.get(1)->concatenate(L"+1", 2);
   source.concatenate(L"+s", 2);
   EXPECT_EQ(textOf(array.get(1)), L"shared+1");
   EXPECT_EQ(textOf(array.get(2)), L"shared");
   EXPECT_EQ(textOf(&source), L"shared+s");

   // The element's own text pointer is unchanged by changes to the source.
   const wchar_t *element = array.get(2)->getValueAsCString();
   source.set(1);
   EXPECT_EQ(array.get(2)->getValueAsCString(), element);
   EXPECT_EQ(std::wstring(element), L"shared");
   EXPECT_NE(lent, nullptr);
}

// Scripts copy texts on every push of a variable; appends (also the decoded in-place
// append a loop runs from its second round on), case mapping and array stores must leave
// the other holders as they were.
TEST(SharedTextScripts, ChangesStayWithTheChangedVariable)
{
   struct Case
   {
      const wchar_t *source;
      const wchar_t *result;
   };
   const Case cases[] = {
      {L"a = \"ab\"; b = a; b .= \"c\"; return a . \"|\" . b;", L"ab|abc"},
      {L"a = \"ab\"; b = a; a .= \"c\"; return a . \"|\" . b;", L"abc|ab"},
      {L"a = \"x\"; for (i = 0; i < 4; i++) { b = a; b .= i; c = b; } return a . \"|\" . b . \"|\" . c;",
       L"x|x3|x3"},
      {L"array t; s = \"\"; for (i = 0; i < 4; i++) { t[i] = s; s .= i; } return t[0] . \"|\" . t[2] . \"|\" . s;",
       L"|01|0123"},
      {L"a = \"mixed\"; b = upper(a); c = lower(b); return a . \"|\" . b . \"|\" . c;", L"mixed|MIXED|mixed"},
      {L"a = \"0x1a\"; b = upper(a); return a . \"|\" . b . \"|\" . (b + 1);", L"0x1a|0X1A|27"},
      {L"array t; s = \"el\"; t[1] = s; foreach (e : t) { e .= \"!\"; r = e; } s .= \"?\"; return s . \"|\" . t[1] . \"|\" . r;",
       L"el?|el|el!"},
      {L"sub f(p) { p .= \"!\"; return p; } a = \"arg\"; b = f(a); return a . \"|\" . b;", L"arg|arg!"},
   };
   for (const Case &c : cases)
   {
      std::unique_ptr<ORVA_Program> program(compile(c.source));
      ASSERT_NE(program, nullptr);
      ASSERT_EQ(program->run(nullptr, 0, nullptr), 0) << ORVAToUtf8(program->getErrorText());
      EXPECT_EQ(textOf(program->getResult()), c.result) << ORVAToUtf8(c.source);
   }
}

// A host's value keeps its text while the entry function changes the copy it was given.
TEST(SharedTextScripts, HostValuesKeepTheirText)
{
   std::unique_ptr<ORVA_Program> program(compile(L"sub onEvent(line) { line .= \"+\"; return line; }"));
   ASSERT_NE(program, nullptr);
   ORVA_Value kept(L"event");
   const wchar_t *lent = kept.getValueAsCString();
   ORVA_Value *argv[] = {new ORVA_Value(&kept)};
   ASSERT_EQ(program->call(L"onEvent", 1, argv), 0) << ORVAToUtf8(program->getErrorText());
   EXPECT_EQ(textOf(program->getResult()), L"event+");
   EXPECT_EQ(kept.getValueAsCString(), lent);
   EXPECT_EQ(std::wstring(lent), L"event");
}

}  // namespace
