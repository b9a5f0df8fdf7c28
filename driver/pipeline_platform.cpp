#include "driver/pipeline_platform.h"

#include <cstdlib>
#include <thread>

#if defined(_WIN32)
#include <windows.h>
#elif defined(__linux__)
#include <sched.h>
#include <sys/mman.h>
#endif

namespace {

constexpr size_t kAlignment = 16;

#if defined(__linux__)
constexpr size_t kHugePage = size_t(2) << 20;
#endif

} // namespace

RingMemory::RingMemory(size_t bytes)
{
#if defined(__linux__)
    // From half a huge page on, a whole one (or more) is worth its memory.
    if (bytes >= kHugePage / 2 && bytes <= SIZE_MAX - kHugePage) {
        const size_t size = (bytes + kHugePage - 1) / kHugePage * kHugePage;
        if (posix_memalign(&block, kHugePage, size) == 0) {
            madvise(block, size, MADV_HUGEPAGE);
            data = static_cast<uint8_t*>(block);
            return;
        }
        block = nullptr;
    }
#endif
    if (bytes > SIZE_MAX - kAlignment)
        return;
    block = std::malloc(bytes + kAlignment);
    if (block != nullptr) {
        const uintptr_t start = reinterpret_cast<uintptr_t>(block);
        data = static_cast<uint8_t*>(block) + (kAlignment - start % kAlignment) % kAlignment;
    }
}

RingMemory::~RingMemory()
{
    std::free(block);
}

#if defined(_WIN32)

namespace {

// GetCurrentProcessorNumber is in KERNEL32 from Windows Vista on: looked up
// rather than imported, so that the module still loads where it is missing.
using CurrentProcessorNumberFunction = DWORD(WINAPI*)();

CurrentProcessorNumberFunction CurrentProcessorNumber()
{
    static const auto function =
        reinterpret_cast<CurrentProcessorNumberFunction>(reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetCurrentProcessorNumber")));
    return function;
}

} // namespace

unsigned UsableProcessors()
{
    DWORD_PTR allowed = 0;
    DWORD_PTR system = 0;
    if (!GetProcessAffinityMask(GetCurrentProcess(), &allowed, &system))
        return std::thread::hardware_concurrency();
    unsigned count = 0;
    for (; allowed != 0; allowed &= allowed - 1)
        ++count;
    return count;
}

int CurrentProcessor()
{
    const CurrentProcessorNumberFunction function = CurrentProcessorNumber();
    return function != nullptr ? int(function()) : -1;
}

void AvoidProcessor(int processor)
{
    DWORD_PTR allowed = 0;
    DWORD_PTR system = 0;
    if (processor < 0 || processor >= int(8 * sizeof(DWORD_PTR)) ||
        !GetProcessAffinityMask(GetCurrentProcess(), &allowed, &system))
        return;
    const DWORD_PTR avoided = DWORD_PTR(1) << processor;
    if ((allowed & ~avoided) != 0)
        SetThreadAffinityMask(GetCurrentThread(), allowed & ~avoided);
}

#elif defined(__linux__)

unsigned UsableProcessors()
{
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (sched_getaffinity(0, sizeof allowed, &allowed) != 0)
        return std::thread::hardware_concurrency();
    return unsigned(CPU_COUNT(&allowed));
}

int CurrentProcessor()
{
    return sched_getcpu();
}

void AvoidProcessor(int processor)
{
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (processor < 0 || processor >= CPU_SETSIZE ||
        sched_getaffinity(0, sizeof allowed, &allowed) != 0)
        return;
    CPU_CLR(size_t(processor), &allowed);
    if (CPU_COUNT(&allowed) > 0)
        sched_setaffinity(0, sizeof allowed, &allowed);
}

#else

unsigned UsableProcessors()
{
    return std::thread::hardware_concurrency();
}

int CurrentProcessor()
{
    return -1;
}

void AvoidProcessor(int) {}

#endif
