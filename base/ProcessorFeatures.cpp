#include "base/ProcessorFeatures.h"

#include <cstdlib>
#include <cstring>

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#endif

namespace qorvi {

namespace {

uint32_t ReadProcessor() {
    uint32_t features = 0;
#if defined(__i386__) || defined(__x86_64__)
    unsigned eax, ebx, ecx, edx;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx)) {
        if (edx & (1u << 23)) features |= CpuMMX;
        if (edx & (1u << 25)) features |= CpuSSE;
        if (edx & (1u << 26)) features |= CpuSSE2;
    }
    if (static_cast<unsigned>(__get_cpuid_max(0x80000000u, nullptr)) >= 0x80000001u &&
        __get_cpuid(0x80000001u, &eax, &ebx, &ecx, &edx)) {
        if (edx & (1u << 22)) features |= CpuAMDMMX;
        if (edx & (1u << 31)) features |= Cpu3DNow;
        if (edx & (1u << 30)) features |= Cpu3DNowExt;
    }
#endif
    return features;
}

}  // namespace

uint32_t GetCpuFeatures() {
    static const uint32_t features = ReadProcessor();
    return features;
}

SimdLevel ChooseSimdLevel(uint32_t features, const char* forced) {
    const SimdLevel best = (features & CpuSSE2)  ? SimdLevel::SSE2
                           : (features & CpuMMX) ? SimdLevel::MMX
                                                 : SimdLevel::Scalar;
    if (forced == nullptr) return best;
    SimdLevel asked = best;
    if (std::strcmp(forced, "scalar") == 0) asked = SimdLevel::Scalar;
    if (std::strcmp(forced, "mmx") == 0) asked = SimdLevel::MMX;
    return asked < best ? asked : best;
}

SimdLevel SelectedSimdLevel() {
    static const SimdLevel level = ChooseSimdLevel(GetCpuFeatures(), std::getenv("QORVI_SIMD"));
    return level;
}

}  // namespace qorvi
