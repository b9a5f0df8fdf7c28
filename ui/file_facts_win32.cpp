#include <windows.h>

#include "ui/file_facts.h"

static CalendarTime ToCalendarTime(const SYSTEMTIME& time)
{
    return CalendarTime{time.wYear, time.wMonth, time.wDay, time.wHour, time.wMinute, time.wSecond};
}

bool LookUpFileFacts(const char* name, FileFacts& facts)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(name, &found);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    FindClose(search);

    facts.size = int64_t((uint64_t(found.nFileSizeHigh) << 32) | found.nFileSizeLow);
    SYSTEMTIME universal;
    facts.hasDate = FileTimeToSystemTime(&found.ftLastWriteTime, &universal) != 0;
    if (facts.hasDate) {
        SYSTEMTIME local;
        if (SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local))
            facts.lastWrite = ToCalendarTime(local);
        else
            facts.lastWrite = ToCalendarTime(universal);
    }
    return true;
}
