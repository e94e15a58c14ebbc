// The built-in TIME class: objects made by localtime and gmtime, whose attributes are the
// fields of a broken-down time.
#ifndef ORVA_ENV_TIME_CLASS_H
#define ORVA_ENV_TIME_CLASS_H

#include <orva.h>

#include <ctime>

// The broken-down time a TIME object owns: the nine fields of the C library's tm, without
// the extensions some libraries add, as signed 32-bit integers.
struct ORVA_TimeRecord
{
   int32_t sec;     // 0 to 60
   int32_t min;     // 0 to 59
   int32_t hour;    // 0 to 23
   int32_t mday;    // 1 to 31
   int32_t mon;     // 0 to 11, January is 0
   int32_t year;    // years since 1900
   int32_t wday;    // 0 to 6, Sunday is 0
   int32_t yday;    // 0 to 365
   int32_t isdst;   // positive in daylight-saving time, 0 not, negative unknown
};

// Read-only attributes "sec"/"tm_sec" ... "isdst"/"tm_isdst" (exact names); "year" is the
// full year. Each object's data is a private heap copy of an ORVA_TimeRecord, released in
// onObjectDelete. setAttr is inherited: every assignment is refused.
class ORVA_TimeClass : public ORVA_Class
{
public:
   ORVA_TimeClass();
   ~ORVA_TimeClass() override;

   ORVA_TimeClass(const ORVA_TimeClass &) = delete;
   ORVA_TimeClass &operator=(const ORVA_TimeClass &) = delete;

   ORVA_Value *getAttr(ORVA_Object *object, const wchar_t *attribute) override;
   void onObjectDelete(ORVA_Object *object) override;

   // A new object value holding a private copy of the given time.
   static ORVA_Value *createValue(const struct tm &time);

   // The one instance every TIME object points to; it lives as long as the library.
   static ORVA_TimeClass *instance();
};

#endif
