// ORVA_Class and ORVA_Object: host objects visible to scripts.
//
// Every ORVA_Object is one reference to a host object; all references to one host object
// share a malloc'ed handle holding the host's data and the number of references. The
// reference that brings the count to 0 calls the class's onObjectDelete (which releases
// the data; getData still works inside it) and then frees the handle. The class is not
// owned by its objects and must outlive them. The count is atomic: hosts share one constant
// set between programs running on several threads, and every run copies the set.
#include "orva.h"

#include <atomic>
#include <cstdlib>
#include <cwchar>
#include <new>

struct ORVA_Object::Handle
{
   void *data;
   std::atomic<int32_t> refCount;
};

ORVA_Class::ORVA_Class()
{
   wcscpy(name, L"generic");
}

ORVA_Class::~ORVA_Class()
{
}

ORVA_Value *ORVA_Class::getAttr(ORVA_Object *, const wchar_t *)
{
   return nullptr;
}

int ORVA_Class::setAttr(ORVA_Object *, const wchar_t *, ORVA_Value *)
{
   return 0;
}

void ORVA_Class::onObjectDelete(ORVA_Object *)
{
}

ORVA_Object::ORVA_Object(ORVA_Class *objectClass, void *data)
   : m_objectClass(objectClass), m_handle(static_cast<Handle *>(malloc(sizeof(Handle))))
{
   // An object without its handle would lose the host's data.
   if (m_handle == nullptr)
      throw std::bad_alloc();
   m_handle->data = data;
   new (&m_handle->refCount) std::atomic<int32_t>(1);
}

ORVA_Object::ORVA_Object(ORVA_Object *src)
   : m_objectClass(src != nullptr ? src->m_objectClass : nullptr), m_handle(src != nullptr ? src->m_handle : nullptr)
{
   if (m_handle != nullptr)
      m_handle->refCount.fetch_add(1, std::memory_order_relaxed);
}

ORVA_Object::~ORVA_Object()
{
   if (m_handle == nullptr)
      return;
   if (m_handle->refCount.fetch_sub(1, std::memory_order_acq_rel) == 1)
   {
      if (m_objectClass != nullptr)
         m_objectClass->onObjectDelete(this);
      free(m_handle);
   }
   m_handle = nullptr;
}

void *ORVA_Object::getData() const
{
   return m_handle != nullptr ? m_handle->data : nullptr;
}
