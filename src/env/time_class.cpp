// The TIME class and its one instance.
#include "env/time_class.h"

#include <cstdlib>
#include <cwchar>
#include <memory>
#include <new>

#include "platform/platform.h"

namespace {

// Every TIME object points here; it is built when the library is loaded and outlives every
// run. It holds no state that changes, so threads share it freely.
ORVA_TimeClass s_timeClass;

// The attribute names in the order they are compared, each pair naming one field.
struct TimeAttribute
{
   const wchar_t *name;
   int32_t ORVA_TimeRecord::*field;
};

const TimeAttribute kAttributes[] = {
   { L"sec", &ORVA_TimeRecord::sec },     { L"tm_sec", &ORVA_TimeRecord::sec },
   { L"min", &ORVA_TimeRecord::min },     { L"tm_min", &ORVA_TimeRecord::min },
   { L"hour", &ORVA_TimeRecord::hour },   { L"tm_hour", &ORVA_TimeRecord::hour },
   { L"mday", &ORVA_TimeRecord::mday },   { L"tm_mday", &ORVA_TimeRecord::mday },
   { L"mon", &ORVA_TimeRecord::mon },     { L"tm_mon", &ORVA_TimeRecord::mon },
   { L"year", &ORVA_TimeRecord::year },   { L"tm_year", &ORVA_TimeRecord::year },
   { L"yday", &ORVA_TimeRecord::yday },   { L"tm_yday", &ORVA_TimeRecord::yday },
   { L"wday", &ORVA_TimeRecord::wday },   { L"tm_wday", &ORVA_TimeRecord::wday },
   { L"isdst", &ORVA_TimeRecord::isdst }, { L"tm_isdst", &ORVA_TimeRecord::isdst },
};

// tm counts years from 1900; scripts read the full year.
constexpr int32_t kYearBase = 1900;

}  // namespace

ORVA_TimeClass::ORVA_TimeClass()
{
   wcscpy(name, L"TIME");
}

ORVA_TimeClass::~ORVA_TimeClass()
{
}

ORVA_Value *ORVA_TimeClass::getAttr(ORVA_Object *object, const wchar_t *attribute)
{
   auto *record = static_cast<const ORVA_TimeRecord *>(object != nullptr ? object->getData() : nullptr);
   if (record == nullptr || attribute == nullptr)
      return nullptr;
   for (const TimeAttribute &entry : kAttributes)
   {
      if (wcscmp(entry.name, attribute) != 0)
         continue;
      int32_t number = record->*entry.field;
      if (entry.field == &ORVA_TimeRecord::year)
         number += kYearBase;
      return new ORVA_Value(number);
   }
   return nullptr;
}

void ORVA_TimeClass::onObjectDelete(ORVA_Object *object)
{
   free(object->getData());
}

ORVA_Value *ORVA_TimeClass::createValue(const struct tm &time)
{
   ORVA_TimeRecord record = {
      time.tm_sec, time.tm_min, time.tm_hour, time.tm_mday, time.tm_mon,
      time.tm_year, time.tm_wday, time.tm_yday, time.tm_isdst,
   };
   // Each piece is owned until the next one holds it, so running out of memory on the way
   // (std::bad_alloc) leaves nothing behind.
   std::unique_ptr<void, decltype(&free)> copy(qv_memdup(&record, sizeof(record)), &free);
   if (copy == nullptr)
      throw std::bad_alloc();
   std::unique_ptr<ORVA_Object> object(new ORVA_Object(&s_timeClass, copy.get()));
   copy.release();   // the object's last reference frees it (onObjectDelete)
   auto *value = new ORVA_Value(object.get());
   object.release();
   return value;
}

ORVA_TimeClass *ORVA_TimeClass::instance()
{
   return &s_timeClass;
}
