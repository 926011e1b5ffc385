// The HEIF and AVIF reader over box structures built here, and over the pictures Debian's
// encoders wrote (tests/images/heif.cmake).
#include "metadata/ColourProfiles.h"
#include "metadata/ImageInfoReader.h"
#include "tests/unit/metadata/ReadImage.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace qorvi {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Join(const std::vector<Bytes>& parts) {
    Bytes out;
    for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}
Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }
Bytes U16(uint32_t v) { return {uint8_t(v >> 8), uint8_t(v)}; }
Bytes U32(uint32_t v) { return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)}; }
Bytes Id(uint32_t version, uint32_t id) { return version == 0 ? U16(id) : U32(id); }

Bytes Box(const char* type, const Bytes& body) {
    return Join({U32(uint32_t(8 + body.size())), Text(type), body});
}
Bytes FullBox(const char* type, uint32_t version, uint32_t flags, const Bytes& body) {
    return Box(type, Join({U32(version << 24 | flags), body}));
}

// Stand-in ICC profile: its header's signature in place, then a pattern.
Bytes IccProfile(size_t size, uint8_t seed) {
    Bytes profile(size);
    for (size_t i = 0; i < size; ++i) profile[i] = uint8_t(seed + i * 13);
    if (size >= 40) std::copy_n("acsp", 4, profile.begin() + 36);
    return profile;
}
const Bytes Adobe = IccProfile(300, 1), Other = IccProfile(200, 2);

Bytes Colr(const char* type, const Bytes& profile) {
    return Box("colr", Join({Text(type), profile}));
}
Bytes Nclx(uint16_t primaries, uint16_t transfer) {
    return Box("colr", Join({Text("nclx"), U16(primaries), U16(transfer), U16(9), {0x80}}));
}
Bytes Clli(uint16_t maxContent) { return Box("clli", Join({U16(maxContent), U16(400)})); }
const Bytes Ispe = FullBox("ispe", 0, 0, Join({U32(64), U32(64)}));

struct Entry {
    uint32_t Item;
    std::vector<uint16_t> Numbers;  // as stored: the essential bit included
};
// ipma; `wide` stores 16-bit property numbers.
Bytes Ipma(uint32_t version, bool wide, const std::vector<Entry>& entries) {
    Bytes body = U32(uint32_t(entries.size()));
    for (const Entry& entry : entries) {
        body = Join({body, Id(version, entry.Item), {uint8_t(entry.Numbers.size())}});
        for (uint16_t number : entry.Numbers)
            body = Join({body, wide ? U16(number) : Bytes{uint8_t(number)}});
    }
    return FullBox("ipma", version, wide ? 1 : 0, body);
}
Bytes Iprp(const std::vector<Bytes>& properties, const Bytes& ipmas) {
    return Box("iprp", Join({Box("ipco", Join(properties)), ipmas}));
}
Bytes Pitm(uint32_t item, uint32_t version = 0) {
    return FullBox("pitm", version, 0, Id(version, item));
}
// iref with one reference box of `type` from `from` to `to`.
Bytes Iref(uint32_t version, const char* type, uint32_t from, const std::vector<uint32_t>& to) {
    Bytes body = Join({Id(version, from), U16(uint32_t(to.size()))});
    for (uint32_t item : to) body = Join({body, Id(version, item)});
    return FullBox("iref", version, 0, Box(type, body));
}
Bytes Meta(const Bytes& children) {
    return FullBox(
        "meta", 0, 0,
        Join({FullBox("hdlr", 0, 0, Join({U32(0), Text("pict"), Bytes(13)})), children}));
}
const Bytes Ftyp = Box("ftyp", Join({Text("avif"), U32(0), Text("mif1miaf")}));
const Bytes Mdat = Box("mdat", Bytes(50, 0x11));

// ftyp, meta, mdat around meta's children.
Bytes File(const Bytes& children) { return Join({Ftyp, Meta(children), Mdat}); }
// Item 1 with these properties, in this order.
Bytes OneItem(const std::vector<Bytes>& properties) {
    Entry entry{1, {}};
    for (size_t i = 0; i < properties.size(); ++i) entry.Numbers.push_back(uint16_t(i + 1));
    return File(Join({Pitm(1), Iprp(properties, Ipma(0, false, {entry}))}));
}

// What the reader should store: nothing, a profile in the file, or the profile of code points.
struct Expected {
    enum { Nothing, Profile, CodePoints } Kind = Nothing;
    Bytes Icc;
    uint16_t Primaries = 0, Transfer = 0;
    double Peak = 0;
};
const Expected Nothing{};
Expected InFile(const Bytes& icc) { return {Expected::Profile, icc}; }
Expected Codes(uint16_t primaries, uint16_t transfer, double peak = 0) {
    return {Expected::CodePoints, {}, primaries, transfer, peak};
}

