// The interposers of tests/fault_points.h. Each counts its call while a
// fault is armed for its kind and fails the armed one; every other call goes
// to the function it stands for: the next definition in the process (the
// C library, or a sanitizer's interceptor of it), found with dlsym, and for
// the allocators the sanitizer's own entry or the C library's, named
// directly, since dlsym itself may allocate.
#include "tests/fault_points.h"

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <new>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

std::atomic<int> armedKind{-1};
std::atomic<long> callsLeft{0}; // until the armed call
std::atomic<bool> hit{false};
const char* reportPath = nullptr;

// True when this call is the armed one: it must fail.
bool Fails(FaultKind kind)
{
    if (armedKind.load(std::memory_order_relaxed) != int(kind))
        return false;
    if (callsLeft.fetch_sub(1) != 1)
        return false;
    hit = true;
    if (reportPath != nullptr) {
        // Raw system calls: open and close are themselves fault points.
        const long report = syscall(SYS_openat, AT_FDCWD, reportPath, O_WRONLY | O_CREAT, 0600);
        if (report >= 0)
            syscall(SYS_close, report);
    }
    return true;
}

// The next definition of the function `self` stands for.
template <typename Function> Function* Next(Function* /*self*/, const char* name)
{
    return reinterpret_cast<Function*>(dlsym(RTLD_NEXT, name));
}

// The mode an open's last argument holds, where its flags say one is given.
mode_t ModeArgument(int flags, va_list arguments)
{
    const bool given = (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE;
    return given ? mode_t(va_arg(arguments, int)) : 0;
}

// A stream's error indicator, as a failed read or write of the C library sets it.
void SetStreamError(FILE* stream)
{
    if (stream != nullptr)
        stream->_flags |= 0x0020; // _IO_ERR_SEEN
}

} // namespace

const char* FaultKindName(FaultKind kind)
{
    static const char* const kNames[kFaultKinds] = {"alloc", "open",  "read",   "write", "seek",
                                                    "flush", "close", "rename", "chmod", "xattr",
                                                    "sync",  "link",  "unlink"};
    return kNames[int(kind)];
}

void ArmFault(FaultKind kind, long nth)
{
    hit = false;
    callsLeft = nth;
    armedKind = int(kind);
}

bool DisarmFault()
{
    armedKind = -1;
    return hit;
}

// --- allocation -------------------------------------------------------------

extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
void* __interceptor_malloc(size_t) __attribute__((weak));
void* __interceptor_calloc(size_t, size_t) __attribute__((weak));
void* __interceptor_realloc(void*, size_t) __attribute__((weak));
int __interceptor_posix_memalign(void**, size_t, size_t) __attribute__((weak));

void* malloc(size_t size)
{
    if (Fails(FaultKind::Alloc)) {
        errno = ENOMEM;
        return nullptr;
    }
    return __interceptor_malloc != nullptr ? __interceptor_malloc(size) : __libc_malloc(size);
}

void* calloc(size_t count, size_t size)
{
    if (Fails(FaultKind::Alloc)) {
        errno = ENOMEM;
        return nullptr;
    }
    return __interceptor_calloc != nullptr ? __interceptor_calloc(count, size)
                                           : __libc_calloc(count, size);
}

void* realloc(void* block, size_t size)
{
    if (Fails(FaultKind::Alloc)) {
        errno = ENOMEM;
        return nullptr;
    }
    return __interceptor_realloc != nullptr ? __interceptor_realloc(block, size)
                                            : __libc_realloc(block, size);
}

int posix_memalign(void** block, size_t alignment, size_t size)
{
    if (Fails(FaultKind::Alloc))
        return ENOMEM;
    if (__interceptor_posix_memalign != nullptr)
        return __interceptor_posix_memalign(block, alignment, size);
    *block = __libc_memalign(alignment, size);
    return *block != nullptr ? 0 : ENOMEM;
}
} // extern "C"

// The C++ allocation functions, replaced whole so that every new and delete
// pair meets in malloc and free.
namespace {

void* Allocate(size_t size, size_t alignment = 0)
{
    void* block = nullptr;
    if (alignment > alignof(std::max_align_t)) {
        if (posix_memalign(&block, alignment, size != 0 ? size : 1) != 0)
            block = nullptr;
    } else {
        block = malloc(size != 0 ? size : 1);
    }
    return block;
}

void* AllocateOrThrow(size_t size, size_t alignment = 0)
{
    void* block = Allocate(size, alignment);
    if (block == nullptr)
        throw std::bad_alloc();
    return block;
}

} // namespace

