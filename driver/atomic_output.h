// AtomicOutput: writes a file under a temporary name in the target's own
// folder and moves it over the target only once it is complete and closed,
// so that a failed write never leaves a damaged file under the target's name
// and never destroys an earlier file of that name.
//
//   target  "C:\renders\shot0007.pic"
//   written "C:\renders\~pic1a2b3c4d.tmp", then renamed to the target
//
// On POSIX systems a target that is a symbolic link is followed, so the file
// it names is replaced and the link stays; a replaced file keeps its
// permission bits; and a target that exists but is no regular file (a
// device, a pipe) cannot be replaced at all and is written directly.
#pragma once

#include <cstdio>

#include "host/host_api.h"

class AtomicOutput {
public:
    AtomicOutput();
    // Removes the temporary file unless Commit moved it into place.
    ~AtomicOutput();
    AtomicOutput(const AtomicOutput&) = delete;
    AtomicOutput& operator=(const AtomicOutput&) = delete;

    // Creates a new, empty temporary file beside `target` and opens it for
    // binary writing. Null when it cannot (errno says why); a target of
    // kMaxPathLength characters or more fails with ENAMETOOLONG.
    FILE* Open(const char* target);

    // Closes the stream and renames the temporary file over the target,
    // replacing any file of that name. 1 on success; 0 when the close (and
    // so the last buffered write) or the rename failed, and then the
    // temporary file is removed and the target is as it was.
    int Commit();

    // The temporary file's name while one exists, else "".
    const char* TemporaryName() const { return temporaryName; }

private:
    void Discard();

    FILE* file;
    bool direct; // writing straight to a target that cannot be replaced
    char targetName[kMaxPathLength];
    char temporaryName[kMaxPathLength];
};