void ExpectRead(const Bytes& file, const Expected& expected) {
    const ImageReadFixture read(file);
    switch (expected.Kind) {
    case Expected::Nothing: EXPECT_EQ(read.Info.Flags, 0u); break;
    case Expected::Profile:
        EXPECT_EQ(read.Info.Flags, HasProfileData);
        EXPECT_TRUE(read.PointsIntoFile());
        EXPECT_EQ(read.Profile(), expected.Icc);
        break;
    case Expected::CodePoints: {
        ImageInfo fresh{};
        CodePoints codes;
        codes.Primaries = expected.Primaries;
        codes.Transfer = expected.Transfer;
        ASSERT_TRUE(StoreCodePointProfile(codes, fresh, expected.Peak));
        const auto* block = static_cast<const uint8_t*>(fresh.ProfileBuffer);
        const Bytes profile(block, block + fresh.ProfileSize);
        FreeProfileBuffer(fresh.ProfileBuffer);
        EXPECT_EQ(read.Info.Flags, HasProfileBuffer);
        EXPECT_EQ(read.Profile(), profile);
        break;
    }
    }
    EXPECT_EQ(read.Info.Orientation, 0);
}

struct Case {
    const char* Name;
    Bytes File;
    Expected Result;
};

void ExpectCases(const std::vector<Case>& cases) {
    for (const Case& test : cases) {
        SCOPED_TRACE(test.Name);
        ExpectRead(test.File, test.Result);
    }
}

TEST(HEIFInfo, ColourOfTheProperties) {
    ExpectCases({
        {"prof", OneItem({Ispe, Colr("prof", Adobe)}), InFile(Adobe)},
        {"rICC", OneItem({Colr("rICC", Adobe), Ispe}), InFile(Adobe)},
        {"nclx", OneItem({Nclx(12, 13)}), Codes(12, 13)},
        {"nclx and clli", OneItem({Clli(1000), Nclx(9, 16)}), Codes(9, 16, 1000)},
        {"the profile wins over nclx", OneItem({Nclx(12, 13), Colr("prof", Adobe)}), InFile(Adobe)},
        {"the first profile counts", OneItem({Colr("prof", Adobe), Colr("prof", Other)}),
         InFile(Adobe)},
        {"a profile shorter than its header", OneItem({Colr("prof", IccProfile(127, 3))}), Nothing},
        {"no ICC signature", OneItem({Colr("prof", Bytes(200, 'x'))}), Nothing},
        {"a broken profile leaves nclx", OneItem({Colr("prof", IccProfile(100, 3)), Nclx(1, 13)}),
         Codes(1, 13)},
        {"nclx cut short", OneItem({Box("colr", Join({Text("nclx"), U16(12), U16(13)}))}), Nothing},
        {"another colour type", OneItem({Box("colr", Join({Text("xxxx"), Adobe}))}), Nothing},
        {"unknown code points", OneItem({Nclx(200, 13)}), Nothing},
    });
}

TEST(HEIFInfo, PropertiesOfThePrimaryItem) {
    std::vector<Bytes> many(130, Ispe);  // numbers past 7 bits
    many.push_back(Nclx(12, 13));
    const std::vector<Bytes> two = {Colr("prof", Adobe), Nclx(12, 13), Ispe};
    ExpectCases({
        {"8-bit numbers with the essential bit",
         File(Join({Pitm(1), Iprp(two, Ipma(0, false, {{1, {0x83, 0x02}}}))})), Codes(12, 13)},
        {"16-bit numbers with the essential bit",
         File(Join({Pitm(1), Iprp(many, Ipma(0, true, {{1, {0x8001, 131}}}))})), Codes(12, 13)},
        {"number 0 is none", File(Join({Pitm(1), Iprp(two, Ipma(0, false, {{1, {0, 2}}}))})),
         Codes(12, 13)},
        {"pitm chooses", File(Join({Pitm(2), Iprp(two, Ipma(0, false, {{1, {1}}, {2, {2}}}))})),
         Codes(12, 13)},
        {"32-bit item ids",
         File(Join({Pitm(0x10002, 1), Iprp(two, Ipma(1, false, {{2, {1}}, {0x10002, {2}}}))})),
         Codes(12, 13)},
        {"associations split over two ipma boxes",
         File(Join({Pitm(1), Iprp(two, Join({Ipma(0, false, {{1, {3}}, {2, {1}}}),
                                             Ipma(0, false, {{1, {2}}})}))})),
         Codes(12, 13)},
        {"ipma before ipco",
         File(Join(
             {Pitm(1), Box("iprp", Join({Ipma(0, false, {{1, {2}}}), Box("ipco", Join(two))}))})),
         Codes(12, 13)},
        {"no pitm", File(Iprp(two, Ipma(0, false, {{1, {1}}}))), Nothing},
        {"pitm of a later version",
         File(Join({FullBox("pitm", 2, 0, U32(1)), Iprp(two, Ipma(0, false, {{1, {1}}}))})),
         Nothing},
        {"a number past ipco", File(Join({Pitm(1), Iprp(two, Ipma(0, false, {{1, {4, 0x7F}}}))})),
         Nothing},
        {"an entry count that lies",
         File(Join(
             {Pitm(1), Iprp(two, FullBox("ipma", 0, 0, Join({U32(0xFFFFFFFF), U16(1), {1, 1}})))})),
         InFile(Adobe)},
    });
}

