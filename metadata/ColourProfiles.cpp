#include "metadata/ColourProfiles.h"

#include "base/ProcessHeap.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <new>
#include <string_view>
#include <vector>

namespace qorvi {
namespace {

// ---- H.273 code points

struct NamedPrimaries {
    uint16_t Code;
    double White[2];
    double Primaries[6];
};
constexpr double D65[2] = {0.3127, 0.3290};
constexpr NamedPrimaries PrimariesTable[] = {
    {1, {D65[0], D65[1]}, {0.640, 0.330, 0.300, 0.600, 0.150, 0.060}},   // BT.709, sRGB
    {4, {0.310, 0.316}, {0.670, 0.330, 0.210, 0.710, 0.140, 0.080}},     // BT.470 M
    {5, {D65[0], D65[1]}, {0.640, 0.330, 0.290, 0.600, 0.150, 0.060}},   // BT.601 625
    {6, {D65[0], D65[1]}, {0.630, 0.340, 0.310, 0.595, 0.155, 0.070}},   // BT.601 525
    {7, {D65[0], D65[1]}, {0.630, 0.340, 0.310, 0.595, 0.155, 0.070}},   // SMPTE 240M
    {9, {D65[0], D65[1]}, {0.708, 0.292, 0.170, 0.797, 0.131, 0.046}},   // BT.2020, BT.2100
    {11, {0.314, 0.351}, {0.680, 0.320, 0.265, 0.690, 0.150, 0.060}},    // DCI-P3
    {12, {D65[0], D65[1]}, {0.680, 0.320, 0.265, 0.690, 0.150, 0.060}},  // Display P3
    {22, {D65[0], D65[1]}, {0.630, 0.340, 0.295, 0.605, 0.155, 0.077}},  // EBU 3213
};

struct NamedTransfer {
    uint16_t Code;
    TransferCurve Curve;
    double Gamma;
};
constexpr NamedTransfer TransferTable[] = {
    {1, TransferCurve::BT709, 0}, {4, TransferCurve::Gamma, 2.2},   {5, TransferCurve::Gamma, 2.8},
    {6, TransferCurve::BT709, 0}, {7, TransferCurve::SMPTE240M, 0}, {8, TransferCurve::Linear, 0},
    {13, TransferCurve::SRGB, 0}, {14, TransferCurve::BT709, 0},    {15, TransferCurve::BT709, 0},
    {16, TransferCurve::PQ, 0},   {18, TransferCurve::HLG, 0},
};

// ---- Transfer functions

// ICC parametric curve type 3: Y = (aX + b)^g for X >= d, cX below. The curves of the BT.709
// family are the inverses of the cameras' encoding functions.
struct Parametric3 {
    double G, A, B, C, D;
    double operator()(double x) const { return x >= D ? std::pow(A * x + B, G) : C * x; }
};
constexpr Parametric3 SRGBCurve = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
constexpr Parametric3 BT709Curve = {1 / 0.45, 1 / 1.099, 0.099 / 1.099, 1 / 4.5, 0.081};
constexpr Parametric3 SMPTE240MCurve = {1 / 0.45, 1 / 1.1115, 0.1115 / 1.1115, 1 / 4.0, 0.0913};

// SMPTE ST 2084: signal to cd/m2.
double PQLight(double signal) {
    constexpr double M1 = 2610.0 / 16384, M2 = 2523.0 / 4096 * 128;
    constexpr double C1 = 3424.0 / 4096, C2 = 2413.0 / 4096 * 32, C3 = 2392.0 / 4096 * 32;
    const double p = std::pow(signal, 1 / M2);
    return 10000 * std::pow(std::max(p - C1, 0.0) / (C2 - C3 * p), 1 / M1);
}

// BT.2100 HLG: signal to display light in cd/m2 on the nominal 1000 cd/m2 display. The system
// gamma of 1.2 belongs to the luminance; per channel it is exact for neutral colours.
constexpr double HLGPeak = 1000;
double HLGLight(double signal) {
    constexpr double A = 0.17883277, B = 0.28466892, C = 0.55991073;
    const double scene =
        signal <= 0.5 ? signal * signal / 3 : (std::exp((signal - C) / A) + B) / 12;
    return HLGPeak * std::pow(scene, 1.2);
}

// ---- Matrices

using Vector = std::array<double, 3>;
using Matrix = std::array<Vector, 3>;  // rows

Matrix Multiply(const Matrix& a, const Matrix& b) {
    Matrix out{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k) out[i][j] += a[i][k] * b[k][j];
    return out;
}

Vector Apply(const Matrix& m, const Vector& v) {
    Vector out{};
    for (int i = 0; i < 3; ++i) out[i] = m[i][0] * v[0] + m[i][1] * v[1] + m[i][2] * v[2];
    return out;
}

// False when the matrix is singular (three primaries on one line).
bool Invert(const Matrix& m, Matrix& out) {
    const double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                       m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                       m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
    if (!std::isfinite(det) || std::abs(det) < 1e-9) return false;
    out[0][0] = (m[1][1] * m[2][2] - m[1][2] * m[2][1]) / det;
    out[0][1] = (m[0][2] * m[2][1] - m[0][1] * m[2][2]) / det;
    out[0][2] = (m[0][1] * m[1][2] - m[0][2] * m[1][1]) / det;
    out[1][0] = (m[1][2] * m[2][0] - m[1][0] * m[2][2]) / det;
    out[1][1] = (m[0][0] * m[2][2] - m[0][2] * m[2][0]) / det;
    out[1][2] = (m[0][2] * m[1][0] - m[0][0] * m[1][2]) / det;
    out[2][0] = (m[1][0] * m[2][1] - m[1][1] * m[2][0]) / det;
    out[2][1] = (m[0][1] * m[2][0] - m[0][0] * m[2][1]) / det;
    out[2][2] = (m[0][0] * m[1][1] - m[0][1] * m[1][0]) / det;
    return true;
}

// A chromaticity that a colour can have: x, y inside the triangle x >= 0, y > 0, x + y <= 1.
// Spectral primaries lie on the triangle's edge (P3's and BT.2020's red: x + y = 1), where the
// sum may come out a rounding above 1.
bool Chromaticity(double x, double y) {
    return std::isfinite(x) && std::isfinite(y) && x >= 0 && y > 0.001 && x + y <= 1 + 1e-9;
}

Vector XYZ(double x, double y) { return {x / y, 1.0, (1 - x - y) / y}; }

// The profile connection space's white (what Little CMS and ICC v4 take as D50).
constexpr Vector D50 = {0.9642, 1.0, 0.8249};
constexpr Matrix Bradford = {
    {{0.8951, 0.2664, -0.1614}, {-0.7502, 1.7135, 0.0367}, {0.0389, -0.0685, 1.0296}}};

// From `white` to D50, in the Bradford cone space.
bool Adaptation(const Vector& white, Matrix& out) {
    Matrix inverse;
    if (!Invert(Bradford, inverse)) return false;
    const Vector from = Apply(Bradford, white), to = Apply(Bradford, D50);
    Matrix scale{};
    for (int i = 0; i < 3; ++i) {
        if (std::abs(from[i]) < 1e-9) return false;
        scale[i][i] = to[i] / from[i];
    }
    out = Multiply(inverse, Multiply(scale, Bradford));
    return true;
}

// ---- The ICC writer

class ProfileBytes {
public:
    void U16(uint32_t v) {
        Bytes.push_back(uint8_t(v >> 8));
        Bytes.push_back(uint8_t(v));
    }
    void U32(uint32_t v) {
        U16(v >> 16);
        U16(v & 0xFFFF);
    }
    void Signature(std::string_view four) { Bytes.insert(Bytes.end(), four.begin(), four.end()); }
    // s15Fixed16Number, rounded as Little CMS rounds.
    void Fixed(double v) {
        U32(static_cast<uint32_t>(static_cast<int32_t>(std::floor(v * 65536 + 0.5))));
    }
    void Zeros(size_t count) { Bytes.insert(Bytes.end(), count, 0); }
    void Align() { Zeros((4 - Bytes.size() % 4) % 4); }
    void Put(size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) Bytes[at + i] = uint8_t(v >> (24 - 8 * i));
    }

