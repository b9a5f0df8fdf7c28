// What AtomicOutput asks of the platform: atomic_output_posix.cpp with
// output_target_posix.cpp and file_facts_posix.cpp, or atomic_output_win32.cpp,
// chosen by CMake.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace atomic_output {

enum class TargetKind {
    Missing, // nothing of that name yet: created
    Regular, // a regular file: replaced, or written in place
    Device,  // anything else a "wb" open writes to: written in place
};

// What the system answered for a target, and what it keeps open for it.
struct TargetFacts {
    TargetKind kind = TargetKind::Missing;
    // Written in place: devices, and regular files a replacement would lose
    // something of (see atomic_output.h).
    bool inPlace = false;
    // Where a replacement is made and moved: the folder, with its separator
    // ("" for the current folder), of the file "wb" would write (a link's
    // file, not the link), and that file's own name there.
    std::string folder;
    std::string name;
    // Regular files: what a replacement takes over (POSIX).
    unsigned mode = 0;
    unsigned owner = 0;
    unsigned group = 0;
    // POSIX: the target as the kernel opened it for writing, and its folder
    // (O_PATH); -1 when not open.
    int file = -1;
    int folderFile = -1;
};

// Opens `target` as a "wb" open would, but without creating or truncating
// anything, and says what it is (a link to nothing: a regular file written
// in place, which OpenInPlace makes). 0, with errno set as the open would
// set it, where such an open is refused.
int InspectTarget(const char* target, TargetFacts& facts);

// Closes what InspectTarget opened.
void ReleaseTarget(TargetFacts& facts);

// The target itself, opened for writing in place as "wb" opens it (a
// regular file truncated); with `keep`, only if nothing of that name
// exists. Null with errno set.
FILE* OpenInPlace(const char* target, TargetFacts& facts, bool keep);

// Creates `name` in the target's folder only if no file of that name exists
// (errno EEXIST otherwise), readable and writable by its owner alone, no
// link followed. Null with errno set.
FILE* CreateTemporary(const TargetFacts& facts, const std::string& name);

// Gives a new replacement what the file it will replace carries besides its
// bytes and permission bits: owner, access lists and other extended
// attributes, inode flags (POSIX); it stays private. 0 with errno set when
// one of them cannot be given.
int TakeOverFacts(FILE* replacement, const TargetFacts& facts);

// Whether a failure of TakeOverFacts is for lack of the right to give a
// fact (the output is then written in place), rather than of the system.
bool LacksRight(int error);

// Once the replacement is whole: its buffered bytes written, the target's
// permission bits (a new file's, for a new target) given, and, where it
// replaces an earlier file, its data on the disk. 1, or 0 with errno set.
int FinishReplacement(FILE* replacement, const TargetFacts& facts);

// Gives the file `from` of the target's folder a second name `to` there.
// 1, or 0 with errno set.
int LinkInFolder(const TargetFacts& facts, const std::string& from, const std::string& to);

// Moves `from`, in the target's folder, to the target's name: over a file of
// that name, or with `replace` false never over one (errno EEXIST). `spare`
// is a free name beside it that the move may use meanwhile. 1, or 0 with
// errno set; a failure leaves the earlier file or the new one under the
// target's name, never neither.
int MoveIntoPlace(const TargetFacts& facts, const std::string& from, const std::string& spare,
                  bool replace);

// Removes the file `name` of the target's folder. 1, or 0 with errno set.
int RemoveInFolder(const TargetFacts& facts, const std::string& name);

// A number that differs between processes.
uint32_t ProcessNumber();

} // namespace atomic_output
