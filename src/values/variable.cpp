// ORVA_Variable: a name bound to an owned value, optionally constant.
#include "orva.h"
#include "platform/platform.h"
#include "values/pool.h"

#include <cstdlib>

ORVA_Variable::ORVA_Variable(const wchar_t *name)
   : m_name(qv_wcsdup(name != nullptr ? name : L"")), m_value(new ORVA_Value()), m_constant(false)
{
}

ORVA_Variable::ORVA_Variable(const wchar_t *name, ORVA_Value *value, bool constant)
   : m_name(qv_wcsdup(name != nullptr ? name : L"")), m_value(value), m_constant(constant)
{
}

// The copy shares arrays with the source (the value copy constructor shares them).
ORVA_Variable::ORVA_Variable(ORVA_Variable *src)
   : m_name(qv_wcsdup(src->m_name)), m_value(new ORVA_Value(src->m_value)), m_constant(src->m_constant)
{
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
