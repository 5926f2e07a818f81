#include "SystemServices.h"

#include <windows.h>

namespace pelmbus {

TLocalDateTime LocalNow() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    TLocalDateTime t;
    t.Year = now.wYear;
    t.Month = now.wMonth;
    t.Day = now.wDay;
    t.Hour = now.wHour;
    t.Minute = now.wMinute;
    t.Second = now.wSecond;
    t.Millisecond = now.wMilliseconds;
    return t;
}

} // namespace pelmbus
