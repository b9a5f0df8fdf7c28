// File names as the host holds them: a fixed field of kMaxPathLength bytes
// in its records, and paths whose parts are separated as the platform
// separates them. Every reader of a name field and every path splitter uses
// these two rules.
#pragma once

#include <cerrno>
#include <cstring>

#include "host/host_api.h"

// The name held in a host name field, read no further than the field: the
// field itself when it holds a terminator, else null with errno ENAMETOOLONG
// (such a name is refused, never read past or cut short). `length`, when
// given, receives the name's length.
inline const char* ReadNameField(const char* field, size_t* length = nullptr)
{
    const size_t found = field != nullptr ? strnlen(field, kMaxPathLength) : 0;
    if (field == nullptr || found >= size_t(kMaxPathLength)) {
        errno = field == nullptr ? EINVAL : ENAMETOOLONG;
        return nullptr;
    }
    if (length != nullptr)
        *length = found;
    return field;
}

// Windows takes either slash and a drive's colon ("C:shot.pic").
inline bool IsPathSeparator(char c)
{
#if defined(_WIN32)
    return c == '\\' || c == '/' || c == ':';
#else
    return c == '/';
#endif
}
