#include "geometry/ResizeWeights.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <unordered_map>

namespace qorvi {

namespace {

// The weights were first computed on the x87 in its extended format. long double is that format
// on every build we make (32-bit Windows and x86-64), so intermediate values are formed in it and
// the values the builder keeps are rounded to double through memory, in the same places on both.
using Extended = long double;

double ToDouble(Extended value) {
    volatile double rounded = static_cast<double>(value);
    return rounded;
}

constexpr Extended Pi = 3.141592653589793238462643383279502884L;
constexpr Extended PiSquared = Pi * Pi;

size_t StorageSize(uint64_t bytes) {
    if (bytes > std::numeric_limits<size_t>::max()) throw std::bad_alloc();
    return static_cast<size_t>(bytes);
}

int16_t ToWeight(int64_t value) {
    // Folded edge weights stay well inside 16 bits for every kernel here; saturate anyway rather
    // than wrap.
    if (value > INT16_MAX) return INT16_MAX;
    if (value < INT16_MIN) return INT16_MIN;
    return static_cast<int16_t>(value);
}

// Makes the weights from index `first` to `last`, a list's contributing samples, add up to exactly
// WeightOne, so that a flat picture keeps its value: what the truncated weights miss of it (or
// exceed it by) goes to the largest weight, the first of equals. Should that pass the 16-bit
// range, the part that does not fit goes on to the next largest.
void CorrectSum(int16_t* weights, int64_t first, int64_t last) {
    int64_t rest = WeightOne;
    for (int64_t k = first; k <= last; ++k) rest -= weights[k];
    while (rest != 0) {
        int64_t largest = -1;
        for (int64_t k = first; k <= last; ++k) {
            const bool room = rest > 0 ? weights[k] < INT16_MAX : weights[k] > INT16_MIN;
            if (room && (largest < 0 || weights[k] > weights[largest])) largest = k;
        }
        // A weight with room is always left: a list short of WeightOne has one below INT16_MAX,
        // a list over it one above INT16_MIN.
        if (largest < 0) return;
        const int64_t corrected = weights[largest] + rest;
        weights[largest] = ToWeight(corrected);
        rest = corrected - weights[largest];
    }
}

// Writes the lists of one axis into its storage, each distinct list once, and its entries.
class ListWriter {
public:
    ListWriter(TResizeParam& axis, uint64_t storageBytes) : axis_(axis) {
        axis.Storage = AlignedBlock(StorageSize(storageBytes), 8);
        axis.Entries.resize(static_cast<size_t>(axis.OutputCount));
        write_ = axis.Storage.get<uint32_t>();
    }