    std::vector<uint8_t> Bytes;
};

void WriteText(ProfileBytes& out, std::string_view text) {
    out.Signature("mluc");
    out.Zeros(4);
    out.U32(1);   // one record
    out.U32(12);  // of 12 bytes
    out.Signature("enUS");
    out.U32(static_cast<uint32_t>(2 * text.size()));
    out.U32(28);  // the text follows the record
    for (char c : text) out.U16(static_cast<uint8_t>(c));
}

void WriteXYZ(ProfileBytes& out, const Vector& v) {
    out.Signature("XYZ ");
    out.Zeros(4);
    for (double c : v) out.Fixed(c);
}

// Entries of the tabulated curves of PQ and HLG: a multiple of 255 intervals, so that every
// 8-bit value falls on an entry.
constexpr uint32_t TableEntries = 16 * 255 + 1;

void WriteCurve(ProfileBytes& out, const ColourNumbers& numbers) {
    const auto parametric3 = [&](const Parametric3& f) {
        out.Signature("para");
        out.Zeros(4);
        out.U16(3);
        out.Zeros(2);
        for (double p : {f.G, f.A, f.B, f.C, f.D}) out.Fixed(p);
    };
    const auto power = [&](double gamma) {
        out.Signature("para");
        out.Zeros(4);
        out.U16(0);
        out.Zeros(2);
        out.Fixed(gamma);
    };
    switch (numbers.Curve) {
    case TransferCurve::SRGB: parametric3(SRGBCurve); return;
    case TransferCurve::BT709: parametric3(BT709Curve); return;
    case TransferCurve::SMPTE240M: parametric3(SMPTE240MCurve); return;
    case TransferCurve::Gamma: power(numbers.Gamma); return;
    case TransferCurve::Linear: power(1); return;
    case TransferCurve::PQ:
    case TransferCurve::HLG: break;
    }
    out.Signature("curv");
    out.Zeros(4);
    out.U32(TableEntries);
    for (uint32_t i = 0; i < TableEntries; ++i) {
        const double value = CurveValue(numbers, double(i) / (TableEntries - 1));
        out.U16(static_cast<uint32_t>(std::lround(std::clamp(value, 0.0, 1.0) * 65535)));
    }
}

bool ValidNumbers(const ColourNumbers& n) {
    if (!Chromaticity(n.White[0], n.White[1])) return false;
    for (int i = 0; i < 6; i += 2)
        if (!Chromaticity(n.Primaries[i], n.Primaries[i + 1])) return false;
    if (n.Curve == TransferCurve::Gamma && !(n.Gamma > 0 && n.Gamma <= 10)) return false;
    return true;
}

// The colorants adapted to D50 (columns red, green, blue) and the adaptation itself.
bool Colorants(const ColourNumbers& n, Matrix& colorants, Matrix& adaptation) {
    const Vector white = XYZ(n.White[0], n.White[1]);
    Matrix primaries;
    for (int c = 0; c < 3; ++c) {
        const Vector p = XYZ(n.Primaries[2 * c], n.Primaries[2 * c + 1]);
        for (int i = 0; i < 3; ++i) primaries[i][c] = p[i];
    }
    Matrix inverse;
    if (!Invert(primaries, inverse) || !Adaptation(white, adaptation)) return false;
    const Vector scale = Apply(inverse, white);
    for (int i = 0; i < 3; ++i)
        for (int c = 0; c < 3; ++c) primaries[i][c] *= scale[c];
    colorants = Multiply(adaptation, primaries);
    // Every value must fit an s15Fixed16Number.
    for (const Matrix* m : {&colorants, &adaptation})
        for (const Vector& row : *m)
            for (double v : row)
                if (!std::isfinite(v) || std::abs(v) > 32767) return false;
    return true;
}

std::vector<uint8_t> WriteProfile(const ColourNumbers& n, const Matrix& colorants,
                                  const Matrix& adaptation) {
    struct Tag {
        const char* Signature;
        int Element;  // tags with the same element share its bytes
    };
    enum Element { Description, Copyright, White, Chad, Red, Green, Blue, Curve, Elements };
    constexpr Tag Tags[] = {{"desc", Description}, {"cprt", Copyright}, {"wtpt", White},
                            {"chad", Chad},        {"rXYZ", Red},       {"gXYZ", Green},
                            {"bXYZ", Blue},        {"rTRC", Curve},     {"gTRC", Curve},
                            {"bTRC", Curve}};
    constexpr size_t TagCount = std::size(Tags);

    ProfileBytes out;
    // Header: the size goes in at the end; no date, no profile ID (both may be zero).
    out.Zeros(4);
    out.Zeros(4);         // preferred CMM
    out.U32(0x04300000);  // version 4.3
    out.Signature("mntr");
    out.Signature("RGB ");
    out.Signature("XYZ ");
    out.Zeros(12);  // date and time
    out.Signature("acsp");
    out.Zeros(4 + 4 + 4 + 4 + 8 + 4);  // platform, flags, maker, model, attributes, intent
    for (double c : D50) out.Fixed(c);
    out.Signature("qorv");
    out.Zeros(16 + 28);  // profile ID, reserved

    out.U32(TagCount);
    const size_t table = out.Bytes.size();
    out.Zeros(TagCount * 12);

    size_t offset[Elements], size[Elements];
    for (int e = 0; e < Elements; ++e) {
        offset[e] = out.Bytes.size();
        switch (e) {
        case Description: WriteText(out, "Colour space given by numbers (qorvi)"); break;
        case Copyright: WriteText(out, "No copyright, use freely"); break;
        case White: WriteXYZ(out, D50); break;
        case Chad:
            out.Signature("sf32");
            out.Zeros(4);
            for (const Vector& row : adaptation)
                for (double v : row) out.Fixed(v);
            break;
        case Red:
        case Green:
        case Blue: {
            const int c = e - Red;
            WriteXYZ(out, {colorants[0][c], colorants[1][c], colorants[2][c]});
            break;
        }
        case Curve: WriteCurve(out, n); break;
        }
        size[e] = out.Bytes.size() - offset[e];
        out.Align();
    }
    for (size_t t = 0; t < TagCount; ++t) {
        const size_t entry = table + 12 * t;
        std::memcpy(&out.Bytes[entry], Tags[t].Signature, 4);
        out.Put(entry + 4, static_cast<uint32_t>(offset[Tags[t].Element]));
        out.Put(entry + 8, static_cast<uint32_t>(size[Tags[t].Element]));
    }
    out.Put(0, static_cast<uint32_t>(out.Bytes.size()));
    return std::move(out.Bytes);
}

const NamedPrimaries* FindPrimaries(uint16_t code) {
    for (const NamedPrimaries& p : PrimariesTable)
        if (p.Code == code) return &p;
    return nullptr;
}

}  // namespace

