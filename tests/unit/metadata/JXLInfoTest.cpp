// The JPEG XL header reader: the colour encodings of cjxl's pictures (tests/images/jxl.cmake),
// the rules real pictures never break, the container's ways of holding the codestream, and
// headers cut short or damaged. A profile is checked against the one StoreNumberedProfile writes
// for the numbers the header gives.
#include "metadata/ColourProfiles.h"
#include "metadata/ImageInfoReader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace qorvi {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes ImageFile(const std::string& name) {
    std::ifstream in(std::string(QORVI_IMAGE_FOLDER) + "/" + name, std::ios::binary);
    EXPECT_TRUE(in) << name;
    return {std::istreambuf_iterator<char>(in), {}};
}

// What ReadJXLInfo made of a file image: whether it took it, and the profile's bytes.
struct JXLRead {
    explicit JXLRead(const Bytes& file) {
        TMemoryReader reader(file.data(), uint32_t(file.size()));
        ImageInfo info{};
        Handled = ReadJXLInfo(reader, info);
        Flags = info.Flags;
        const auto* profile = static_cast<const uint8_t*>(info.ProfileBuffer);
        if (profile != nullptr) Profile.assign(profile, profile + info.ProfileSize);
        FreeProfileBuffer(info.ProfileBuffer);
    }
    bool Handled;
    uint32_t Flags;
    Bytes Profile;
};

// The profile written for `numbers`; empty when there is none to write.
Bytes ProfileOf(const std::optional<ColourNumbers>& numbers) {
    ImageInfo info{};
    if (!numbers || !StoreNumberedProfile(*numbers, info)) return {};
    const auto* profile = static_cast<const uint8_t*>(info.ProfileBuffer);
    Bytes bytes(profile, profile + info.ProfileSize);
    FreeProfileBuffer(info.ProfileBuffer);
    return bytes;
}

constexpr double D65[2] = {0.3127, 0.3290};
constexpr double WhiteE[2] = {1.0 / 3, 1.0 / 3};
constexpr double WhiteDCI[2] = {0.314, 0.351};
constexpr double WhiteD50ish[2] = {0.3457, 0.3585};
constexpr double SRGBPrimaries[6] = {0.64, 0.33, 0.30, 0.60, 0.15, 0.06};
constexpr double BT2100Primaries[6] = {0.708, 0.292, 0.170, 0.797, 0.131, 0.046};
constexpr double P3Primaries[6] = {0.680, 0.320, 0.265, 0.690, 0.150, 0.060};

ColourNumbers Numbers(const double (&white)[2], const double (&primaries)[6], TransferCurve curve,
                      double gamma = 0, double peak = 0) {
    ColourNumbers numbers{};
    std::copy(white, white + 2, numbers.White);
    std::copy(primaries, primaries + 6, numbers.Primaries);
    numbers.Curve = curve;
    numbers.Gamma = gamma;
    numbers.PeakLuminance = peak;
    return numbers;
}

// extras.jxl's colours (make-jxl-header.py), with and without its tone mapping's peak.
const ColourNumbers ExtrasColours = Numbers(WhiteD50ish, P3Primaries, TransferCurve::PQ, 0, 4000);
const ColourNumbers ExtrasWithoutPeak = Numbers(WhiteD50ish, P3Primaries, TransferCurve::PQ);

TEST(JXLInfo, PicturesOfCjxl) {
    using enum TransferCurve;
    const struct {
        const char* File;
        std::optional<ColourNumbers> Colours;  // none: nothing stored
    } cases[] = {
        {"p3.jxl", Numbers(D65, P3Primaries, SRGB)},
        {"orient6.jxl", std::nullopt},  // sRGB by default
        {"alpha.jxl", Numbers(D65, SRGBPrimaries, Gamma, 1e7 / 4545500)},
        {"anim.jxl", Numbers(D65, SRGBPrimaries, SRGB)},
        {"grey.jxl", Numbers(WhiteDCI, SRGBPrimaries, BT709)},
        {"hlg.jxl", Numbers(D65, BT2100Primaries, HLG)},
        {"pq.jxl", Numbers(D65, BT2100Primaries, PQ, 0, 1000)},
        {"pq-lossy.jxl", Numbers(D65, BT2100Primaries, PQ)},  // no tone mapping to read
        {"dci.jxl", Numbers(WhiteDCI, P3Primaries, Gamma, 2.6)},
        {"linear-e.jxl", Numbers(WhiteE, SRGBPrimaries, Linear)},
        {"custom.jxl",
         Numbers(WhiteD50ish, {0.67, 0.33, 0.21, 0.71, 0.14, 0.08}, Gamma, 1e7 / 5555600)},
        {"icc.jxl", std::nullopt},  // the ICC profile is compressed
        {"extras.jxl", ExtrasColours},
    };
    for (const auto& c : cases) {
        const JXLRead read(ImageFile(c.File));
        EXPECT_TRUE(read.Handled) << c.File;
        EXPECT_EQ(read.Flags, c.Colours ? uint32_t{HasProfileBuffer} : 0u) << c.File;
        EXPECT_EQ(read.Profile, ProfileOf(c.Colours)) << c.File;
    }
}

