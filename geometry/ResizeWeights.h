// Weight tables of the resampling passes: for every output sample of one axis, where its source
// samples start and with what 1.14 fixed-point weights (16384 = 1.0) they contribute. Axes only
// ever shrink or keep their size. Platform-free.
//
// A weight list is a 32-bit pair count followed by that many 32-bit pairs, each two signed 16-bit
// weights: the low half for the even source index 2k, the high half for the odd index 2k + 1. A
// list starts at the even index at or below its first contributing sample; slots outside the
// contributing range hold 0. The weights of every list add up to exactly 16384, so a picture of one
// flat colour keeps that colour. Equal lists are stored once, so entries may share a list.
//
// Failure: SetWeights throws std::bad_alloc when the storage cannot be had or an offset would not
// fit an address; the axis is then incomplete and must be cleared.
#pragma once

#include "base/AlignedMemory.h"

#include <cstdint>
#include <vector>

namespace qorvi {

inline constexpr int32_t WeightOne = 16384;  // 1.0 in 1.14 fixed point
inline constexpr int32_t WeightShift = 14;
inline constexpr int32_t WeightRounding = 8192;  // added before the shift: rounds half up

struct WeightEntry {
    intptr_t Offset = 0;              // bytes into the pass's input: the pair of the first sample
    const uint32_t* Pairs = nullptr;  // the list's first pair; its count is the word before it
};

inline int32_t PairCount(const uint32_t* pairs) { return static_cast<int32_t>(pairs[-1]); }
inline int16_t EvenWeight(uint32_t pair) { return static_cast<int16_t>(pair & 0xFFFF); }
inline int16_t OddWeight(uint32_t pair) { return static_cast<int16_t>(pair >> 16); }

// What output sample i of an axis reads: its weight pairs, their count, and its first source
// pair in `input`, the pass's input.
struct SampleWeightList {
    const uint8_t* Source;
    const uint32_t* Pairs;
    int32_t Count;
};

// One axis of a resize. The pass object fills the counts, the pair step and its own kernel
// parameters; SetWeights fills the storage and the entries from the first three.
struct TResizeParam {
    AlignedBlock Storage;  // the weight lists, 8-byte aligned
    std::vector<WeightEntry> Entries;
    int32_t OutputCount = 0;
    int32_t InputCount = 0;
    int32_t PairStep = 0;  // bytes between consecutive source pairs in the pass's input
    // Kept for the pass kernels of this axis.
    int32_t WideningGroups = 0;  // horizontal: widening groups per source row
    int32_t Samples = 0;         // horizontal: target width; vertical: strips per destination row
    int32_t Lines = 0;           // horizontal: source height; vertical: target height

    void Clear() { *this = TResizeParam{}; }
};

// Always inlined, also into kernels built for other processor features: they call it once per
// output sample.
[[gnu::always_inline]] inline SampleWeightList SampleWeights(const TResizeParam& axis,
                                                             const uint8_t* input, int32_t i) {
    const WeightEntry& entry = axis.Entries[size_t(i)];
    return {input + entry.Offset, entry.Pairs, PairCount(entry.Pairs)};
}

class TWeightSetter {
public:
    virtual ~TWeightSetter() = default;
    // Builds the axis's table; its storage and entries must be empty. Needs
    // 1 <= OutputCount <= InputCount.
    virtual void SetWeights(TResizeParam& axis) const = 0;
};

// A kernel windowed to Radius output samples on each side.
class TWndFuncWeight : public TWeightSetter {
public:
    explicit TWndFuncWeight(int32_t radius) : Radius(radius) {}
    void SetWeights(TResizeParam& axis) const override;
    // The kernel at distance x, measured in output samples.
    virtual double WindowFunc(double x) const = 0;

    const int32_t Radius;
};

class TLanczos final : public TWndFuncWeight {
public:
    static constexpr int32_t MaxRadius = 32;
    explicit TLanczos(int32_t radius)
        : TWndFuncWeight(radius < 1           ? 1
                         : radius > MaxRadius ? MaxRadius
                                              : radius) {}
    double WindowFunc(double x) const override;
};

class TSpline16 final : public TWndFuncWeight {
public:
    TSpline16() : TWndFuncWeight(2) {}
    double WindowFunc(double x) const override;
};

class TSpline36 final : public TWndFuncWeight {
public:
    TSpline36() : TWndFuncWeight(3) {}
    double WindowFunc(double x) const override;
};

// Exact integer coverage: each output sample averages the source area it covers.
class TAreaAverage final : public TWeightSetter {
public:
    void SetWeights(TResizeParam& axis) const override;
};

}  // namespace qorvi