bool PrimariesFromCode(uint16_t code, double (&primaries)[6]) noexcept {
    const NamedPrimaries* named = FindPrimaries(code);
    if (named == nullptr) return false;
    std::copy(std::begin(named->Primaries), std::end(named->Primaries), primaries);
    return true;
}

bool NumbersFromCodePoints(const CodePoints& codes, ColourNumbers& numbers) noexcept {
    const NamedPrimaries* primaries = FindPrimaries(codes.Primaries);
    const NamedTransfer* transfer = nullptr;
    for (const NamedTransfer& t : TransferTable)
        if (t.Code == codes.Transfer) transfer = &t;
    if (primaries == nullptr || transfer == nullptr) return false;
    numbers = {};
    std::copy(std::begin(primaries->White), std::end(primaries->White), numbers.White);
    std::copy(std::begin(primaries->Primaries), std::end(primaries->Primaries), numbers.Primaries);
    numbers.Curve = transfer->Curve;
    numbers.Gamma = transfer->Gamma;
    return true;
}

ColourNumbers AdobeRGBNumbers() noexcept {
    ColourNumbers numbers{{D65[0], D65[1]}, {0.64, 0.33, 0.21, 0.71, 0.15, 0.06}};
    numbers.Curve = TransferCurve::Gamma;
    numbers.Gamma = 563.0 / 256;  // AdobeRGB (1998)'s 2.2, as its definition rounds it
    return numbers;
}

