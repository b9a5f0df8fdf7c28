// POSIX files in the target's folder, named relative to the folder's own
// descriptor: the temporary file (made exclusively, mode 0600, no link
// followed), its second name, and the moves that put it in place.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <stdio.h>
#include <string>
#include <unistd.h>

#include "output/atomic_output_platform.h"

namespace atomic_output {

FILE* CreateTemporary(const TargetFacts& facts, const std::string& name)
{
    const int descriptor =
        openat(facts.folderFile, name.c_str(),
               O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0600);
    if (descriptor < 0)
        return nullptr;
    FILE* opened = fdopen(descriptor, "wb");
    if (opened == nullptr) {
        const int error = errno;
        close(descriptor);
        unlinkat(facts.folderFile, name.c_str(), 0);
        errno = error;
    }
    return opened;
}

int LinkInFolder(const TargetFacts& facts, const std::string& from, const std::string& to)
{
    return linkat(facts.folderFile, from.c_str(), facts.folderFile, to.c_str(), 0) == 0 ? 1 : 0;
}

int MoveIntoPlace(const TargetFacts& facts, const std::string& from, const std::string&,
                  bool replace)
{
    const int folder = facts.folderFile;
    if (replace)
        return renameat(folder, from.c_str(), folder, facts.name.c_str()) == 0 ? 1 : 0;
    if (renameat2(folder, from.c_str(), folder, facts.name.c_str(), RENAME_NOREPLACE) == 0)
        return 1;
    // A file system that cannot rename without replacing can link, which
    // never replaces either; then the temporary name goes.
    if (errno != EINVAL && errno != ENOSYS)
        return 0;
    if (linkat(folder, from.c_str(), folder, facts.name.c_str(), 0) != 0)
        return 0;
    unlinkat(folder, from.c_str(), 0);
    return 1;
}

int RemoveInFolder(const TargetFacts& facts, const std::string& name)
{
    return unlinkat(facts.folderFile, name.c_str(), 0) == 0 ? 1 : 0;
}

uint32_t ProcessNumber()
{
    return uint32_t(getpid());
}

} // namespace atomic_output
