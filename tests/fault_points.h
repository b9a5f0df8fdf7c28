// Fault points (Linux, GNU toolchain): every allocation and every call that
// opens, reads, writes, seeks, flushes, closes or renames a file, gives one
// its owner, mode, flags or extended attributes, syncs it, links or
// removes a name, is counted
// while armed, and the N-th of one kind fails as the system fails it
// (a null pointer or std::bad_alloc, -1 or EOF with errno, the stream's
// error flag set). tests/fault_points.cpp interposes the C library's and the
// C++ runtime's functions; linked into a test program it is armed by
// ArmFault, preloaded into another program (LD_PRELOAD, built as the module
// fault_points_preload) by the environment, from that program's main on:
//
//   PIC_FAULT_KIND=write PIC_FAULT_NTH=3 PIC_FAULT_REPORT=/tmp/hit
//
// and it creates the report file when the fault was hit.
#pragma once

enum class FaultKind {
    Alloc,
    Open, // fopen, open, openat
    Read,
    Write, // fwrite, fputc, write
    Seek,
    Flush,
    Close,
    Rename, // rename, renameat, renameat2
    Chmod,  // fchmod, fchown, and FS_IOC_SETFLAGS (EIO)
    Xattr,  // flistxattr, fgetxattr, fsetxattr, fremovexattr (ENOSPC)
    Sync,   // fdatasync, fsync (EIO)
    Link,   // link, linkat (EIO)
    Unlink, // unlink, unlinkat (EIO)
};
constexpr int kFaultKinds = 13;

// "alloc", "open", "read", ...
const char* FaultKindName(FaultKind kind);

// From now on the `nth` call (1, 2, ...) of `kind` fails.
void ArmFault(FaultKind kind, long nth);
// Stops counting; true when the armed call came, and so failed.
bool DisarmFault();
