#include <fcntl.h>
#include <unistd.h>

#include "tools/pictool/support/short_name.h"

ShortName::ShortName(const std::string& file) : path(file), name(file)
{
    if (Fits())
        return;
    descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0)
        return;
    // The driver opens the name again: /proc/self/fd/N opens the same file.
    const std::string number = std::to_string(descriptor);
    for (const char* folder : {"/proc/self/fd/", "/dev/fd/"}) {
        if (access((folder + number).c_str(), R_OK) == 0) {
            name = folder + number;
            return;
        }
    }
}

ShortName::~ShortName()
{
    if (descriptor >= 0)
        close(descriptor);
}
