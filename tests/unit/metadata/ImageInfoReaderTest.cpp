// The metadata readers over byte streams built here: JPEG segments, TIFF directories in both byte
// orders, PNG signatures, and the ways a hostile file can lie.
#include "metadata/ColourProfiles.h"
#include "metadata/ImageInfoReader.h"
#include "tests/unit/metadata/ReadImage.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <utility>
#include <vector>

namespace qorvi {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes Pattern(size_t size, uint8_t seed) {
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 7);
    return bytes;
}

// Values in a file's byte order.
struct ByteOrder {
    bool Big;
    Bytes U16(uint16_t v) const {
        return Big ? Bytes{uint8_t(v >> 8), uint8_t(v)} : Bytes{uint8_t(v), uint8_t(v >> 8)};
    }
    Bytes U32(uint32_t v) const {
        return Big ? Bytes{uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)}
                   : Bytes{uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
    }
    Bytes Rational(uint32_t numerator, uint32_t denominator) const {
        return Concat(U32(numerator), U32(denominator));
    }
    // The word written first is the high half in a big-endian file.
    Bytes Double(double value) const {
        const auto bits = std::bit_cast<uint64_t>(value);
        const auto high = uint32_t(bits >> 32), low = uint32_t(bits);
        return Big ? Concat(U32(high), U32(low)) : Concat(U32(low), U32(high));
    }
};

// A TIFF with a first directory and optionally an Exif directory. Values of up to 4 bytes sit in
// the entry, longer ones in a data area after the directories.
class TiffBuilder {
public:
    explicit TiffBuilder(bool bigEndian) : Order{bigEndian} {}

    TiffBuilder& Entry(uint16_t tag, uint16_t type, uint32_t count, Bytes value) {
        First.push_back({tag, type, count, std::move(value)});
        return *this;
    }
    TiffBuilder& Short(uint16_t tag, uint16_t value) { return Entry(tag, 3, 1, Order.U16(value)); }
    TiffBuilder& ExifEntry(uint16_t tag, uint16_t type, uint32_t count, Bytes value) {
        Exif.push_back({tag, type, count, std::move(value)});
        return *this;
    }
    // An entry whose 4-byte field holds exactly these bytes (an offset of our choosing).
    TiffBuilder& RawEntry(uint16_t tag, uint16_t type, uint32_t count, uint32_t field) {
        First.push_back({tag, type, count, Order.U32(field), true});
        return *this;
    }

    Bytes Build() const {
        const uint32_t firstSize = DirectorySize(First.size() + (Exif.empty() ? 0 : 1));
        const uint32_t exifAt = 8 + firstSize;
        uint32_t dataAt = exifAt + (Exif.empty() ? 0 : DirectorySize(Exif.size()));
        Bytes data;
        Bytes out =
            Concat(Order.Big ? Text("MM") : Text("II"), Concat(Order.U16(42), Order.U32(8)));
        auto directory = [&](std::vector<DirectoryEntry> entries) {
            Bytes bytes = Order.U16(uint16_t(entries.size()));
            for (const DirectoryEntry& entry : entries) {
                bytes = Concat(bytes, Concat(Order.U16(entry.Tag), Concat(Order.U16(entry.Type),
                                                                          Order.U32(entry.Count))));
                Bytes field = entry.Value;
                if (!entry.Raw && field.size() > 4) {
                    field = Order.U32(dataAt + uint32_t(data.size()));
                    data = Concat(data, entry.Value);
                }
                field.resize(4);
                bytes = Concat(bytes, field);
            }
            return Concat(bytes, Order.U32(0));
        };
        std::vector<DirectoryEntry> first = First;
        if (!Exif.empty()) first.push_back({0x8769, 4, 1, Order.U32(exifAt)});
        out = Concat(out, directory(first));
        if (!Exif.empty()) out = Concat(out, directory(Exif));
        return Concat(out, data);
    }

    ByteOrder Order;

private:
    struct DirectoryEntry {
        uint16_t Tag, Type;
        uint32_t Count;
        Bytes Value;
        bool Raw = false;
    };
    static uint32_t DirectorySize(size_t entries) { return uint32_t(2 + 12 * entries + 4); }
    std::vector<DirectoryEntry> First, Exif;
};

