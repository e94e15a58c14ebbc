// ORVA_Class and ORVA_Object: the base class's behaviour and the lifetime of host objects
// shared through values.
#include "orva.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <vector>

namespace {

// Records every onObjectDelete call and the data it saw.
class RecordingClass : public ORVA_Class
{
public:
   explicit RecordingClass(const wchar_t *name = nullptr)
   {
      if (name != nullptr)
      {
         wcsncpy(this->name, name, 63);
         this->name[63] = 0;
      }
   }
   void onObjectDelete(ORVA_Object *object) override { deletedData.push_back(object->getData()); }

   std::vector<void *> deletedData;
};

}

TEST(Class, BaseBehaviour)
{
   ORVA_Class generic;
   EXPECT_STREQ(generic.getName(), L"generic");
   ORVA_Object object(&generic, nullptr);
   EXPECT_EQ(generic.getAttr(&object, L"anything"), nullptr);
   ORVA_Value value(1);
   EXPECT_EQ(generic.setAttr(&object, L"anything", &value), 0);
   EXPECT_EQ(value.getValueAsInt32(), 1);
}

// Every order of destroying the three values ends the host object exactly once, at the
// last destruction, with its data still readable.
TEST(Object, HandleEndsOnceWithTheLastReference)
{
   const int orders[][3] = {{0, 1, 2}, {2, 1, 0}, {1, 0, 2}, {1, 2, 0}};
   for (const auto &order : orders)
   {
      RecordingClass recorder;
      int data = 0;
      ORVA_Value *values[3];
      values[0] = new ORVA_Value(new ORVA_Object(&recorder, &data));
      values[1] = new ORVA_Value(values[0]);
      values[2] = new ORVA_Value(values[1]);
      EXPECT_NE(values[1]->getValueAsObject(), values[0]->getValueAsObject());
      EXPECT_EQ(values[1]->getValueAsObject()->getData(), &data);
      EXPECT_EQ(values[2]->getValueAsObject()->getClass(), &recorder);

      delete values[order[0]];
      delete values[order[1]];
      EXPECT_TRUE(recorder.deletedData.empty());
      delete values[order[2]];
      ASSERT_EQ(recorder.deletedData.size(), 1u);
      EXPECT_EQ(recorder.deletedData[0], &data);
   }
}

TEST(Object, HostCopiesShareTheHandle)
{
   RecordingClass recorder;
   int data = 0;
   ORVA_Object *original = new ORVA_Object(&recorder, &data);
   ORVA_Object *kept = new ORVA_Object(original);
   EXPECT_EQ(kept->getData(), &data);
   delete original;
   EXPECT_TRUE(recorder.deletedData.empty());
   delete kept;
   EXPECT_EQ(recorder.deletedData.size(), 1u);
}

TEST(Object, ClassNameTests)
{
   RecordingClass time(L"TIME");
   ORVA_Value value(new ORVA_Object(&time, nullptr));
   EXPECT_TRUE(value.isObject());
   EXPECT_TRUE(value.isObject(L"TIME"));
   EXPECT_FALSE(value.isObject(L"time"));
   EXPECT_FALSE(value.isObject(L"TIM"));
   EXPECT_FALSE(value.isObject(L"TIMES"));
   EXPECT_FALSE(value.isObject(nullptr));
   EXPECT_FALSE(ORVA_Value(1).isObject(L"TIME"));

   std::wstring longest(63, L'n');
   RecordingClass longName(longest.c_str());
   ORVA_Value longValue(new ORVA_Object(&longName, nullptr));
   EXPECT_TRUE(longValue.isObject(longest.c_str()));
   EXPECT_FALSE(longValue.isObject((longest + L"n").c_str()));
}

TEST(Object, ValueWithoutInstance)
{
   ORVA_Value value(static_cast<ORVA_Object *>(nullptr));
   EXPECT_TRUE(value.isObject());
   EXPECT_EQ(value.getValueAsObject(), nullptr);
   EXPECT_FALSE(value.isObject(L"generic"));
   ORVA_Value copy(&value);
   EXPECT_EQ(copy.getValueAsObject(), nullptr);
}
