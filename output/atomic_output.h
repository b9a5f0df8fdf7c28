// AtomicOutput: opens an output file where, and only where, a plain "wb"
// open would, and keeps an earlier file of that name whole until the new
// one is complete. The bytes go to a temporary file beside the target, which
// is moved over the target once it is written and closed:
//
//   target  "C:\renders\shot0007.pic"
//   written "C:\renders\.shot0007.pic.1a2b3c4d.tmp", then renamed to the target
//
// (a name too long for that keeps less of the target's name, so that the
// temporary file's name fits wherever the target's does).
//
// Whether the target may be written is the system's answer, not ours: it is
// opened for writing as "wb" opens it, without truncating it, so that the
// kernel's own rules apply (permissions, read-only files and file systems,
// append-only and immutable files, and on Linux the protections against
// following another user's link in a sticky folder or writing another
// user's file there). Where it is refused, nothing is written or created,
// and errno says why, as for "wb". (Root may write a file of mode 0444, and
// so does AtomicOutput.)
//
// The temporary file is private from its first byte (mode 0600, made only
// if its name is free, no link followed; the replaced file's owner, access
// lists with their mask closed, extended attributes of every namespace the
// process may set, and inode flags given at once). When whole it takes the
// target's permission bits (a new file: those "wb" would have given it),
// and, where it replaces an earlier file, its data reaches the disk before
// it takes the name. On Windows ReplaceFileA carries the security
// descriptor, attributes and streams.
//
// Written in place, as "wb" writes, and so not atomic: devices and other
// targets that are no regular file (/dev/null, NUL, CON, a pipe, Wine's
// Z:\dev\null); a file with further hard links, which a replacement would
// split off; a file whose owner, attributes or flags this process has no
// right to give a new file (on Windows: a security descriptor it may not
// write, or the read-only, hidden or system attribute); a writable file in
// a folder that takes no new files; any file in an append-only folder; and
// a link to a file that does not exist yet. Any other failure to carry a
// fact over (a full disk, an I/O error) fails the open and leaves the
// earlier file as it was.
//
// A symbolic link is followed to the file it names (where the kernel lets
// it be followed); the link itself stays.
#pragma once

#include <cstdio>
#include <string>

#include "output/atomic_output_platform.h"
#include "output/interrupts.h"

class AtomicOutput {
public:
    // What becomes of a file that has the target's name.
    enum class Existing {
        Replace, // replaced, as "wb" replaces it
        Keep,    // kept: Open and Commit fail with EEXIST where one exists
    };

    AtomicOutput();
    // Closes the stream and removes the temporary file unless Commit moved
    // it into place.
    ~AtomicOutput();
    AtomicOutput(const AtomicOutput&) = delete;
    AtomicOutput& operator=(const AtomicOutput&) = delete;

    // Opens the output for `target` for binary writing. Null when it cannot,
    // with errno saying why. May throw std::bad_alloc.
    FILE* Open(const char* target, Existing existing = Existing::Replace);

    // Makes a scratch file of the program's own at `path`, as a temporary
    // file is made (only where nothing has that name, private, removed on
    // interrupt), which is never moved: Commit closes it, and it is removed
    // when this goes. Null with errno set. May throw std::bad_alloc.
    FILE* OpenScratch(const char* path);

    // A name that another writer, which opens files by name itself (a
    // plug-in's driver), writes this output under: a second name of the
    // temporary file, which as a file of two names it writes in place; or
    // the target when the output is written in place. Where no second name
    // can be made (a file system without hard links), the answer is a
    // scratch file's own name, or else the target: the temporary file goes,
    // the other writer writes the target its own way (and replaces whatever
    // Existing says), and Commit only answers 1. Removed on interrupt and
    // by Commit. May throw std::bad_alloc.
    const std::string& NameForAnotherWriter();

    // Closes the stream and moves the temporary file into place. 1 on
    // success; 0 when the close (and so the last buffered write), making the
    // file whole or the move failed, errno saying why (EEXIST when a file of
    // the target's name came meanwhile and Existing::Keep keeps it), and
    // then the temporary file is removed and the target is as it was (unless
    // it was written in place).
    int Commit();

    // True when the output goes straight to the target (see above).
    bool InPlace() const { return inPlace; }
    // The temporary file's path while one exists, else "".
    std::string TemporaryName() const;

private:
    // Discard, then what InspectTarget says of `target`; false with errno.
    bool Inspect(const char* target, Existing existing);
    FILE* OpenInPlace(const char* target);
    FILE* CreateTemporaryFile(const std::string& fixedName = std::string());
    void RemoveName(std::string& name, int& slot);
    void Discard();

    FILE* file;
    bool inPlace;
    bool keep;
    bool handedOver; // NameForAnotherWriter gave the target itself away
    bool scratch;    // made by OpenScratch
    atomic_output::TargetFacts facts;
    std::string targetName;
    std::string temporaryName; // within facts.folder
    int temporarySlot;         // its entry among the files removed on interrupt, or -1
    std::string writerName;    // NameForAnotherWriter's answer
    std::string secondName;    // within facts.folder
    int secondSlot;
};