// A JPEG's segments up to the picture data.
class JpegBuilder {
public:
    JpegBuilder& Segment(uint16_t marker, const Bytes& payload) {
        const auto length = uint16_t(payload.size() + 2);
        Out = Concat(Out, Concat({uint8_t(marker >> 8), uint8_t(marker), uint8_t(length >> 8),
                                  uint8_t(length)},
                                 payload));
        return *this;
    }
    JpegBuilder& Icc(uint8_t sequence, uint8_t count, const Bytes& data) {
        return Segment(
            0xFFE2,
            Concat(Concat(Text(std::string("ICC_PROFILE") + '\0'), {sequence, count}), data));
    }
    JpegBuilder& Exif(const Bytes& tiff) {
        return Segment(0xFFE1, Concat(Text(std::string("Exif\0\0", 6)), tiff));
    }
    JpegBuilder& Other() { return Segment(0xFFDB, Pattern(67, 1)); }
    // The scan header and a little entropy-coded data, then the end.
    Bytes Finish() const { return Concat(Out, {0xFF, 0xDA, 0x00, 0x02, 0x12, 0x34, 0xFF, 0xD9}); }
    Bytes Unfinished() const { return Out; }

private:
    Bytes Out = Text("\xFF\xD8");
};

Bytes OrientationExif(uint16_t orientation, bool bigEndian = false) {
    return TiffBuilder(bigEndian).Short(0x0112, orientation).Build();
}

TEST(JPEGInfo, JoinsTheProfileSegmentsInSequence) {
    const Bytes a = Pattern(100, 1), b = Pattern(60, 2), c = Pattern(33, 3);
    struct Case {
        const char* Name;
        Bytes File;
        uint32_t Flags;
        Bytes Profile;
    } cases[] = {
        {"1 of 1 points into the file", JpegBuilder().Other().Icc(1, 1, a).Finish(), HasProfileData,
         a},
        {"1 and 2 of 2, other segments between",
         JpegBuilder().Icc(1, 2, a).Other().Segment(0xFFE1, Pattern(30, 9)).Icc(2, 2, b).Finish(),
         HasProfileBuffer, Concat(a, b)},
        {"2 of 2 before 1 of 2", JpegBuilder().Icc(2, 2, b).Icc(1, 2, a).Finish(), 0, {}},
        {"1 and 2 of 3, then the scan", JpegBuilder().Icc(1, 3, a).Icc(2, 3, b).Finish(),
         HasProfileBuffer, Concat(a, b)},
        {"a later count differs", JpegBuilder().Icc(1, 3, a).Icc(2, 2, b).Icc(3, 3, c).Finish(),
         HasProfileBuffer, a},
        {"count 0", JpegBuilder().Icc(0, 0, a).Finish(), 0, {}},
        {"sequence past the count", JpegBuilder().Icc(1, 1, a).Icc(2, 1, b).Finish(),
         HasProfileData, a},
        {"a repeated sequence number ends it",
         JpegBuilder().Icc(1, 3, a).Icc(1, 3, b).Icc(2, 3, c).Finish(), HasProfileBuffer, a},
        {"segments of no data", JpegBuilder().Icc(1, 2, {}).Icc(2, 2, {}).Finish(), 0, {}},
        {"another identifier between",
         JpegBuilder()
             .Icc(1, 2, a)
             .Segment(0xFFE2, Concat(Text("ICC_PROFILX"), Pattern(20, 0)))
             .Icc(2, 2, b)
             .Finish(),
         HasProfileBuffer, Concat(a, b)},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.Name);
        const ImageReadFixture read(test.File);
        EXPECT_EQ(read.Info.Flags, test.Flags);
        EXPECT_EQ(read.Profile(), test.Profile);
        if (test.Flags == HasProfileData) {
            EXPECT_TRUE(read.PointsIntoFile());
        }
        if (test.Flags == 0) {
            EXPECT_EQ(read.Info.ProfileSize, 0);
        }
    }
}

