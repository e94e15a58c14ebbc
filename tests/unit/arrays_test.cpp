// ORVA_Array, ORVA_Iterator and ORVA_Stack.
#include "orva.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <vector>

namespace {

// Collects the indices of an array in list order, checking values along the way.
std::vector<int> positionsOf(const ORVA_Array &array)
{
   std::vector<int> values;
   for (int i = 0; i < array.size(); i++)
      values.push_back(array.getByPosition(i)->getValueAsInt32());
   return values;
}

// Holds an array through a value, as the engine does; the value's death ends the array.
struct HeldArray
{
   ORVA_Array *array = new ORVA_Array();
   ORVA_Value holder{array};
};

}

TEST(Array, StoresSortedByIndex)
{
   HeldArray held;
   ORVA_Array &array = *held.array;
   array.set(5, new ORVA_Value(5));
   array.set(-3, new ORVA_Value(-3));
   array.set(100, new ORVA_Value(100));
   ASSERT_EQ(array.size(), 3);
   EXPECT_EQ(positionsOf(array), (std::vector<int>{-3, 5, 100}));

   array.set(5, new ORVA_Value(55));   // replaces; the old value is deleted (ASan checks)
   EXPECT_EQ(array.size(), 3);
   EXPECT_EQ(array.get(5)->getValueAsInt32(), 55);
   EXPECT_EQ(array.getByPosition(1), array.get(5));

   EXPECT_EQ(array.get(6), nullptr);
   EXPECT_EQ(array.getByPosition(3), nullptr);
   EXPECT_EQ(array.getByPosition(-1), nullptr);

   array.set(INT32_MIN, new ORVA_Value(1));
   array.set(INT32_MAX, new ORVA_Value(2));
   EXPECT_EQ(array.getByPosition(0), array.get(INT32_MIN));
   EXPECT_EQ(array.getByPosition(4), array.get(INT32_MAX));
}

// Many inserts in random order give the same list as a sort would, across several growths.
TEST(Array, RandomInsertsMatchASortedMap)
{
   HeldArray held;
   std::map<int, int> reference;
   std::mt19937 random(12345);
   std::uniform_int_distribution<int> index(-500, 500);
   for (int i = 0; i < 2000; i++)
   {
      int key = index(random);
      held.array->set(key, new ORVA_Value(i));
      reference[key] = i;
   }
   ASSERT_EQ(held.array->size(), static_cast<int>(reference.size()));
   int position = 0;
   for (const auto &entry : reference)
   {
      EXPECT_EQ(held.array->getByPosition(position++)->getValueAsInt32(), entry.second);
      EXPECT_EQ(held.array->get(entry.first)->getValueAsInt32(), entry.second);
   }
}

// Orders of stores that take an array of a few thousand elements through each of its
// layouts and each way of making room: appends, stores in front, stores between existing
// elements (which leave the single list), stores into the gaps of a full chunked array
// from its top down, and stores of indexes that are already there.
struct FillOrder
{
   const char *name;
   std::vector<int> indexes;
};

std::vector<FillOrder> fillOrders()
{
   const int n = 5000;
   std::vector<int> up(n), down(n), shuffled(n), gapsFromTheTop, repeated, ends, sawtooth, upThenFront;
   for (int i = 0; i < n; i++)
   {
      up[i] = i;
      down[i] = n - 1 - i;
      shuffled[i] = i * 3 - 7000;
      ends.push_back(i % 2 == 0 ? i : -i);
   }
   std::mt19937 random(2024);
   std::shuffle(shuffled.begin(), shuffled.end(), random);
   for (int i = 0; i < n; i += 2)
      gapsFromTheTop.push_back(i);
   for (int i = n - 1; i > 0; i -= 2)
      gapsFromTheTop.push_back(i);
   std::uniform_int_distribution<int> sparse(-3000, 3000);
   for (int i = 0; i < 2 * n; i++)
      repeated.push_back(sparse(random));
   for (int i = 0; i < 2000; i++)
      ends.push_back(i * 2 - 1999);   // then between them
   for (int i = 0; i < n; i++)
      upThenFront.push_back(i < n / 2 ? i : n / 2 - 1 - i);
   std::uniform_int_distribution<int> start(-100000, 100000);
   for (int run = 0; run < 20; run++)
      for (int i = 0, first = start(random); i < 300; i++)
         sawtooth.push_back(first + i);
   return {{"ascending", up}, {"descending", down}, {"shuffled", shuffled},
           {"gaps from the top", gapsFromTheTop}, {"repeated", repeated},
           {"alternating ends, then between", ends}, {"ascending runs at random places", sawtooth},
           {"ascending, then in front", upThenFront}};
}

