// ORVA_Variable: a name bound to an owned value, optionally constant.
#include "orva.h"
#include "platform/platform.h"
#include "values/pool.h"

#include <cstdlib>
#include <new>

namespace {

// A copy of a variable's name; a variable never goes without one, so running out of
// memory throws std::bad_alloc.
wchar_t *copyName(const wchar_t *name)
{
   wchar_t *copy = qv_wcsdup(name != nullptr ? name : L"");
   if (copy == nullptr)
      throw std::bad_alloc();
   return copy;
}

}  // namespace

ORVA_Variable::ORVA_Variable(const wchar_t *name) : m_name(copyName(name)), m_value(nullptr), m_constant(false)
{
   try
   {
      m_value = new ORVA_Value();
   }
   catch (...)
   {
      free(m_name);
      throw;
   }
}

// When the name cannot be copied the constructor throws and value stays the caller's.
ORVA_Variable::ORVA_Variable(const wchar_t *name, ORVA_Value *value, bool constant)
   : m_name(copyName(name)), m_value(value), m_constant(constant)
{
}

// The copy shares arrays with the source (the value copy constructor shares them).
ORVA_Variable::ORVA_Variable(ORVA_Variable *src) : m_name(copyName(src->m_name)), m_value(nullptr), m_constant(src->m_constant)
{
   try
   {
      m_value = new ORVA_Value(src->m_value);
   }
   catch (...)
   {
      free(m_name);
      throw;
   }
}

void *ORVA_Variable::operator new(size_t size)
{
   return PoolAllocate(size);
}

void ORVA_Variable::operator delete(void *block, size_t size)
{
   PoolRelease(block, size);
}

ORVA_Variable::~ORVA_Variable()
{
   free(m_name);
   delete m_value;
}

// The constant flag is the engine's to check before it assigns.
void ORVA_Variable::setValue(ORVA_Value *value)
{
   if (value == m_value)
      return;
   delete m_value;
   m_value = value;
}