TEST(JPEGInfo, ReadsTheExifBeforeTheProfileOnly) {
    const Bytes profile = Pattern(40, 5);
    const ImageReadFixture before(
        JpegBuilder().Exif(OrientationExif(6)).Icc(1, 1, profile).Finish());
    EXPECT_EQ(before.Info.Orientation, 6);
    EXPECT_EQ(before.Info.Flags, HasOrientation | HasProfileData);

    const ImageReadFixture after(
        JpegBuilder().Icc(1, 1, profile).Exif(OrientationExif(6)).Finish());
    EXPECT_EQ(after.Info.Orientation, 0);
    EXPECT_EQ(after.Info.Flags, HasProfileData);
    EXPECT_EQ(after.Profile(), profile);

    // Only the first Exif segment counts; big-endian Exif data reads as well.
    const ImageReadFixture two(
        JpegBuilder().Exif(OrientationExif(3, true)).Exif(OrientationExif(8)).Finish());
    EXPECT_EQ(two.Info.Orientation, 3);
}

TEST(JPEGInfo, IgnoresTheProfileTagInsideExif) {
    TiffBuilder exif(false);
    exif.Short(0x0112, 5).Entry(0x8773, 7, 40, Pattern(40, 1));
    const ImageReadFixture read(JpegBuilder().Exif(exif.Build()).Finish());
    EXPECT_EQ(read.Info.Flags, HasOrientation);
    EXPECT_EQ(read.Info.ProfileData, nullptr);
}

TEST(JPEGInfo, KeepsWhatWasWholeWhenTheFileBreaksOff) {
    const Bytes a = Pattern(100, 1), b = Pattern(60, 2);
    // Ends right after the profile, before any picture data: the profile and the Exif stay.
    const ImageReadFixture ended(
        JpegBuilder().Exif(OrientationExif(7)).Icc(1, 2, a).Icc(2, 2, b).Unfinished());
    EXPECT_EQ(ended.Info.Flags, HasOrientation | HasProfileBuffer);
    EXPECT_EQ(ended.Profile(), Concat(a, b));

    // Ends inside the second segment: that segment is not taken, no byte past the end is read.
    Bytes cut = JpegBuilder().Icc(1, 2, a).Icc(2, 2, b).Unfinished();
    cut.resize(cut.size() - 10);
    const ImageReadFixture inside(cut);
    EXPECT_EQ(inside.Info.Flags, HasProfileBuffer);
    EXPECT_EQ(inside.Profile(), a);

    // A single segment cut short is no profile at all.
    Bytes single = JpegBuilder().Icc(1, 1, a).Unfinished();
    single.resize(single.size() - 1);
    const ImageReadFixture none(single);
    EXPECT_EQ(none.Info.Flags, 0u);
    EXPECT_EQ(none.Info.ProfileData, nullptr);
}

TEST(JPEGInfo, EndsOnLengthsThatCannotBeSkipped) {
    // A length below 2 ends the segments: handled as JPEG, so the WIC reader is not asked.
    static int wicCalls;
    wicCalls = 0;
    const ImageInfoEngine engine{nullptr, [](ImageInfo*, const void*, int32_t) {
                                     ++wicCalls;
                                     return 1;
                                 }};
    for (uint8_t length : {0, 1}) {
        Bytes file = JpegBuilder().Exif(OrientationExif(2)).Unfinished();
        file = Concat(file, {0xFF, 0xE2, 0x00, length, 0x00, 0x00});
        const ImageReadFixture read(file, engine);
        EXPECT_EQ(read.Info.Orientation, 2);
    }
    EXPECT_EQ(wicCalls, 0);
    // No JPEG: a missing start marker or a first marker without 0xFF goes on to the next reader.
    ImageReadFixture(Bytes{0xFF, 0xD8, 0x12, 0x34}, engine);
    ImageReadFixture(Bytes{0xFF, 0xD9, 0xFF, 0xD9}, engine);
    EXPECT_EQ(wicCalls, 2);
}

TEST(JPEGInfo, AllocationFailureLeavesNoProfile) {
    const ProfileAllocation previous =
        ReplaceProfileAllocation([](uint32_t) -> void* { return nullptr; });
    const ImageReadFixture read(JpegBuilder()
                                    .Exif(OrientationExif(4))
                                    .Icc(1, 2, Pattern(10, 1))
                                    .Icc(2, 2, Pattern(10, 2))
                                    .Finish());
    ReplaceProfileAllocation(previous);
    EXPECT_EQ(read.Info.Flags, HasOrientation);
    EXPECT_EQ(read.Info.ProfileBuffer, nullptr);
    EXPECT_EQ(read.Info.ProfileSize, 0);
}