    // The list of the next entry: `weights` holds 2 * count weights from the even source index at
    // or below `first` onward.
    void Add(int64_t first, const int16_t* weights, int32_t count) {
        const int64_t offset = (first / 2) * axis_.PairStep;
        if (offset > std::numeric_limits<intptr_t>::max()) throw std::bad_alloc();
        uint32_t* list = write_ + 1;
        write_[0] = static_cast<uint32_t>(count);
        for (int32_t k = 0; k < count; ++k) {
            list[k] = static_cast<uint16_t>(weights[2 * k]) |
                      static_cast<uint32_t>(static_cast<uint16_t>(weights[2 * k + 1])) << 16;
        }
        // The distinct lists are looked up by a hash of their pairs; equal lists share storage.
        uint64_t hash = static_cast<uint64_t>(count);
        for (int32_t k = 0; k < count; ++k) hash = (hash ^ list[k]) * 0x100000001B3ull;
        const uint32_t* shared = list;
        auto [same, end] = distinct_.equal_range(hash);
        for (; same != end; ++same) {
            const uint32_t* other = same->second;
            if (PairCount(other) == count && std::memcmp(other, list, 4u * count) == 0) {
                shared = other;
                break;
            }
        }
        if (shared == list) {
            distinct_.emplace(hash, list);
            write_ += 1 + count;
        }
        axis_.Entries[entry_++] = WeightEntry{static_cast<intptr_t>(offset), shared};
    }

private:
    TResizeParam& axis_;
    uint32_t* write_ = nullptr;
    size_t entry_ = 0;
    std::unordered_multimap<uint64_t, const uint32_t*> distinct_;
};

}  // namespace

void TWndFuncWeight::SetWeights(TResizeParam& axis) const {
    const int64_t out = axis.OutputCount, in = axis.InputCount, radius = Radius;
    // Every output sample reaches 2R output samples' worth of source samples.
    const int64_t taps = (2 * radius * in + out - 1) / out;
    const int64_t maxPairs = taps / 2 + 1;
    ListWriter writer(axis, static_cast<uint64_t>(out) * (4 * maxPairs + 8));
    std::vector<double> scratch(StorageSize(2 * static_cast<uint64_t>(maxPairs)));
    std::vector<int16_t> weights(scratch.size());

    for (int64_t i = 0; i < out; ++i) {
        const int64_t start = static_cast<int64_t>(
            std::floor((static_cast<Extended>(i - radius) + 0.5L) * in / out + 0.5L));
        const int64_t end = start + taps - 1;
        const int64_t first = start > 0 ? start : 0;
        const int64_t parity = first & 1;
        int64_t last;  // index of the last contributing sample, counted from `first`
        if (end < in) {
            last = end - first;
        } else {
            last = in - 1 - first;
            scratch[last + parity] = 0;
        }
        const int64_t count = (last + parity + 2) / 2;
        scratch[0] = 0;
        scratch[(last + parity) | 1] = 0;
        double sum = 0;
        for (int64_t j = start; j <= end; ++j) {
            const double x = ToDouble((static_cast<Extended>(j) + 0.5L) * out / in -
                                      (static_cast<Extended>(i) + 0.5L));
            const double w = WindowFunc(x);
            sum = ToDouble(static_cast<Extended>(sum) + w);
            if (j <= 0) {
                // Weight left of the picture goes to its first sample: the edge is replicated.
                scratch[0] = ToDouble(static_cast<Extended>(scratch[0]) + w);
            } else if (j < in) {
                scratch[j - first + parity] = w;
            } else {
                // And weight right of it to the last sample.
                scratch[j - first + parity] = 0;
                double& edge = scratch[last + parity];
                edge = ToDouble(static_cast<Extended>(edge) + w);
            }
        }
        for (int64_t k = 0; k < 2 * count; ++k) {
            weights[k] =
                ToWeight(static_cast<int64_t>(static_cast<Extended>(scratch[k]) / sum * WeightOne));
        }
        // Truncated, each weight may be up to a unit off: the sum is put right before the list
        // is compared with the stored ones, so equal lists stay equal.
        CorrectSum(weights.data(), parity, parity + last);
        writer.Add(first, weights.data(), static_cast<int32_t>(count));
    }
}

double TLanczos::WindowFunc(double x) const {
    x = std::fabs(x);
    if (x <= 1e-12) return 1.0;
    if (x >= Radius) return 0.0;
    const Extended pix = Pi * x;
    return ToDouble(std::sin(pix) * std::sin(pix / Radius) / (PiSquared * x * x / Radius));
}

double TSpline16::WindowFunc(double x) const {
    const Extended t = std::fabs(x);
    if (t < 1) return ToDouble(((t - 1.8L) * t - 0.2L) * t + 1);
    if (t < 2) {
        const Extended u = t - 1;
        return ToDouble(((-1.0L / 3 * u + 0.8L) * u - 7.0L / 15) * u);
    }
    return 0.0;
}

double TSpline36::WindowFunc(double x) const {
    const Extended t = std::fabs(x);
    if (t < 1) return ToDouble(((13.0L / 11 * t - 453.0L / 209) * t - 3.0L / 209) * t + 1);
    if (t < 2) {
        const Extended u = t - 1;
        return ToDouble(((-6.0L / 11 * u + 270.0L / 209) * u - 156.0L / 209) * u);
    }
    if (t < 3) {
        const Extended u = t - 2;
        return ToDouble(((1.0L / 11 * u - 45.0L / 209) * u + 26.0L / 209) * u);
    }
    return 0.0;
}

void TAreaAverage::SetWeights(TResizeParam& axis) const {
    // Positions are counted in 1/out of a source sample. Every product is formed in 64 bits, so
    // any pair of sizes the buffers allow is exact.
    const int64_t out = axis.OutputCount, in = axis.InputCount;
    const int64_t maxPairs = (((in + out - 1) / out + 1) / 2) + 1;
    ListWriter writer(axis, static_cast<uint64_t>(out) * (4 * maxPairs + 8));
    std::vector<int16_t> weights(StorageSize(2 * static_cast<uint64_t>(maxPairs)));
    const int64_t full = out * WeightOne / in;  // a source sample wholly inside the output sample

    for (int64_t i = 0; i < out; ++i) {
        const int64_t a = in * i, b = (i + 1) * in - 1;
        const int64_t first = a / out, last = b / out;
        const int64_t n = last - first, parity = first & 1;
        const int64_t count = (n + parity + 2) / 2;
        std::fill(weights.begin(), weights.begin() + 2 * count, int16_t{0});
        int16_t* w = weights.data() + parity;
        w[0] = ToWeight((out - a % out) * WeightOne / in);
        for (int64_t k = 1; k < n; ++k) w[k] = ToWeight(full);
        // With n = 0 this overwrites the first weight with the same value.
        w[n] = ToWeight((b % out + 1) * WeightOne / in);
        CorrectSum(w, 0, n);
        writer.Add(first, weights.data(), static_cast<int32_t>(count));
    }
}

}  // namespace qorvi