// A bare codestream: an 8x8 header of 8-bit samples, then a colour encoding that is neither
// the default nor an ICC profile, of the fields given, and what follows it.
class HeaderWriter {
public:
    HeaderWriter() {
        Put(16, 0x0AFF);
        Put(9, 0b001'00000'1);  // small, 8 high, 1:1
        Put(8, 0b000000'1'0);  // extra fields: orientation 1, no intrinsic size, preview, animation
        Put(7, 0b0'00'1'00'0);  // 8-bit integers, 16-bit buffers, no extra channel, not XYB
        Put(2, 0b00);           // colour encoding: not all_default, no ICC profile
    }
    // `count` bits of `value`, least significant first.
    void Put(unsigned count, uint32_t value) {
        for (unsigned i = 0; i < count; ++i, ++Count) {
            if (Count % 8 == 0) Out.push_back(0);
            Out.back() |= uint8_t((value >> i & 1) << (Count % 8));
        }
    }
    Bytes Out;

private:
    unsigned Count = 0;
};

// A field: raw bits, an Enum or a custom coordinate.
struct Field {
    enum { Raw, Enum, XY } Coding;
    unsigned Bits;
    int32_t Value;
};
constexpr Field Flag(bool value) { return {Field::Raw, 1, value}; }
constexpr Field Enum(int32_t value) { return {Field::Enum, 0, value}; }
constexpr Field GammaField(int32_t value) { return {Field::Raw, 24, value}; }
constexpr Field F16(uint16_t bits) { return {Field::Raw, 16, bits}; }
constexpr Field XY(int32_t millionths) { return {Field::XY, 0, millionths}; }

Bytes Header(const std::vector<Field>& fields) {
    HeaderWriter out;
    for (const Field& f : fields) {
        if (f.Coding == Field::Raw) {
            out.Put(f.Bits, uint32_t(f.Value));
            continue;
        }
        if (f.Coding == Field::Enum) {  // Val(0), Val(1), BitsOffset(4, 2), BitsOffset(6, 18)
            const auto value = uint32_t(f.Value);
            if (value < 2) {
                out.Put(2, value);
            } else if (value < 18) {
                out.Put(2, 2);
                out.Put(4, value - 2);
            } else {
                out.Put(2, 3);
                out.Put(6, value - 18);
            }
            continue;
        }
        // The sign in the lowest bit, then BitsOffset(19, 0), (19, 524288) or (20, 1048576).
        const uint32_t packed = f.Value >= 0 ? 2 * uint32_t(f.Value) : 2 * uint32_t(-f.Value) - 1;
        const uint32_t offsets[] = {0, 524288, 1048576};
        const unsigned selector = packed < offsets[1] ? 0 : packed < offsets[2] ? 1 : 2;
        out.Put(2, selector);
        out.Put(selector == 2 ? 20 : 19, packed - offsets[selector]);
    }
    return out.Out;
}