class TIFFInfo : public testing::TestWithParam<bool> {};

TEST_P(TIFFInfo, ReadsTheFirstAndTheExifDirectory) {
    TiffBuilder tiff(GetParam());
    const ByteOrder& order = tiff.Order;
    const Bytes profile = Pattern(48, 3);
    tiff.Short(0x0100, 64)
        .Short(0x0112, 6)
        .Entry(0x013E, 5, 2, Concat(order.Rational(3127, 10000), order.Rational(3290, 10000)))
        .Entry(0x013F, 12, 6,
               Concat(Concat(Concat(order.Double(0.64), order.Double(0.33)),
                             Concat(order.Double(0.3), order.Double(0.6))),
                      Concat(order.Double(0.15), order.Double(0.06))))
        .Entry(0x8773, 7, uint32_t(profile.size()), profile)
        .ExifEntry(0xA001, 3, 1, order.U16(1))
        .ExifEntry(0xA500, 5, 1, order.Rational(22, 10));
    const ImageReadFixture read(tiff.Build());
    const ImageInfo& info = read.Info;
    EXPECT_EQ(info.Flags, HasWhitePoint | HasPrimaries | HasGamma | HasOrientation |
                              HasProfileData | HasColorSpace);
    EXPECT_EQ(info.Orientation, 6);
    EXPECT_DOUBLE_EQ(info.WhitePointX, 0.3127);
    EXPECT_DOUBLE_EQ(info.WhitePointY, 0.329);
    const double primaries[] = {info.RedX,   info.RedY,  info.GreenX,
                                info.GreenY, info.BlueX, info.BlueY};
    const double expected[] = {0.64, 0.33, 0.3, 0.6, 0.15, 0.06};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(primaries[i], expected[i]) << i;
    EXPECT_DOUBLE_EQ(info.Gamma, 2.2);
    EXPECT_EQ(info.ColorSpace, 1);
    EXPECT_EQ(read.Profile(), profile);
    EXPECT_TRUE(read.PointsIntoFile());
}

TEST_P(TIFFInfo, UnexpectedCountsEndTheWalkAndKeepWhatWasRead) {
    static int wicCalls;
    wicCalls = 0;
    const ImageInfoEngine engine{nullptr, [](ImageInfo*, const void*, int32_t) {
                                     ++wicCalls;
                                     return 0;
                                 }};
    TiffBuilder tiff(GetParam());
    tiff.Entry(0xA001, 3, 1, tiff.Order.U16(1))  // not a tag of this directory
        .Entry(0x013E, 5, 2, Concat(tiff.Order.Rational(1, 3), tiff.Order.Rational(1, 3)))
        .Entry(0x0112, 3, 2, Concat(tiff.Order.U16(6), tiff.Order.U16(6)))
        .Short(0x0112, 3);
    const ImageReadFixture read(tiff.Build(), engine);
    EXPECT_EQ(read.Info.Orientation, 0);
    EXPECT_EQ(read.Info.Flags, HasWhitePoint);
    EXPECT_EQ(read.Info.ColorSpace, 0);
    EXPECT_EQ(wicCalls, 1);  // not handled: the engine's reader is tried next
}

TEST_P(TIFFInfo, DropsProfilesOutsideTheFile) {
    // Header and a directory of two entries: 38 bytes, and the profile's range is not checked
    // against anything but them.
    constexpr uint32_t FileSize = 8 + 2 + 2 * 12 + 4;
    struct Case {
        uint32_t Count, Offset;
        bool Taken;
    } cases[] = {{FileSize - 8, 8, true}, {FileSize - 7, 8, false}, {1, FileSize, false},
                 {1, 0xFFFFFFFF, false},  {0xFFFFFFF0, 16, false},  {0, 8, false},
                 {0x80000000, 0, false}};
    for (const Case& test : cases) {
        SCOPED_TRACE(testing::Message() << test.Count << " at " << test.Offset);
        TiffBuilder tiff(GetParam());
        tiff.RawEntry(0x8773, 7, test.Count, test.Offset).Short(0x0112, 8);
        const ImageReadFixture read(tiff.Build());
        ASSERT_EQ(read.File.size(), FileSize);
        EXPECT_EQ(read.Info.Flags, test.Taken ? HasOrientation | HasProfileData : HasOrientation);
        if (test.Taken) {
            EXPECT_TRUE(read.PointsIntoFile());
        } else {
            EXPECT_EQ(read.Info.ProfileData, nullptr);
        }
    }
}