void* operator new(size_t size)
{
    return AllocateOrThrow(size);
}
void* operator new[](size_t size)
{
    return AllocateOrThrow(size);
}
void* operator new(size_t size, std::align_val_t alignment)
{
    return AllocateOrThrow(size, size_t(alignment));
}
void* operator new[](size_t size, std::align_val_t alignment)
{
    return AllocateOrThrow(size, size_t(alignment));
}
void* operator new(size_t size, const std::nothrow_t&) noexcept
{
    return Allocate(size);
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept
{
    return Allocate(size);
}
void* operator new(size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept
{
    return Allocate(size, size_t(alignment));
}
void* operator new[](size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept
{
    return Allocate(size, size_t(alignment));
}
void operator delete(void* block) noexcept
{
    free(block);
}
void operator delete[](void* block) noexcept
{
    free(block);
}
void operator delete(void* block, size_t) noexcept
{
    free(block);
}
void operator delete[](void* block, size_t) noexcept
{
    free(block);
}
void operator delete(void* block, std::align_val_t) noexcept
{
    free(block);
}
void operator delete[](void* block, std::align_val_t) noexcept
{
    free(block);
}
void operator delete(void* block, size_t, std::align_val_t) noexcept
{
    free(block);
}
void operator delete[](void* block, size_t, std::align_val_t) noexcept
{
    free(block);
}
void operator delete(void* block, const std::nothrow_t&) noexcept
{
    free(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept
{
    free(block);
}
void operator delete(void* block, std::align_val_t, const std::nothrow_t&) noexcept
{
    free(block);
}
void operator delete[](void* block, std::align_val_t, const std::nothrow_t&) noexcept
{
    free(block);
}

// --- files ------------------------------------------------------------------

extern "C" {

FILE* fopen(const char* path, const char* mode)
{
    static auto next = Next(&fopen, "fopen");
    if (Fails(FaultKind::Open)) {
        errno = EIO;
        return nullptr;
    }
    return next(path, mode);
}

// Counted and failed as the openat below, which it is.
int open(const char* path, int flags, ...)
{
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = ModeArgument(flags, arguments);
    va_end(arguments);
    return openat(AT_FDCWD, path, flags, mode);
}

size_t fread(void* bytes, size_t size, size_t count, FILE* stream)
{
    static auto next = Next(&fread, "fread");
    if (Fails(FaultKind::Read)) {
        SetStreamError(stream);
        errno = EIO;
        return 0;
    }
    return next(bytes, size, count, stream);
}

size_t fwrite(const void* bytes, size_t size, size_t count, FILE* stream)
{
    static auto next = Next(&fwrite, "fwrite");
    if (Fails(FaultKind::Write)) {
        SetStreamError(stream);
        errno = ENOSPC;
        return 0;
    }
    return next(bytes, size, count, stream);
}

int fputc(int value, FILE* stream)
{
    static auto next = Next(&fputc, "fputc");
    if (Fails(FaultKind::Write)) {
        SetStreamError(stream);
        errno = ENOSPC;
        return EOF;
    }
    return next(value, stream);
}

int fseek(FILE* stream, long offset, int origin)
{
    static auto next = Next(&fseek, "fseek");
    if (Fails(FaultKind::Seek)) {
        errno = EIO;
        return -1;
    }
    return next(stream, offset, origin);
}

int fseeko(FILE* stream, off_t offset, int origin)
{
    static auto next = Next(&fseeko, "fseeko");
    if (Fails(FaultKind::Seek)) {
        errno = EIO;
        return -1;
    }
    return next(stream, offset, origin);
}

int fflush(FILE* stream)
{
    static auto next = Next(&fflush, "fflush");
    if (Fails(FaultKind::Flush)) {
        SetStreamError(stream);
        errno = ENOSPC;
        return EOF;
    }
    return next(stream);
}

int fclose(FILE* stream)
{
    static auto next = Next(&fclose, "fclose");
    if (Fails(FaultKind::Close)) {
        next(stream); // closed all the same, as the C library does
        errno = ENOSPC;
        return EOF;
    }
    return next(stream);
}

int rename(const char* from, const char* to)
{
    static auto next = Next(&rename, "rename");
    if (Fails(FaultKind::Rename)) {
        errno = EIO;
        return -1;
    }
    return next(from, to);
}

int openat(int folder, const char* path, int flags, ...)
{
    static auto next =
        reinterpret_cast<int (*)(int, const char*, int, ...)>(dlsym(RTLD_NEXT, "openat"));
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = ModeArgument(flags, arguments);
    va_end(arguments);
    if (Fails(FaultKind::Open)) {
        errno = EIO;
        return -1;
    }
    return next(folder, path, flags, mode);
}

ssize_t write(int descriptor, const void* bytes, size_t count)
{
    static auto next = Next(&write, "write");
    if (Fails(FaultKind::Write)) {
        errno = ENOSPC;
        return -1;
    }
    return next(descriptor, bytes, count);
}

int renameat(int fromFolder, const char* from, int toFolder, const char* to)
{
    static auto next = Next(&renameat, "renameat");
    if (Fails(FaultKind::Rename)) {
        errno = EIO;
        return -1;
    }
    return next(fromFolder, from, toFolder, to);
}

int renameat2(int fromFolder, const char* from, int toFolder, const char* to, unsigned flags)
{
    static auto next = Next(&renameat2, "renameat2");
    if (Fails(FaultKind::Rename)) {
        errno = EIO;
        return -1;
    }
    return next(fromFolder, from, toFolder, to, flags);
}

// The calls that give a file its facts, sync it, and make and remove names:
// each fails as the system fails it.
#define PIC_FAULT_POINT(kind, error, result, name, parameters, arguments)                          \
    result name parameters                                                                         \
    {                                                                                              \
        static auto next = Next(&name, #name);                                                     \
        if (Fails(FaultKind::kind)) {                                                              \
            errno = error;                                                                         \
            return -1;                                                                             \
        }                                                                                          \
        return next arguments;                                                                     \
    }
PIC_FAULT_POINT(Chmod, EIO, int, fchmod, (int file, mode_t mode), (file, mode))
PIC_FAULT_POINT(Chmod, EIO, int, fchown, (int file, uid_t owner, gid_t group), (file, owner, group))
PIC_FAULT_POINT(Xattr, ENOSPC, ssize_t, flistxattr, (int file, char* list, size_t size),
                (file, list, size))
PIC_FAULT_POINT(Xattr, ENOSPC, ssize_t, fgetxattr,
                (int file, const char* name, void* value, size_t size), (file, name, value, size))
PIC_FAULT_POINT(Xattr, ENOSPC, int, fsetxattr,
                (int file, const char* name, const void* value, size_t size, int flags),
                (file, name, value, size, flags))
PIC_FAULT_POINT(Xattr, ENOSPC, int, fremovexattr, (int file, const char* name), (file, name))
PIC_FAULT_POINT(Sync, EIO, int, fdatasync, (int file), (file))
PIC_FAULT_POINT(Sync, EIO, int, fsync, (int file), (file))
PIC_FAULT_POINT(Link, EIO, int, link, (const char* from, const char* to), (from, to))
PIC_FAULT_POINT(Link, EIO, int, linkat,
                (int fromFolder, const char* from, int toFolder, const char* to, int flags),
                (fromFolder, from, toFolder, to, flags))
PIC_FAULT_POINT(Unlink, EIO, int, unlink, (const char* path), (path))
PIC_FAULT_POINT(Unlink, EIO, int, unlinkat, (int folder, const char* path, int flags),
                (folder, path, flags))
#undef PIC_FAULT_POINT

// Only the request that gives a file its inode flags fails: ioctl also asks
// terminals their size.
int ioctl(int file, unsigned long request, ...)
{
    static auto next =
        reinterpret_cast<int (*)(int, unsigned long, void*)>(dlsym(RTLD_NEXT, "ioctl"));
    va_list arguments;
    va_start(arguments, request);
    void* argument = va_arg(arguments, void*);
    va_end(arguments);
    if (request == FS_IOC_SETFLAGS && Fails(FaultKind::Chmod)) {
        errno = EIO;
        return -1;
    }
    return next(file, request, argument);
}

// The dynamic loader ends the process when it finds no memory for a
// library's thread-local data: a library loaded at run time is loaded with
// allocations that do not fail.
void* dlopen(const char* file, int mode)
{
    static auto next = Next(&dlopen, "dlopen");
    const int kind = armedKind.exchange(-1);
    void* library = next(file, mode);
    armedKind = kind;
    return library;
}

#if defined(FAULT_POINTS_PRELOAD)
// Armed from the environment once the program's own main begins, so that
// nothing fails before it can handle a failure.
using MainFunction = int (*)(int, char**, char**);
static MainFunction programMain;

static int ArmedMain(int argc, char** argv, char** environment)
{
    const char* kind = std::getenv("PIC_FAULT_KIND");
    const char* nth = std::getenv("PIC_FAULT_NTH");
    reportPath = std::getenv("PIC_FAULT_REPORT");
    for (int index = 0; kind != nullptr && nth != nullptr && index < kFaultKinds; ++index)
        if (std::strcmp(kind, FaultKindName(FaultKind(index))) == 0)
            ArmFault(FaultKind(index), std::atol(nth));
    return programMain(argc, argv, environment);
}

int __libc_start_main(MainFunction main, int argc, char** argv, void (*init)(), void (*fini)(),
                      void (*loaderFini)(), void* stackEnd)
{
    const auto next =
        reinterpret_cast<int (*)(MainFunction, int, char**, void (*)(), void (*)(), void (*)(),
                                 void*)>(dlsym(RTLD_NEXT, "__libc_start_main"));
    programMain = main;
    return next(ArmedMain, argc, argv, init, fini, loaderFini, stackEnd);
}
#endif

} // extern "C"
