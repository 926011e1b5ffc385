// The one processor-feature probe: what the processor offers, and the SIMD level every kernel
// runs at.
//
// GetCpuFeatures reads the processor once (the first call) and returns the same bits ever after.
// SelectedSimdLevel is the best level those bits allow, or the lower one QORVI_SIMD in the
// environment names ("scalar", "mmx" or "sse2"; read once, at the first call), so tests and
// benchmarks can run each path on one machine. A named level the processor lacks gives the best it
// has (its instructions would fault); any other value is ignored.
//
// Each kernel runs the highest path it has at or below the selected level: the resizer has all
// three; the colour engine's matrix-shaper kernel has no MMX path, so "mmx" means its plain one.
// Nothing here fails: on a processor family without these instructions there are no bits and the
// level is scalar.
#pragma once

#include <cstdint>

namespace qorvi {

// Bits of GetCpuFeatures. The last three are read only where the extended function exists.
enum : uint32_t {
    CpuMMX = 1u << 0,
    CpuSSE = 1u << 1,
    CpuSSE2 = 1u << 2,
    CpuAMDMMX = 1u << 3,
    Cpu3DNow = 1u << 4,
    Cpu3DNowExt = 1u << 5,
};
uint32_t GetCpuFeatures();

// Ordered: a kernel compares with <= to find the paths it may take.
enum class SimdLevel { Scalar, MMX, SSE2 };
SimdLevel SelectedSimdLevel();
// The level SelectedSimdLevel gives for these features and this QORVI_SIMD value (null: unset).
SimdLevel ChooseSimdLevel(uint32_t features, const char* forced);

}  // namespace qorvi