TEST_P(TIFFInfo, HostileOffsetsEndTheWalk) {
    const bool big = GetParam();
    const ByteOrder order{big};
    const Bytes header = Concat(big ? Text("MM") : Text("II"), order.U16(42));
    // The first directory past the end, or wrapping round to the header.
    EXPECT_FALSE(ImageReadFixture(Concat(header, order.U32(1000))).Info.Flags);
    // At base 4, an offset of 2^32 - 4 would wrap round to a "directory" of 0 entries at 0.
    Bytes wrapped = Concat(Bytes(4), Concat(header, order.U32(0xFFFFFFFC)));
    TMemoryReader reader(wrapped.data(), uint32_t(wrapped.size()));
    ImageInfo info{};
    EXPECT_FALSE(ReadTIFFInfo(reader, 4, info));

    // An Exif directory that is the first directory itself: walked once, then the walk goes on.
    TiffBuilder self(big);
    self.RawEntry(0x8769, 4, 1, 8).Short(0x0112, 2);
    const ImageReadFixture loop(self.Build());
    EXPECT_EQ(loop.Info.Orientation, 2);

    // A directory claiming 65535 entries in a short file.
    Bytes many = Concat(Concat(header, order.U32(8)), order.U16(0xFFFF));
    many = Concat(
        many, Concat(order.U16(0x0112),
                     Concat(order.U16(3), Concat(order.U32(1), order.U32(5 << (big ? 16 : 0))))));
    const ImageReadFixture truncated(many);
    EXPECT_EQ(truncated.Info.Orientation, 5);
    EXPECT_EQ(truncated.Info.Flags, HasOrientation);
}

INSTANTIATE_TEST_SUITE_P(ByteOrders, TIFFInfo, testing::Bool(), [](const auto& info) {
    return info.param ? "BigEndian" : "LittleEndian";
});

TEST(TIFFValues, ReadEachTypeInBothByteOrders) {
    for (bool big : {false, true}) {
        SCOPED_TRACE(big ? "big-endian" : "little-endian");
        const ByteOrder order{big};
        const auto integer = [&](uint16_t type, Bytes bytes) {
            TMemoryReader reader(bytes.data(), uint32_t(bytes.size()));
            return ReadTIFFValue(reader, type, big);
        };
        EXPECT_EQ(integer(1, {0xF0}), 240);
        EXPECT_EQ(integer(6, {0xF0}), -16);
        EXPECT_EQ(integer(3, order.U16(0xFFFE)), 65534);
        EXPECT_EQ(integer(8, order.U16(0xFFFE)), -2);
        EXPECT_EQ(integer(4, order.U32(0x80000001)), int32_t(0x80000001));
        EXPECT_EQ(integer(9, order.U32(0xFFFFFFFF)), -1);

        const auto real = [&](uint16_t type, Bytes bytes) {
            TMemoryReader reader(bytes.data(), uint32_t(bytes.size()));
            return ReadTIFFReal(reader, type, big);
        };
        EXPECT_EQ(real(5, order.Rational(0xFFFFFFFF, 1)), 4294967295.0);
        EXPECT_EQ(real(10, order.Rational(uint32_t(-3), 4)), -0.75);
        EXPECT_EQ(real(11, order.U32(std::bit_cast<uint32_t>(0.5f))), 0.5);
        EXPECT_EQ(real(12, order.Double(-1.0 / 3)), -1.0 / 3);
        // Nothing non-finite is ever returned.
        EXPECT_EQ(real(5, order.Rational(7, 0)), 0.0);
        EXPECT_EQ(real(10, order.Rational(uint32_t(-7), 0)), 0.0);
        EXPECT_EQ(real(11, order.U32(0x7FC00000)), 0.0);
        EXPECT_EQ(real(12, order.Double(std::numeric_limits<double>::infinity())), 0.0);

        for (uint16_t type : {0, 2, 7, 13, 0xFFFF}) {
            EXPECT_THROW(integer(type, order.Double(1)), EReadError) << type;
            EXPECT_THROW(real(type, order.Double(1)), EReadError) << type;
        }
        for (uint16_t type : {5, 10, 11, 12})
            EXPECT_THROW(integer(type, order.Double(1)), EReadError) << type;
        for (uint16_t type : {1, 3, 4, 6, 8, 9})
            EXPECT_THROW(real(type, order.Double(1)), EReadError) << type;
        EXPECT_THROW(real(12, Bytes(7)), EReadError);
    }
}