// What the rules say of encodings no cjxl picture has.
TEST(JXLInfo, ColourEncodingRules) {
    using enum TransferCurve;
    const Field RGB = Enum(0), Grey = Enum(1), D65White = Enum(1), SRGBCoded = Enum(1);
    const Field Relative = Enum(1), NoGamma = Flag(false), HaveGamma = Flag(true);
    const Field SRGBTransfer = Enum(13), PQTransfer = Enum(16), Mapped = Flag(false);
    const struct {
        const char* Name;
        std::vector<Field> Fields;
        std::optional<ColourNumbers> Colours;  // none: nothing stored
    } cases[] = {
        {"a negative coordinate",
         {Grey, Enum(2), XY(-12345), XY(358500), NoGamma, SRGBTransfer, Relative},
         Numbers({-0.012345, 0.3585}, SRGBPrimaries, SRGB)},
        {"gamma field 1e7",
         {RGB, D65White, SRGBCoded, HaveGamma, GammaField(10000000), Relative},
         Numbers(D65, SRGBPrimaries, Gamma, 1)},
        {"gamma field 0", {RGB, D65White, SRGBCoded, HaveGamma, GammaField(0), Relative}, {}},
        {"gamma field past 1e7",
         {RGB, D65White, SRGBCoded, HaveGamma, GammaField(10000001), Relative},
         {}},
        {"unknown transfer", {RGB, D65White, SRGBCoded, NoGamma, Enum(2), Relative}, {}},
        {"XYB colour space", {Enum(2), NoGamma, SRGBTransfer, Relative}, {}},
        {"unknown colour space",
         {Enum(3), D65White, SRGBCoded, NoGamma, SRGBTransfer, Relative},
         {}},
        {"colour space out of range", {Enum(4)}, {}},
        {"white point out of range",
         {RGB, Enum(3), SRGBCoded, NoGamma, SRGBTransfer, Relative},
         {}},
        {"primaries out of range", {RGB, D65White, Enum(10), NoGamma, SRGBTransfer, Relative}, {}},
        {"transfer out of range", {RGB, D65White, SRGBCoded, NoGamma, Enum(14), Relative}, {}},
        {"rendering intent out of range",
         {RGB, D65White, SRGBCoded, NoGamma, SRGBTransfer, Enum(4)},
         {}},
        {"PQ, intensity target 1000",
         {RGB, D65White, SRGBCoded, NoGamma, PQTransfer, Relative, Mapped, F16(0x63D0), F16(0),
          Flag(false), F16(0)},
         Numbers(D65, SRGBPrimaries, PQ, 0, 1000)},
        {"PQ, tone mapping by default",
         {RGB, D65White, SRGBCoded, NoGamma, PQTransfer, Relative, Flag(true)},
         Numbers(D65, SRGBPrimaries, PQ)},
        {"PQ, intensity target not a number",
         {RGB, D65White, SRGBCoded, NoGamma, PQTransfer, Relative, Mapped, F16(0x7E00), F16(0),
          Flag(false), F16(0)},
         Numbers(D65, SRGBPrimaries, PQ)},
        {"PQ, tone mapping cut short",
         {RGB, D65White, SRGBCoded, NoGamma, PQTransfer, Relative, Mapped, F16(0x63D0)},
         Numbers(D65, SRGBPrimaries, PQ)},
    };
    for (const auto& c : cases) {
        const JXLRead read(Header(c.Fields));
        EXPECT_TRUE(read.Handled) << c.Name;
        EXPECT_EQ(read.Profile, ProfileOf(c.Colours)) << c.Name;
    }
}

// Containers around extras.jxl's codestream, all of it header.
Bytes BigEndian(uint64_t value, int bytes) {
    Bytes out;
    for (int i = bytes - 1; i >= 0; --i) out.push_back(uint8_t(value >> (8 * i)));
    return out;
}

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

Bytes Box(const char* type, const Bytes& payload, std::optional<uint32_t> size = {}) {
    return Join({BigEndian(size.value_or(uint32_t(8 + payload.size())), 4), Bytes(type, type + 4),
                 payload});
}

Bytes Part(uint32_t index, const Bytes& codestream, size_t from, size_t to) {
    return Box("jxlp", Join({BigEndian(index, 4),
                             Bytes(codestream.begin() + from, codestream.begin() + to)}));
}

const Bytes ContainerStart =
    Join({{0, 0, 0, 12, 'J', 'X', 'L', ' ', 0x0D, 0x0A, 0x87, 0x0A},
          Box("ftyp", {'j', 'x', 'l', ' ', 0, 0, 0, 0, 'j', 'x', 'l', ' '})});

