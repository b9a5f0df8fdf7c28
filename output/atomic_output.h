// AtomicOutput: opens an output file where, and only where, a plain "wb"
// open would, and keeps an earlier file of that name whole until the new
// one is complete. The bytes go to a temporary file beside the target, which
// is moved over the target once it is written and closed:
//
//   target  "C:\renders\shot0007.pic"
//   written "C:\renders\.shot0007.pic.1a2b3c4d.tmp", then renamed to the target
//
// Refused up front, before anything is written, with errno set as "wb"
// would set it: a target this process may not write (a read-only file, the
// read-only attribute on Windows, an append-only or immutable file on
// Linux), a folder, a name that cannot be reached. (Root may write a file of
// mode 0444, and so does AtomicOutput.)
//
// Written in place, as "wb" writes, and so not atomic: devices and other
// targets that are no regular file (/dev/null, NUL, CON, a pipe, Wine's
// Z:\dev\null); a file with further hard links, which a replacement would
// split off; a file whose owner or extended attributes a replacement made by
// this process cannot take (on Windows: a security descriptor it may not
// write, or the read-only, hidden or system attribute); a writable file in a
// folder that takes no new files; any file in an append-only folder; and a
// symbolic link to a file that does not exist yet (on Windows and Wine).
//
// A symbolic link is followed to the file it names, even when that file does
// not exist yet; the link itself stays. A replaced file keeps its permission
// bits, its owner, its access lists and its other extended attributes; on
// Windows ReplaceFileA keeps its security descriptor, attributes and streams.
#pragma once

#include <cstdio>
#include <string>

class AtomicOutput {
public:
    AtomicOutput();
    // Closes the stream and removes the temporary file unless Commit moved
    // it into place.
    ~AtomicOutput();
    AtomicOutput(const AtomicOutput&) = delete;
    AtomicOutput& operator=(const AtomicOutput&) = delete;

    // Opens the output for `target` for binary writing. Null when it cannot,
    // with errno saying why. May throw std::bad_alloc.
    FILE* Open(const char* target);

    // Closes the stream and moves the temporary file over the target. 1 on
    // success; 0 when the close (and so the last buffered write) or the
    // move failed, errno saying why, and then the temporary file is removed
    // and the target is as it was (unless it was written in place).
    int Commit();

    // True when the output goes straight to the target (see above).
    bool InPlace() const { return inPlace; }
    // The temporary file's name while one exists, else "".
    const char* TemporaryName() const { return temporaryName.c_str(); }

    // For programs that own their process (never the plug-in): temporary
    // files still open when the user interrupts the program (Ctrl-C, a
    // termination signal) are removed before it ends.
    static void RemoveTemporaryFilesOnInterrupt();

private:
    FILE* OpenInPlace();
    void Discard();

    FILE* file;
    bool inPlace;
    int pendingSlot; // this output's entry among the files removed on interrupt, or -1
    std::string targetName;
    std::string temporaryName;
};

// Another file of the program's own that an interrupt removes (see
// RemoveTemporaryFilesOnInterrupt) for as long as this lives: a scratch file
// that must not outlive the program. Remove the file before this ends.
class InterruptRemoval {
public:
    explicit InterruptRemoval(const std::string& name);
    ~InterruptRemoval();
    InterruptRemoval(const InterruptRemoval&) = delete;
    InterruptRemoval& operator=(const InterruptRemoval&) = delete;

private:
    int slot; // -1 when the name could not be tracked
};