TEST(HEIFInfo, ColourOfWhatADerivedItemIsMadeOf) {
    // Item 3 is a grid of items 1 and 2; item 4 an identity derivation of it.
    const std::vector<Bytes> properties = {Nclx(12, 13), Colr("prof", Adobe), Ispe, Clli(1000),
                                           Nclx(9, 16)};
    const Bytes associations = Ipma(0, false, {{1, {1}}, {2, {2}}, {3, {3}}, {4, {3}}});
    auto grid = [&](uint32_t primary, const Bytes& iref, const Bytes& ipma) {
        return File(Join({Pitm(primary), Iprp(properties, ipma), iref}));
    };
    const Bytes iref = Iref(0, "dimg", 3, {1, 2});
    const Bytes chain = FullBox("iref", 0, 0,
                                Join({Box("dimg", Join({U16(4), U16(1), U16(3)})),
                                      Box("dimg", Join({U16(3), U16(2), U16(1), U16(2)}))}));
    ExpectCases({
        {"the first tile's colour", grid(3, iref, associations), Codes(12, 13)},
        {"32-bit ids", grid(3, Iref(1, "dimg", 3, {2, 1}), associations), InFile(Adobe)},
        {"the grid's own colour first", grid(3, iref, Ipma(0, false, {{1, {1}}, {3, {2}}})),
         InFile(Adobe)},
        {"the grid's light level with the tile's code points",
         grid(3, Iref(0, "dimg", 3, {5}), Ipma(0, false, {{3, {4}}, {5, {5}}})),
         Codes(9, 16, 1000)},
        {"the tile's light level when the grid gives none",
         grid(3, Iref(0, "dimg", 3, {5}), Ipma(0, false, {{3, {3}}, {5, {4, 5}}})),
         Codes(9, 16, 1000)},
        {"a thumbnail reference is not one", grid(3, Iref(0, "thmb", 3, {1, 2}), associations),
         Nothing},
        {"a reference to no item", grid(3, Iref(0, "dimg", 3, {}), associations), Nothing},
        {"two steps down", grid(4, chain, associations), Codes(12, 13)},
        {"a loop", grid(3, Iref(0, "dimg", 3, {3}), associations), Nothing},
        {"the steps are counted",
         grid(4,
              FullBox("iref", 0, 0,
                      Join({Box("dimg", Join({U16(4), U16(1), U16(6)})),
                            Box("dimg", Join({U16(6), U16(1), U16(7)})),
                            Box("dimg", Join({U16(7), U16(1), U16(3)})),
                            Box("dimg", Join({U16(3), U16(1), U16(1)}))})),
              associations),
         Nothing},
    });
}

TEST(HEIFInfo, BoxSizesAndOrder) {
    const Bytes children = Join({Pitm(1), Iprp({Colr("prof", Adobe)}, Ipma(0, false, {{1, {1}}}))});
    const Bytes meta = Meta(children);
    Bytes large = Join({U32(1), Text("meta"), U32(0), U32(uint32_t(meta.size() + 8)),
                        Bytes(meta.begin() + 8, meta.end())});
    auto resized = [&](uint32_t size) {
        return Join({U32(size), Bytes(meta.begin() + 4, meta.end())});
    };
    const Bytes open = resized(0);  // to the end of the file
    const Bytes past = resized(uint32_t(meta.size() + 1));
    const Bytes short_ = resized(7);
    ExpectCases({
        {"meta after mdat", Join({Ftyp, Mdat, meta}), InFile(Adobe)},
        {"mdat to the end of the file", Join({Ftyp, meta, U32(0), Text("mdat"), Bytes(20)}),
         InFile(Adobe)},
        {"meta to the end of the file", Join({Ftyp, Mdat, open}), InFile(Adobe)},
        {"meta with a 64-bit size", Join({Ftyp, large, Mdat}), InFile(Adobe)},
        {"meta past the end of the file", Join({Ftyp, Mdat, past}), Nothing},
        {"a size smaller than the header ends the walk", Join({Ftyp, short_, Mdat, meta}), Nothing},
        {"a 64-bit size smaller than the header",
         Join({Ftyp, U32(1), Text("free"), U32(0), U32(15), meta}), Nothing},
    });
    // Property boxes that lie about their size: those after them cannot be found.
    const std::vector<Bytes> lies = {
        Join({U32(0), Text("free")}),     // to the end of ipco
        Join({U32(4), Text("free")}),     // smaller than its header
        Join({U32(1000), Text("free")}),  // past ipco
    };
    for (const Bytes& lie : lies) {
        ExpectRead(OneItem({Nclx(12, 13), lie, Colr("prof", Adobe)}), Codes(12, 13));
        ExpectRead(
            File(Join({Pitm(1), Iprp({lie, Colr("prof", Adobe)}, Ipma(0, false, {{1, {2}}}))})),
            Nothing);
    }
}