TEST(JXLInfo, ContainerBoxes) {
    const Bytes cs = ImageFile("extras.jxl");
    const size_t n = cs.size();
    constexpr uint32_t Last = 0x80000000;
    const Bytes exif = Box("Exif", {0, 0, 0, 0, 'M', 'M', 0, 42});
    const struct {
        const char* Name;
        Bytes Boxes;
        bool Found;
    } cases[] = {
        {"jxlc", Box("jxlc", cs), true},
        {"jxlc after another box", Join({exif, Box("jxlc", cs)}), true},
        {"jxlc of size 0, to the end", Box("jxlc", cs, 0), true},
        {"jxlc with a 64-bit size",
         Join({BigEndian(1, 4), Bytes{'j', 'x', 'l', 'c'}, BigEndian(16 + n, 8), cs}), true},
        {"jxlc larger than the file", Box("jxlc", cs, uint32_t(n + 1000)), true},
        {"a box smaller than its header", Join({Box("Exif", {}, 7), Box("jxlc", cs)}), false},
        {"a 64-bit size smaller than its header",
         Join({BigEndian(1, 4), Bytes{'E', 'x', 'i', 'f'}, BigEndian(15, 8), Box("jxlc", cs)}),
         false},
        {"jxlp in one part", Part(Last, cs, 0, n), true},
        {"jxlp in parts of one byte, with empty parts",
         [&] {
             Bytes boxes;
             for (uint32_t i = 0; i < n; ++i)
                 boxes = Join({boxes, Part(2 * i, cs, i, i + 1), Part(2 * i + 1, cs, i, i)});
             return Join({boxes, Part(Last | uint32_t(2 * n), cs, n, n)});
         }(),
         true},
        {"jxlp parts out of turn", Join({Part(1, cs, 0, 40), Part(Last, cs, 40, n)}), false},
        {"jxlp marked last too early", Join({Part(Last, cs, 0, 40), Part(1, cs, 40, n)}), false},
        {"jxlp shorter than its index", Join({Box("jxlp", {0, 0}), Part(Last, cs, 0, n)}), false},
        {"jxlc among jxlp parts",
         Join({Part(0, cs, 0, 40), Box("jxlc", {}), Part(Last | 1, cs, 40, n)}), true},
        {"no codestream", exif, false},
    };
    for (const auto& c : cases) {
        const JXLRead read(Join({ContainerStart, c.Boxes}));
        EXPECT_TRUE(read.Handled) << c.Name;
        EXPECT_EQ(read.Profile, c.Found ? ProfileOf(ExtrasColours) : Bytes{}) << c.Name;
    }
    // Split anywhere, even inside the signature, with other boxes between the parts.
    for (size_t split = 0; split <= n; ++split) {
        const Bytes file =
            Join({ContainerStart, Part(0, cs, 0, split), exif, Part(Last | 1, cs, split, n)});
        EXPECT_EQ(JXLRead(file).Profile, ProfileOf(ExtrasColours)) << "split at " << split;
    }
}

// Every prefix of a picture is taken once its signature is whole, and reads as the picture or as
// nothing; for PQ, the profile may lack the peak the tone mapping gives when the file ends inside
// it.
TEST(JXLInfo, CutShort) {
    const struct {
        const char* File;
        Bytes Whole, WithoutPeak;
    } cases[] = {
        {"extras.jxl", ProfileOf(ExtrasColours), ProfileOf(ExtrasWithoutPeak)},
        {"pq.jxl", ProfileOf(Numbers(D65, BT2100Primaries, TransferCurve::PQ, 0, 1000)),
         ProfileOf(Numbers(D65, BT2100Primaries, TransferCurve::PQ))},
        {"orient6.jxl", {}, {}},
        {"custom.jxl", JXLRead(ImageFile("custom.jxl")).Profile, {}},
    };
    for (const auto& c : cases) {
        const Bytes file = ImageFile(c.File);
        const size_t signature = file[0] == 0xFF ? 2 : 12;
        for (size_t size = 0; size < file.size(); ++size) {
            const JXLRead read(Bytes(file.begin(), file.begin() + size));
            EXPECT_EQ(read.Handled, size >= signature) << c.File << " " << size;
            const bool known = read.Profile.empty() || read.Profile == c.Whole ||
                               (!c.WithoutPeak.empty() && read.Profile == c.WithoutPeak);
            EXPECT_TRUE(known) << c.File << " cut to " << size;
        }
    }
}

// Bits flipped in the header and the boxes: the reader still takes the file, stays inside it
// (AddressSanitizer) and stores a written profile or nothing.
TEST(JXLInfo, FlippedBits) {
    std::mt19937 random(7);
    for (const char* name : {"extras.jxl", "p3.jxl", "orient6.jxl", "custom.jxl"}) {
        const Bytes file = ImageFile(name);
        const size_t first = file[0] == 0xFF ? 2 : 12;
        const size_t end = std::min<size_t>(file.size(), first + 96);
        for (int round = 0; round < 2000; ++round) {
            Bytes damaged = file;
            for (int flips = 1 + round % 3; flips > 0; --flips) {
                const size_t bit = first * 8 + random() % ((end - first) * 8);
                damaged[bit / 8] ^= uint8_t(1 << bit % 8);
            }
            const JXLRead read(damaged);
            ASSERT_TRUE(read.Handled) << name;
            ASSERT_EQ(read.Flags, read.Profile.empty() ? 0u : uint32_t{HasProfileBuffer}) << name;
        }
    }
}

}  // namespace
}  // namespace qorvi