TEST(PNGInfo, GoesToTheEngineOrCountsAsHandled) {
    const Bytes png = Concat({0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}, Pattern(30, 1));
    static int wicCalls, pngCalls;
    static PNGSource seen;
    static int pngResult;
    wicCalls = pngCalls = 0;
    const auto wic = [](ImageInfo*, const void*, int32_t) {
        ++wicCalls;
        return 1;
    };
    const auto readPng = [](ImageInfo* info, PNGSource* source) {
        ++pngCalls;
        seen = *source;
        info->Gamma = 1 / 2.2;
        return pngResult;
    };

    // Without the engine's PNG reader: handled, the record empty, nothing else tried.
    const ImageReadFixture plain(png, ImageInfoEngine{nullptr, wic});
    EXPECT_EQ(plain.Info.Flags, 0u);
    EXPECT_EQ(wicCalls, 0);

    pngResult = 1;
    const ImageReadFixture handled(png, ImageInfoEngine{readPng, wic});
    EXPECT_EQ(pngCalls, 1);
    EXPECT_EQ(seen.Data, handled.File.data());
    EXPECT_EQ(seen.Position, 0);
    EXPECT_EQ(seen.Size, int32_t(png.size()));
    EXPECT_EQ(wicCalls, 0);

    pngResult = 0;
    ImageReadFixture(png, ImageInfoEngine{readPng, wic});
    EXPECT_EQ(wicCalls, 1);

    // A damaged signature or fewer than 8 bytes: not a PNG, on to the last resort.
    Bytes damaged = png;
    damaged[5] = 0;
    ImageReadFixture(damaged, ImageInfoEngine{readPng, wic});
    ImageReadFixture(Bytes(png.begin(), png.begin() + 6), ImageInfoEngine{readPng, wic});
    ImageReadFixture(Bytes{}, ImageInfoEngine{readPng, wic});
    EXPECT_EQ(pngCalls, 2);
    EXPECT_EQ(wicCalls, 4);
}

TEST(ImageInfo, TheLastResortSeesTheWholeImage) {
    static const void* seenData;
    static int32_t seenSize;
    const ImageInfoEngine engine{nullptr, [](ImageInfo* info, const void* data, int32_t size) {
                                     seenData = data;
                                     seenSize = size;
                                     info->Orientation = 3;
                                     return 0;
                                 }};
    const ImageReadFixture read(Text("GIF89a........"), engine);
    EXPECT_EQ(seenData, read.File.data());
    EXPECT_EQ(seenSize, 14);
    EXPECT_EQ(read.Info.Orientation, 3);
    // Without the engine nothing is read.
    EXPECT_EQ(ImageReadFixture(Text("GIF89a........")).Info.Flags, 0u);
}

// The profile the writer makes for these numbers, as a reader must store it.
Bytes WrittenProfile(const ColourNumbers& numbers) {
    ImageInfo info{};
    EXPECT_TRUE(StoreNumberedProfile(numbers, info));
    const auto* p = static_cast<const uint8_t*>(info.ProfileBuffer);
    Bytes bytes(p, p + info.ProfileSize);
    FreeProfileBuffer(info.ProfileBuffer);
    return bytes;
}

Bytes CodePointProfile(uint16_t primaries, uint16_t transfer, double peak = 0) {
    ColourNumbers numbers;
    EXPECT_TRUE(NumbersFromCodePoints({primaries, transfer}, numbers));
    numbers.PeakLuminance = peak;
    return WrittenProfile(numbers);
}

