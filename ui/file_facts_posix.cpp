#include <sys/stat.h>
#include <time.h>

#include "ui/file_facts.h"

bool LookUpFileFacts(const char* name, FileFacts& facts)
{
    struct stat status;
    if (stat(name, &status) != 0)
        return false;
    facts.size = int64_t(status.st_size);
    struct tm calendar;
    facts.hasDate = localtime_r(&status.st_mtime, &calendar) != nullptr ||
                    gmtime_r(&status.st_mtime, &calendar) != nullptr;
    if (facts.hasDate)
        facts.lastWrite =
            CalendarTime{calendar.tm_year + 1900, calendar.tm_mon + 1, calendar.tm_mday,
                         calendar.tm_hour,        calendar.tm_min,     calendar.tm_sec};
    return true;
}