double ToneMapped(double light, double peak) noexcept {
    if (!(light > 0)) return 0;
    if (light <= ToneKnee) return light;
    if (!(peak > ToneKnee)) return std::min(light, 1.0);
    // Reinhard's curve with a white point, on the part above the knee: slope 1 at the knee, 1 at
    // the peak.
    const double t = (light - ToneKnee) / (1 - ToneKnee);
    const double top = (peak - ToneKnee) / (1 - ToneKnee);
    const double rolled = t * (1 + t / (top * top)) / (1 + t);
    return std::min(ToneKnee + (1 - ToneKnee) * rolled, 1.0);
}

double CurveValue(const ColourNumbers& numbers, double signal) noexcept {
    const double s = std::clamp(std::isfinite(signal) ? signal : 0.0, 0.0, 1.0);
    switch (numbers.Curve) {
    case TransferCurve::SRGB: return SRGBCurve(s);
    case TransferCurve::BT709: return BT709Curve(s);
    case TransferCurve::SMPTE240M: return SMPTE240MCurve(s);
    case TransferCurve::Gamma: return std::pow(s, numbers.Gamma);
    case TransferCurve::Linear: return s;
    case TransferCurve::PQ: {
        // A picture's brightest pixel may be anything up to what the signal holds; below
        // reference white it says nothing useful.
        const double peak = numbers.PeakLuminance > 0
                                ? std::clamp(numbers.PeakLuminance, ReferenceWhite, 10000.0)
                                : 10000.0;
        return ToneMapped(PQLight(s) / ReferenceWhite, peak / ReferenceWhite);
    }
    case TransferCurve::HLG:
        return ToneMapped(HLGLight(s) / ReferenceWhite, HLGPeak / ReferenceWhite);
    }
    return s;
}

bool StoreNumberedProfile(const ColourNumbers& numbers, ImageInfo& info) noexcept {
    if ((info.Flags & (HasProfileData | HasProfileBuffer)) != 0) return false;
    if (!ValidNumbers(numbers)) return false;
    Matrix colorants, adaptation;
    if (!Colorants(numbers, colorants, adaptation)) return false;
    try {
        const std::vector<uint8_t> profile = WriteProfile(numbers, colorants, adaptation);
        void* block = AllocateProfileBuffer(static_cast<uint32_t>(profile.size()));
        if (block == nullptr) return false;
        std::memcpy(block, profile.data(), profile.size());
        info.ProfileBuffer = block;
        info.ProfileSize = static_cast<int32_t>(profile.size());
        info.Flags |= HasProfileBuffer;
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool StoreCodePointProfile(const CodePoints& codes, ImageInfo& info,
                           double peakLuminance) noexcept {
    ColourNumbers numbers;
    if (!NumbersFromCodePoints(codes, numbers)) return false;
    numbers.PeakLuminance = peakLuminance;
    return StoreNumberedProfile(numbers, info);
}

}  // namespace qorvi