// The index at each position, from the reference, in order.
std::vector<int> keysOf(const std::map<int, int> &reference)
{
   std::vector<int> keys;
   for (const auto &entry : reference)
      keys.push_back(entry.first);
   return keys;
}

// Every position, walked forwards, backwards and in random jumps, and every index, give
// what the reference gives.
void expectSameAs(const ORVA_Array &array, const std::map<int, int> &reference, const char *order)
{
   SCOPED_TRACE(order);
   const std::vector<int> keys = keysOf(reference);
   ASSERT_EQ(array.size(), static_cast<int>(keys.size()));
   std::vector<int> walk(keys.size());
   for (size_t i = 0; i < keys.size(); i++)
      walk[i] = static_cast<int>(i);
   std::vector<int> backwards(walk.rbegin(), walk.rend());
   std::vector<int> jumps = walk;
   std::shuffle(jumps.begin(), jumps.end(), std::mt19937(7));
   for (const std::vector<int> *positions : {&walk, &backwards, &jumps})
      for (int position : *positions)
      {
         ASSERT_EQ(array.getIndexAtPosition(position), keys[position]) << "position " << position;
         ASSERT_EQ(array.getByPosition(position)->getValueAsInt32(), reference.at(keys[position]));
      }
   for (const auto &entry : reference)
   {
      ASSERT_EQ(array.get(entry.first)->getValueAsInt32(), entry.second) << "index " << entry.first;
      if (reference.count(entry.first + 1) == 0)
      {
         ASSERT_EQ(array.get(entry.first + 1), nullptr) << "index " << entry.first + 1;
      }
   }
   EXPECT_EQ(array.getByPosition(array.size()), nullptr);
   EXPECT_EQ(array.getIndexAtPosition(array.size()), 0);
}

TEST(Array, EveryFillOrderKeepsIndexOrderPositionsAndLentPointers)
{
   for (const FillOrder &order : fillOrders())
   {
      HeldArray held;
      ORVA_Array &array = *held.array;
      std::map<int, int> reference;
      std::map<int, const ORVA_Value *> lent;
      for (size_t i = 0; i < order.indexes.size(); i++)
      {
         const int index = order.indexes[i];
         const int value = static_cast<int>(i);
         array.set(index, new ORVA_Value(value));
         reference[index] = value;
         lent[index] = array.get(index);
         // Positions read between stores: the store just made, and the ends.
         if (i % 97 == 0)
         {
            const int position = static_cast<int>(std::distance(reference.begin(), reference.find(index)));
            ASSERT_EQ(array.getByPosition(position), lent[index]) << order.name << " store " << i;
            ASSERT_EQ(array.getIndexAtPosition(0), reference.begin()->first) << order.name;
            ASSERT_EQ(array.getIndexAtPosition(array.size() - 1), reference.rbegin()->first) << order.name;
         }
      }
      expectSameAs(array, reference, order.name);
      // A value replaced in place keeps its address, so every pointer lent stays good.
      for (const auto &entry : lent)
         ASSERT_EQ(array.get(entry.first), entry.second) << order.name << " index " << entry.first;

      ORVA_Array *copy = new ORVA_Array(&array);
      ORVA_Value copyHolder(copy);
      expectSameAs(*copy, reference, order.name);

      // A walk in position order, as foreach makes, with a store below or above the
      // position read before each step.
      std::vector<int> keys = keysOf(reference);
      std::mt19937 random(99);
      std::uniform_int_distribution<int> anywhere(keys.front() - 10, keys.back() + 10);
      for (int position = static_cast<int>(keys.size()) / 3, step = 0; step < 400; position++, step++)
      {
         const int index = anywhere(random);
         array.set(index, new ORVA_Value(-step));
         const auto place = std::lower_bound(keys.begin(), keys.end(), index);
         if (place == keys.end() || *place != index)
            keys.insert(place, index);
         ASSERT_EQ(array.getIndexAtPosition(position), keys[position]) << order.name << " step " << step;
      }
   }
}

