#include "host/full_path.h"

#include <climits>
#include <cstdio>

#include <unistd.h>

bool FullPathOf(const char* name, char (&out)[kMaxPathLength])
{
    if (name[0] == '/')
        return std::snprintf(out, sizeof out, "%s", name) < int(sizeof out);
    char directory[PATH_MAX];
    if (getcwd(directory, sizeof directory) == nullptr)
        return false;
    const int length = std::snprintf(out, sizeof out, "%s/%s", directory, name);
    return length >= 0 && length < int(sizeof out);
}
