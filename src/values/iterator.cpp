// ORVA_Iterator: the foreach loop's walk over an array.
//
// The iterator reads the array's sorted list afresh on every step, so elements stored
// during the loop take part: one stored above the current index is visited later, one
// stored below shifts the list so the current element comes again.
#include "orva.h"
#include "platform/platform.h"

#include <cstdlib>
#include <limits>
#include <new>

// The creator has already taken the reference on the array that the iterator holds.
ORVA_Iterator::ORVA_Iterator(const wchar_t *variableName, ORVA_Array *array)
   : m_refCount(0), m_variableName(qv_wcsdup(variableName != nullptr ? variableName : L"")), m_array(array), m_position(-1)
{
   // Without its name the loop could not assign its variable; the creator still holds the
   // array's reference when this throws.
   if (m_variableName == nullptr)
      throw std::bad_alloc();
}

ORVA_Iterator::~ORVA_Iterator()
{
   if (m_array != nullptr)
   {
      m_array->decRefCount();
      if (m_array->isUnused())
         delete m_array;
   }
   free(m_variableName);
}

// Advances on every call, also past the end, so an element stored later is returned only
// once the array has grown past the position.
ORVA_Value *ORVA_Iterator::next()
{
   if (m_position < std::numeric_limits<int32_t>::max())
      m_position++;
   return m_array != nullptr ? m_array->getByPosition(m_position) : nullptr;
}

// The foreach loop leaves the loop variable's name and then the array on the data stack.
int ORVA_Iterator::createIterator(ORVA_Stack *stack)
{
   if (stack->getSize() < 2)
      return ORVA_ERR_DATA_STACK_UNDERFLOW;

   ORVA_Value *arrayValue = static_cast<ORVA_Value *>(stack->pop());
   ORVA_Array *array = (arrayValue != nullptr) ? arrayValue->getValueAsArray() : nullptr;
   if (array == nullptr)
   {
      delete arrayValue;
      return ORVA_ERR_NOT_AN_ARRAY;
   }
   array->incRefCount();   // the iterator's reference
   delete arrayValue;

   ORVA_Value *name = static_cast<ORVA_Value *>(stack->pop());
   if (name == nullptr || !name->isString())
   {
      array->decRefCount();
      if (array->isUnused())
         delete array;
      delete name;
      return ORVA_ERR_NOT_A_STRING;
   }

   // Running out of memory below must not lose the operands already taken off the stack.
   ORVA_Iterator *iterator = nullptr;
   try
   {
      iterator = new ORVA_Iterator(name->getValueAsCString(), array);
      stack->push(new ORVA_Value(iterator));
   }
   catch (...)
   {
      if (iterator != nullptr)
         delete iterator;   // releases the array
      else
      {
         array->decRefCount();
         if (array->isUnused())
            delete array;
      }
      delete name;
      throw;
   }
   delete name;
   return 0;
}