// Storing no value (a host's set with null) keeps the element, without a value, wherever
// it goes: into an array filled without gaps, past its end, in front of it, into an empty
// one. The other elements keep their values and their addresses, and a value stored there
// again is found.
TEST(Array, StoringNoValueKeepsTheElementWithoutOne)
{
   const struct
   {
      const char *name;
      int filled;   // indexes 0 .. filled - 1 hold their own number
      int index;    // then no value is stored here
   } cases[] = {{"middle", 100, 40}, {"first", 100, 0}, {"last", 100, 99}, {"past the end", 100, 100},
                {"with a gap", 100, 150}, {"in front", 100, -1}, {"empty array", 0, 7}};
   for (const auto &c : cases)
   {
      SCOPED_TRACE(c.name);
      HeldArray held;
      ORVA_Array &array = *held.array;
      std::vector<const ORVA_Value *> lent;
      for (int i = 0; i < c.filled; i++)
      {
         array.set(i, new ORVA_Value(i));
         lent.push_back(array.get(i));
      }
      const bool added = c.index < 0 || c.index >= c.filled;
      array.set(c.index, nullptr);
      ASSERT_EQ(array.size(), c.filled + (added ? 1 : 0));
      EXPECT_EQ(array.get(c.index), nullptr);
      const int position = (c.index < 0) ? 0 : std::min(c.index, c.filled);
      EXPECT_EQ(array.getIndexAtPosition(position), c.index);
      EXPECT_EQ(array.getByPosition(position), nullptr);
      for (int i = 0; i < c.filled; i++)
      {
         if (i == c.index)
            continue;
         ASSERT_EQ(array.get(i), lent[i]) << i;
         ASSERT_EQ(array.get(i)->getValueAsInt32(), i);
      }
      for (int round = 0; round < 3; round++)
      {
         array.set(c.index, new ORVA_Value(-5));
         ASSERT_EQ(array.get(c.index)->getValueAsInt32(), -5);
         array.set(c.index, nullptr);
         ASSERT_EQ(array.get(c.index), nullptr);
      }
      EXPECT_EQ(array.size(), c.filled + (added ? 1 : 0));
      ORVA_Array copy(&array);
      EXPECT_EQ(copy.size(), array.size());
      EXPECT_EQ(copy.get(c.index), nullptr);
   }
}

TEST(Array, GrowsPastThirtyTwoElements)
{
   HeldArray held;
   for (int i = 33; i >= 1; i--)
      held.array->set(i * 10, new ORVA_Value(i));
   ASSERT_EQ(held.array->size(), 33);
   for (int i = 1; i <= 33; i++)
      EXPECT_EQ(held.array->getByPosition(i - 1)->getValueAsInt32(), i);
}

TEST(Array, CopyIsIndependentAtTheTopLevelOnly)
{
   HeldArray source;
   ORVA_Array *inner = new ORVA_Array();
   source.array->set(1, new ORVA_Value(1));
   source.array->set(2, new ORVA_Value(inner));

   ORVA_Array *copy = new ORVA_Array(source.array);
   ORVA_Value copyHolder(copy);
   EXPECT_EQ(copy->size(), 2);
   copy->set(3, new ORVA_Value(3));
   copy->get(1)->increment();
   EXPECT_EQ(source.array->size(), 2);
   EXPECT_EQ(source.array->get(1)->getValueAsInt32(), 1);
   EXPECT_EQ(copy->get(1)->getValueAsInt32(), 2);

   // The nested array is shared by both.
   EXPECT_EQ(copy->get(2)->getValueAsArray(), inner);
   inner->set(7, new ORVA_Value(7));
   EXPECT_EQ(source.array->get(2)->getValueAsArray()->size(), 1);

   ORVA_Array empty;
   ORVA_Array emptyCopy(&empty);
   EXPECT_EQ(emptyCopy.size(), 0);
   EXPECT_EQ(emptyCopy.getByPosition(0), nullptr);
}

TEST(Array, SharedBetweenValuesUntilTheLastGoes)
{
   ORVA_Array *array = new ORVA_Array();
   EXPECT_TRUE(array->isUnused());
   ORVA_Value *first = new ORVA_Value(array);
   ORVA_Value *second = new ORVA_Value(first);
   EXPECT_EQ(second->getValueAsArray(), array);
   second->getValueAsArray()->set(0, new ORVA_Value(L"seen"));
   EXPECT_STREQ(first->getValueAsArray()->get(0)->getValueAsCString(), L"seen");
   delete first;
   EXPECT_FALSE(array->isUnused());
   EXPECT_EQ(array->size(), 1);
   delete second;   // the array goes here; ASan reports a leak or double free otherwise
}