// An Exif block whose directory holds ColorSpace and, unless `index` is empty, an
// interoperability directory with that index (4 bytes, in the entry).
Bytes ColourSpaceExif(bool bigEndian, uint16_t colourSpace, const std::string& index) {
    const auto build = [&](uint32_t interopAt) {
        TiffBuilder tiff(bigEndian);
        tiff.Short(0x0100, 64).ExifEntry(0xA001, 3, 1, tiff.Order.U16(colourSpace));
        if (!index.empty()) tiff.ExifEntry(0xA005, 4, 1, tiff.Order.U32(interopAt));
        return tiff.Build();
    };
    Bytes tiff = build(0);
    if (index.empty()) return tiff;
    const ByteOrder order{bigEndian};
    Bytes interop = Concat(order.U16(1), Concat(order.U16(1), Concat(order.U16(2), order.U32(4))));
    interop = Concat(Concat(interop, Text(index)), order.U32(0));
    return Concat(build(uint32_t(tiff.size())), interop);
}

TEST(ExifColourSpace, AdobeRGBCamerasGetTheAdobeRGBProfile) {
    const Bytes adobe = WrittenProfile(AdobeRGBNumbers());
    const Bytes embedded = Pattern(200, 4);
    struct Case {
        const char* Name;
        uint16_t ColourSpace;
        std::string Index;
        bool Embedded;
        bool Adobe;
    } cases[] = {
        {"uncalibrated with R03", 0xFFFF, std::string("R03\0", 4), false, true},
        {"ColorSpace 2", 2, "", false, true},
        {"uncalibrated with R98", 0xFFFF, std::string("R98\0", 4), false, false},
        {"uncalibrated alone", 0xFFFF, "", false, false},
        {"sRGB with R03", 1, std::string("R03\0", 4), false, false},
        {"an embedded profile first", 0xFFFF, std::string("R03\0", 4), true, false},
    };
    for (bool bigEndian : {false, true}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << c.Name << (bigEndian ? ", big-endian" : ""));
            JpegBuilder jpeg;
            jpeg.Exif(ColourSpaceExif(bigEndian, c.ColourSpace, c.Index));
            if (c.Embedded) jpeg.Icc(1, 1, embedded);
            const ImageReadFixture read(jpeg.Finish());
            EXPECT_EQ(read.Info.ColorSpace, c.ColourSpace);
            EXPECT_EQ(read.Profile(), c.Adobe ? adobe : c.Embedded ? embedded : Bytes{});
        }
    }
    // Chromaticities of a TIFF's own outrank the marker.
    TiffBuilder tiff(false);
    tiff.Entry(0x013F, 5, 6, Pattern(48, 1)).ExifEntry(0xA001, 3, 1, tiff.Order.U16(2));
    const ImageReadFixture own(tiff.Build());
    EXPECT_EQ(own.Info.Flags & (HasProfileData | HasProfileBuffer), 0u);
}

// A PNG: the signature, IHDR, then the chunks given, each with its CRC unless told otherwise.
class PngBuilder {
public:
    PngBuilder() { Chunk("IHDR", Pattern(13, 1)); }
    PngBuilder& Chunk(const std::string& type, const Bytes& data, bool goodCrc = true) {
        const auto length = uint32_t(data.size());
        Out = Concat(Out, ByteOrder{true}.U32(length));
        const Bytes body = Concat(Text(type), data);
        Out = Concat(Out, body);
        uint32_t crc = 0xFFFFFFFF;
        for (uint8_t b : body) {
            crc ^= b;
            for (int k = 0; k < 8; ++k) crc = (crc & 1) ? 0xEDB88320 ^ (crc >> 1) : crc >> 1;
        }
        Out = Concat(Out, ByteOrder{true}.U32(~crc ^ (goodCrc ? 0 : 1)));
        return *this;
    }
    PngBuilder& Codes(Bytes codes, bool goodCrc = true) { return Chunk("cICP", codes, goodCrc); }
    PngBuilder& Data() { return Chunk("IDAT", Pattern(40, 2)); }
    Bytes Finish() { return Concat(Chunk("IEND", {}).Out, {}); }
    Bytes Out = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
};

