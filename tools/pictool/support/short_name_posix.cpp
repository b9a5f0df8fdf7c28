#include <fcntl.h>
#include <unistd.h>

#include "tools/pictool/support/short_name.h"

const char* PathSeparators()
{
    return "/";
}

std::string ShortName::Shorten(const std::string& existing)
{
    if (descriptor >= 0)
        return "";
    descriptor = open(existing.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0)
        return "";
    // The driver opens the name again: /proc/self/fd/N opens the same file
    // (or, followed by a name, the folder's entry).
    const std::string number = std::to_string(descriptor);
    for (const char* folder : {"/proc/self/fd/", "/dev/fd/"}) {
        if (access((folder + number).c_str(), R_OK) == 0)
            return folder + number;
    }
    return "";
}

ShortName::~ShortName()
{
    if (descriptor >= 0)
        close(descriptor);
}