TEST(Iterator, VisitsInIndexOrderAndKeepsAdvancing)
{
   HeldArray held;
   held.array->set(5, new ORVA_Value(5));
   held.array->set(-3, new ORVA_Value(-3));
   held.array->set(100, new ORVA_Value(100));
   held.array->incRefCount();
   ORVA_Value iteratorValue(new ORVA_Iterator(L"item", held.array));
   ORVA_Iterator *iterator = iteratorValue.getValueAsIterator();
   EXPECT_STREQ(iterator->getVariableName(), L"item");

   std::vector<int> seen;
   while (ORVA_Value *element = iterator->next())
      seen.push_back(element->getValueAsInt32());
   EXPECT_EQ(seen, (std::vector<int>{-3, 5, 100}));

   // Past the end every call still advances: the loop ended at position 3, this is 4.
   EXPECT_EQ(iterator->next(), nullptr);
   held.array->set(200, new ORVA_Value(200));
   held.array->set(300, new ORVA_Value(300));
   held.array->set(400, new ORVA_Value(400));   // size 6 now
   ORVA_Value *late = iterator->next();         // position 5
   ASSERT_NE(late, nullptr);
   EXPECT_EQ(late->getValueAsInt32(), 400);
   EXPECT_EQ(iterator->next(), nullptr);
}

TEST(Iterator, SeesElementsStoredDuringTheLoop)
{
   HeldArray held;
   held.array->set(10, new ORVA_Value(10));
   held.array->set(20, new ORVA_Value(20));
   held.array->incRefCount();
   ORVA_Iterator *iterator = new ORVA_Iterator(L"x", held.array);
   ORVA_Value iteratorValue(iterator);

   EXPECT_EQ(iterator->next()->getValueAsInt32(), 10);
   held.array->set(15, new ORVA_Value(15));   // above the current index: visited later
   EXPECT_EQ(iterator->next()->getValueAsInt32(), 15);
   held.array->set(1, new ORVA_Value(1));     // below: the current element comes again
   EXPECT_EQ(iterator->next()->getValueAsInt32(), 15);
   EXPECT_EQ(iterator->next()->getValueAsInt32(), 20);
   EXPECT_EQ(iterator->next(), nullptr);
}

TEST(Iterator, OverEmptyArrayEndsAtOnce)
{
   ORVA_Array *array = new ORVA_Array();
   array->incRefCount();
   ORVA_Iterator *iterator = new ORVA_Iterator(L"x", array);
   ORVA_Value iteratorValue(iterator);
   EXPECT_EQ(iterator->next(), nullptr);
   // The iterator holds the only reference; destroying the value ends both (ASan checks).
}

TEST(Iterator, KeepsItsArrayAliveAfterTheArrayValueGoes)
{
   ORVA_Array *array = new ORVA_Array();
   ORVA_Value *arrayValue = new ORVA_Value(array);
   array->set(1, new ORVA_Value(1));
   array->incRefCount();
   ORVA_Value *iteratorValue = new ORVA_Value(new ORVA_Iterator(L"x", array));
   ORVA_Value *iteratorCopy = new ORVA_Value(iteratorValue);
   delete arrayValue;
   delete iteratorValue;
   EXPECT_EQ(iteratorCopy->getValueAsIterator()->next()->getValueAsInt32(), 1);
   delete iteratorCopy;
}

TEST(CreateIterator, Codes)
{
   // Fewer than two operands: 1, nothing popped.
   {
      ORVA_Stack stack;
      EXPECT_EQ(ORVA_Iterator::createIterator(&stack), ORVA_ERR_DATA_STACK_UNDERFLOW);
      ORVA_Value *name = new ORVA_Value(L"x");
      stack.push(name);
      EXPECT_EQ(ORVA_Iterator::createIterator(&stack), ORVA_ERR_DATA_STACK_UNDERFLOW);
      EXPECT_EQ(stack.getSize(), 1);
      delete static_cast<ORVA_Value *>(stack.pop());
   }
   // A non-array on top: 24, the name stays.
   {
      ORVA_Stack stack;
      ORVA_Value *name = new ORVA_Value(L"x");
      stack.push(name);
      stack.push(new ORVA_Value(5));
      EXPECT_EQ(ORVA_Iterator::createIterator(&stack), ORVA_ERR_NOT_AN_ARRAY);
      EXPECT_EQ(stack.getSize(), 1);
      EXPECT_EQ(stack.peek(), name);
      delete static_cast<ORVA_Value *>(stack.pop());
   }
   // A name without text below an array: 17, both gone, the array with them (ASan checks).
   {
      ORVA_Stack stack;
      stack.push(new ORVA_Value());
      stack.push(new ORVA_Value(new ORVA_Array()));
      EXPECT_EQ(ORVA_Iterator::createIterator(&stack), ORVA_ERR_NOT_A_STRING);
      EXPECT_EQ(stack.getSize(), 0);
   }
   // The failure keeps an array that someone else still holds.
   {
      ORVA_Stack stack;
      ORVA_Array *array = new ORVA_Array();
      ORVA_Value keeper(array);
      stack.push(new ORVA_Value(new ORVA_Array()));
      stack.push(new ORVA_Value(&keeper));
      EXPECT_EQ(ORVA_Iterator::createIterator(&stack), ORVA_ERR_NOT_A_STRING);
      EXPECT_FALSE(array->isUnused());
   }
}

