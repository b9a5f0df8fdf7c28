#include "pic/cpu_vectors.h"

#include <atomic>

namespace {

std::atomic<bool> plainForced{false};

bool CpuHasSse2()
{
#if defined(PIC_SSE2_ONLY_IF_ASKED)
    // Asked once. __builtin_cpu_init makes the answer right even when this
    // runs before libgcc's own start-up code has filled it in.
    static const bool hasSse2 = (__builtin_cpu_init(), __builtin_cpu_supports("sse2") != 0);
    return hasSse2;
#elif defined(PIC_SSE2_PATHS)
    return true;
#else
    return false;
#endif
}

} // namespace

bool UseVectorPaths()
{
    return CpuHasSse2() && !plainForced.load(std::memory_order_relaxed);
}

void ForcePlainPaths(bool plainOnly)
{
    plainForced.store(plainOnly, std::memory_order_relaxed);
}