TEST(HEIFInfo, HandlesFilesThatOpenWithFtypOfAPictureBrand) {
    struct {
        Bytes File;
        bool Handled;
    } cases[] = {
        {Ftyp, true},
        {Box("ftyp", Join({Text("heic"), U32(0)})), true},
        {Box("ftyp", Join({Text("isom"), U32(0), Text("mp41msf1")})), true},
        // Videos and camera raw files share the boxes, not the pictures' rules.
        {Box("ftyp", Join({Text("crx "), U32(1), Text("crx isom")})), false},
        {Box("ftyp", Join({Text("isom"), U32(512), Text("isomiso2avc1mp41")})), false},
        // The brand list ends with the box, however long the file.
        {Join({Box("ftyp", Join({Text("isom"), U32(0)})), Text("mif1")}), false},
        {Join({U32(8), Text("ftyp")}), false},
        {Join({U32(7), Text("ftyp")}), false},
        {Join({U32(0), Text("ftyp")}), false},
        {Join({Mdat, Ftyp}), false},
        {{0, 0, 0, 12, 'J', 'X', 'L', ' ', 0x0D, 0x0A, 0x87, 0x0A}, false},
    };
    for (const auto& test : cases) {
        TMemoryReader reader(test.File.data(), uint32_t(test.File.size()));
        ImageInfo info{};
        EXPECT_EQ(ReadHEIFInfo(reader, info), test.Handled);
        EXPECT_EQ(info.Flags, 0u);
    }
}

// A file cut off at every byte: handled once ftyp's major brand is there, the profile once the
// whole meta box is, nothing before.
TEST(HEIFInfo, TruncatedAtEveryByte) {
    const Bytes children =
        Join({Pitm(1), Iprp({Ispe, Colr("prof", Adobe)}, Ipma(0, false, {{1, {1, 2}}}))});
    const Bytes file = File(children);
    const size_t metaEnd = Ftyp.size() + Meta(children).size();
    for (size_t size = 0; size <= file.size(); ++size) {
        SCOPED_TRACE(size);
        TMemoryReader reader(file.data(), uint32_t(size));
        ImageInfo info{};
        EXPECT_EQ(ReadHEIFInfo(reader, info), size >= 12);  // the major brand read
        if (size >= metaEnd) {
            ASSERT_EQ(info.Flags, HasProfileData);
            EXPECT_EQ(Bytes(static_cast<const uint8_t*>(info.ProfileData),
                            static_cast<const uint8_t*>(info.ProfileData) + info.ProfileSize),
                      Adobe);
        } else {
            EXPECT_EQ(info.Flags, 0u);
        }
    }
}

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in) << path;
    return {std::istreambuf_iterator<char>(in), {}};
}

TEST(HEIFInfo, RealPictures) {
    const Bytes adobe =
        ReadFile(std::string(QORVI_PROFILE_FOLDER) + "/compatibleWithAdobeRGB1998.icc");
    const struct {
        const char* Name;
        Expected Result;
    } pictures[] = {
        {"adobe.heic", InFile(adobe)}, {"adobe.avif", InFile(adobe)}, {"p3.heic", Codes(12, 13)},
        {"p3.avif", Codes(12, 13)},    {"pq.avif", Codes(9, 16)},     {"hlg.avif", Codes(9, 18)},
        {"orient6.heic", Nothing},     {"rotated.heic", Nothing},
    };
    for (const auto& picture : pictures) {
        SCOPED_TRACE(picture.Name);
        const Bytes file = ReadFile(std::string(QORVI_IMAGE_FOLDER) + "/" + picture.Name);
        TMemoryReader reader(file.data(), uint32_t(file.size()));
        ImageInfo info{};
        EXPECT_EQ(ReadImageInfo(reader, info, {}), ImageFormat::HEIF);
        FreeProfileBuffer(info.ProfileBuffer);
        ExpectRead(file, picture.Result);
    }
}

}  // namespace
}  // namespace qorvi