TEST(CreateIterator, PushesAnIteratorNamedByTheText)
{
   ORVA_Stack stack;
   ORVA_Array *array = new ORVA_Array();
   ORVA_Value *arrayValue = new ORVA_Value(array);
   array->set(0, new ORVA_Value(L"a"));
   stack.push(new ORVA_Value(42));   // a number names the variable through its text
   stack.push(new ORVA_Value(arrayValue));
   delete arrayValue;

   ASSERT_EQ(ORVA_Iterator::createIterator(&stack), 0);
   ASSERT_EQ(stack.getSize(), 1);
   ORVA_Value *iteratorValue = static_cast<ORVA_Value *>(stack.pop());
   ASSERT_TRUE(iteratorValue->isIterator());
   ORVA_Iterator *iterator = iteratorValue->getValueAsIterator();
   EXPECT_STREQ(iterator->getVariableName(), L"42");
   EXPECT_STREQ(iterator->next()->getValueAsCString(), L"a");
   EXPECT_EQ(iterator->next(), nullptr);
   delete iteratorValue;   // ends the iterator and the array with it
}

TEST(Stack, PushPopPeekAndGrowth)
{
   ORVA_Stack stack;
   EXPECT_EQ(stack.pop(), nullptr);
   EXPECT_EQ(stack.peek(), nullptr);
   EXPECT_EQ(stack.getSize(), 0);

   // 129 pushes go past the first 128 slots; 300 past several growths.
   std::vector<int> items(300);
   for (int i = 0; i < 300; i++)
   {
      stack.push(&items[i]);
      ASSERT_EQ(stack.getSize(), i + 1);
      ASSERT_EQ(stack.peek(), &items[i]);
   }
   for (int i = 299; i >= 0; i--)
      ASSERT_EQ(stack.pop(), &items[i]);
   EXPECT_EQ(stack.pop(), nullptr);
   EXPECT_EQ(stack.getSize(), 0);

   int a, b, c;
   stack.push(&a);
   stack.push(&b);
   stack.push(&c);
   void **top = stack.peekList(2);
   EXPECT_EQ(top[0], &b);
   EXPECT_EQ(top[1], &c);
   EXPECT_EQ(stack.getSize(), 3);
   EXPECT_EQ(stack.peekList(3)[0], &a);
}

// A host's set of a new element stores the very value it gave, whatever layout the array
// has (dense, records, chunks after scattered stores) and wherever the element goes; a set
// of an element already there moves the contents into the element, which keeps its address.
// The array deletes the values it was given (the leak checker of the sanitizer build sees
// any it loses), also when an element loses its value or gets one again.
TEST(Array, SetOfANewElementStoresTheValueGiven)
{
   HeldArray held;
   ORVA_Array &array = *held.array;
   std::vector<int> order;
   for (int i = 0; i < 600; i++)
      order.push_back((i * 379) % 600);
   for (int index : order)
   {
      auto *value = new ORVA_Value(index * 2);
      array.set(index, value);
      ASSERT_EQ(array.get(index), value) << index;
   }
   for (int i = 0; i < 600; i++)
      ASSERT_EQ(array.get(i)->getValueAsInt32(), i * 2) << i;
   ORVA_Value *element = array.get(5);
   array.set(5, new ORVA_Value(-5));
   EXPECT_EQ(array.get(5), element);
   EXPECT_EQ(element->getValueAsInt32(), -5);
   array.set(7, nullptr);
   EXPECT_EQ(array.get(7), nullptr);
   auto *again = new ORVA_Value(7);
   array.set(7, again);
   EXPECT_EQ(array.get(7), again);
   auto *front = new ORVA_Value(-1);
   array.set(-1, front);
   EXPECT_EQ(array.getByPosition(0), front);

   ORVA_Array copy(&array);
   EXPECT_EQ(copy.get(7)->getValueAsInt32(), 7);
   EXPECT_NE(copy.get(7), again);
}
