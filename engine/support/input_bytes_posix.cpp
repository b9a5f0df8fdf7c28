#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "engine/support/input_bytes.h"

FILE* OpenInputFile(const char* path, bool& regular, uint64_t& size)
{
    FILE* file = std::fopen(path, "rb");
    if (file == nullptr)
        return nullptr;
    struct stat facts {};
    if (fstat(fileno(file), &facts) != 0 || S_ISDIR(facts.st_mode)) {
        const int why = S_ISDIR(facts.st_mode) ? EISDIR : errno;
        std::fclose(file);
        errno = why;
        return nullptr;
    }
    regular = S_ISREG(facts.st_mode);
    size = regular && facts.st_size > 0 ? uint64_t(facts.st_size) : 0;
    return file;
}

size_t ReadInputFile(FILE* file, void* bytes, size_t count, bool& failed)
{
    // The stream's own buffer is never used: the bytes go straight where
    // they are kept, in one read of the system.
    for (;;) {
        const ssize_t got = read(fileno(file), bytes, count);
        if (got >= 0)
            return size_t(got);
        if (errno != EINTR) {
            failed = true;
            return 0;
        }
    }
}

void UseInputBinaryMode(FILE*)
{
    // Streams carry bytes as they are.
}

InputMemory::~InputMemory()
{
    if (data != nullptr && heap.empty())
        munmap(data, capacity);
    if (descriptor >= 0)
        close(descriptor);
}

bool InputMemory::Reserve(size_t bytes)
{
    if (bytes <= capacity)
        return true;
    // At least double, so that a stream read in pieces moves its bytes a
    // few times only; whole pages.
    const size_t page = size_t(sysconf(_SC_PAGESIZE));
    size_t wanted = bytes < capacity * 2 ? capacity * 2 : bytes;
    wanted = (wanted + page - 1) / page * page;
    if (data == nullptr)
        descriptor = memfd_create("pictool-input", MFD_CLOEXEC);
    // Without a memory file (an old kernel, a sandbox) the memory is anonymous.
    if (descriptor >= 0 && ftruncate(descriptor, off_t(wanted)) != 0)
        return false;
    void* mapped =
        data == nullptr
            ? mmap(nullptr, wanted, PROT_READ | PROT_WRITE,
                   descriptor >= 0 ? MAP_SHARED : MAP_PRIVATE | MAP_ANONYMOUS, descriptor, 0)
            : mremap(data, capacity, wanted, MREMAP_MAYMOVE);
    if (mapped == MAP_FAILED)
        return false;
    data = static_cast<uint8_t*>(mapped);
    capacity = wanted;
    return true;
}

std::string InputMemory::Name(size_t size)
{
    // The file is cut to the bytes held, so that a reader of it meets their
    // end; the pages past it are never touched again.
    if (descriptor < 0 || ftruncate(descriptor, off_t(size)) != 0)
        return "";
    return "/proc/self/fd/" + std::to_string(descriptor);
}
