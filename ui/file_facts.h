// What the image-information dialog shows of a file besides its header:
// its size and the local date and time it was last written.
#pragma once

#include <cstdint>

struct CalendarTime {
    int year;
    int month; // 1-12
    int day;
    int hour;
    int minute;
    int second;
};

struct FileFacts {
    int64_t size;
    bool hasDate;           // false when the time cannot be put in calendar form
    CalendarTime lastWrite; // local time; universal when the zone conversion fails
};

// Looks `name` up; false when there is no such file.
bool LookUpFileFacts(const char* name, FileFacts& facts);