TEST(PNGInfo, CodePointsOutrankTheEngineAndExifTurnsThePicture) {
    const Bytes p3 = CodePointProfile(12, 13);
    const Bytes exif6 = OrientationExif(6, true);
    struct Case {
        const char* Name;
        Bytes File;
        Bytes Profile;
        int32_t Orientation;
    } cases[] = {
        {"Display P3", PngBuilder().Codes({12, 13, 0, 1}).Data().Finish(), p3, 0},
        {"PQ with its brightest light",
         PngBuilder()
             .Chunk("cLLI", Concat(ByteOrder{true}.U32(10000000), ByteOrder{true}.U32(0)))
             .Codes({9, 16, 0, 1})
             .Data()
             .Finish(),
         CodePointProfile(9, 16, 1000), 0},
        {"a wrong CRC", PngBuilder().Codes({12, 13, 0, 1}, false).Data().Finish(), {}, 0},
        {"a matrix PNG cannot hold", PngBuilder().Codes({12, 13, 1, 1}).Data().Finish(), {}, 0},
        {"a wrong length", PngBuilder().Codes({12, 13, 0, 1, 0}).Data().Finish(), {}, 0},
        {"unknown code points", PngBuilder().Codes({2, 2, 0, 1}).Data().Finish(), {}, 0},
        {"after the picture data", PngBuilder().Data().Codes({12, 13, 0, 1}).Finish(), {}, 0},
        {"the first sound one counts",
         PngBuilder()
             .Codes({9, 13, 0, 1}, false)
             .Codes({12, 13, 0, 1})
             .Codes({1, 13, 0, 1})
             .Finish(),
         p3, 0},
        {"eXIf before the data", PngBuilder().Chunk("eXIf", exif6).Data().Finish(), {}, 6},
        {"eXIf after the data", PngBuilder().Data().Chunk("eXIf", exif6).Finish(), {}, 6},
        {"eXIf with a wrong CRC", PngBuilder().Chunk("eXIf", exif6, false).Finish(), {}, 0},
        {"eXIf after IEND",
         Concat(PngBuilder().Finish(), PngBuilder().Chunk("eXIf", exif6).Out),
         {},
         0},
        // Exif's colour markers say nothing about a PNG's colours.
        {"eXIf with ColorSpace 2",
         PngBuilder().Chunk("eXIf", ColourSpaceExif(false, 2, "")).Finish(),
         {},
         0},
        {"a chunk past the end keeps what came before",
         Concat(PngBuilder().Codes({12, 13, 0, 1}).Out, {0x7F, 0, 0, 0, 'e', 'X', 'I', 'f'}), p3,
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        const ImageReadFixture read(c.File);
        EXPECT_EQ(read.Profile(), c.Profile);
        EXPECT_EQ(read.Info.Orientation, c.Orientation);
        EXPECT_EQ((read.Info.Flags & HasOrientation) != 0, c.Orientation != 0);
        EXPECT_EQ(read.Info.ColorSpace, 0);
    }
    // The engine reads the rest with cICP's profile already in the record, so it stores no
    // iCCP profile of its own.
    static uint32_t flagsSeen;
    const ImageInfoEngine engine{[](ImageInfo* info, PNGSource*) {
                                     flagsSeen = info->Flags;
                                     return 1;
                                 },
                                 nullptr};
    const ImageReadFixture both(
        PngBuilder().Codes({12, 13, 0, 1}).Chunk("iCCP", Pattern(30, 1)).Data().Finish(), engine);
    EXPECT_EQ(flagsSeen, uint32_t{HasProfileBuffer});
}

TEST(ImageInfo, OnlyFormatsWhoseDecodersLeaveThePictureAsStoredKeepTheOrientation) {
    const struct {
        ImageFormat Format;
        bool Turns;
    } rules[] = {{ImageFormat::JPEG, true},   {ImageFormat::PNG, true},
                 {ImageFormat::TIFF, true},   {ImageFormat::WebP, true},
                 {ImageFormat::Other, true},  {ImageFormat::HEIF, false},
                 {ImageFormat::JPEGXL, false}};
    for (const auto& rule : rules) EXPECT_EQ(QorviTurns(rule.Format), rule.Turns);
    // What the imaging component says of a format read here is dropped with the rest.
    const ImageInfoEngine engine{nullptr, [](ImageInfo* info, const void*, int32_t) {
                                     info->Orientation = 6;
                                     info->Flags |= HasOrientation;
                                     return 1;
                                 }};
    const ImageReadFixture jpegXL(Bytes{0xFF, 0x0A, 0, 0, 0, 0}, engine);
    EXPECT_EQ(jpegXL.Info.Orientation, 0);
    EXPECT_EQ(jpegXL.Info.Flags, 0u);
}

}  // namespace
}  // namespace qorvi
