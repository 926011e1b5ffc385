// The imaging component's reader over pictures of tests/images. Wine's component reads a TIFF's
// orientation and the colour contexts of TIFF and PNG; its JPEG decoder gives neither metadata
// nor colour contexts, so the JPEG cases run on Windows only.
#include "engine/WicImageInfo.h"
#include "tests/unit/engine/EngineFiles.h"

#include <gtest/gtest.h>
#include <objbase.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace qorvi::engine {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes ImageFile(const std::string& name) {
    Bytes bytes = test::ReadBytes(test::ImagePath(name));
    EXPECT_FALSE(bytes.empty()) << name;
    return bytes;
}

bool UnderWine() {
    return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
}

// The reader's result on a record that starts as `start`; frees a profile block it got.
struct NamedFileRead {
    explicit NamedFileRead(const Bytes& file, const ImageInfo& start = {}) : Info(start) {
        Result = ReadWICImageInfo(Info, file.data(), int32_t(file.size()));
    }
    ~NamedFileRead() {
        if (Info.ProfileBuffer != Start.ProfileBuffer) FreeProfileBuffer(Info.ProfileBuffer);
    }
    NamedFileRead(const NamedFileRead&) = delete;
    NamedFileRead& operator=(const NamedFileRead&) = delete;
    Bytes Profile() const {
        const auto* p = static_cast<const uint8_t*>(Info.ProfileBuffer);
        return p ? Bytes(p, p + Info.ProfileSize) : Bytes{};
    }
    ImageInfo Info;
    const ImageInfo Start = Info;
    int Result = 0;
};

// A record with something in every field but no profile and no orientation, so the reader
// wants both and any stray write shows.
ImageInfo Filled() {
    ImageInfo info;
    std::memset(&info, 0x5A, sizeof info);
    info.ProfileData = nullptr;
    info.ProfileBuffer = nullptr;
    info.Flags = HasWhitePoint | HasPrimaries | HasGamma;
    return info;
}

// orient6-msb.tif with another value in its Orientation entry (tag 274, SHORT, count 1).
Bytes WithOrientation(uint8_t value) {
    Bytes file = ImageFile("orient6-msb.tif");
    const uint8_t entry[] = {0x01, 0x12, 0, 3, 0, 0, 0, 1, 0, 6};
    const auto at = std::search(file.begin(), file.end(), std::begin(entry), std::end(entry));
    EXPECT_NE(at, file.end());
    if (at != file.end()) at[9] = value;
    return file;
}

bool SameBytes(const ImageInfo& a, const ImageInfo& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST(WicImageInfo, FilesWithoutMetadataLeaveTheRecordAlone) {
    const ImageInfo start = Filled();
    ImageInfo info = start;
    const uint8_t byte = 0;
    EXPECT_EQ(ReadWICImageInfo(info, nullptr, 100), 0);
    EXPECT_EQ(ReadWICImageInfo(info, &byte, 0), 0);
    EXPECT_EQ(ReadWICImageInfo(info, &byte, -1), 0);
    EXPECT_TRUE(SameBytes(info, start));

    Bytes truncated = ImageFile("orient6-msb.tif");
    truncated.resize(16);
    const Bytes nine = WithOrientation(9), zero = WithOrientation(0);
    const struct {
        const char* name;
        Bytes file;
    } cases[] = {
        {"garbage", Bytes(4096, 0xC3)},      {"a TIFF header and little else", truncated},
        {"rgb.bmp", ImageFile("rgb.bmp")},   {"rgb.gif", ImageFile("rgb.gif")},
        {"a TIFF with orientation 9", nine}, {"a TIFF with orientation 0", zero},
    };
    for (const auto& test : cases) {
        const NamedFileRead read(test.file, start);
        EXPECT_EQ(read.Result, 0) << test.name;
        EXPECT_TRUE(SameBytes(read.Info, start)) << test.name;
    }
}

TEST(WicImageInfo, OrientationFromTIFF) {
    const NamedFileRead six(ImageFile("orient6-msb.tif"), Filled());
    EXPECT_NE(six.Result, 0);
    EXPECT_EQ(six.Info.Orientation, 6);
    EXPECT_EQ(six.Info.Flags, Filled().Flags | HasOrientation);
    EXPECT_EQ(six.Info.ProfileBuffer, nullptr);
    EXPECT_EQ(NamedFileRead(ImageFile("rgb.tif")).Info.Orientation, 1);
}

TEST(WicImageInfo, ProfilesFromColourContexts) {
    const Bytes small = ImageFile("small.icc");
    for (const char* name : {"profile.tif", "profile.png"}) {
        const NamedFileRead read(ImageFile(name));
        EXPECT_NE(read.Result, 0) << name;
        EXPECT_TRUE(read.Info.Flags & HasProfileBuffer) << name;
        EXPECT_EQ(read.Info.ProfileData, nullptr) << name;
        EXPECT_EQ(read.Profile(), small) << name;
    }
    // ImageMagick's TIFF also says orientation 1; its PNG says nothing of orientation.
    EXPECT_EQ(NamedFileRead(ImageFile("profile.tif")).Info.Flags,
              uint32_t(HasProfileBuffer | HasOrientation));
    EXPECT_EQ(NamedFileRead(ImageFile("profile.png")).Info.Flags, uint32_t(HasProfileBuffer));
}

TEST(WicImageInfo, WhatTheRecordHoldsIsNotOverwritten) {
    const Bytes file = ImageFile("profile.tif");
    const uint8_t elsewhere[200] = {};

    ImageInfo both{};
    both.ProfileData = elsewhere;
    both.ProfileSize = int32_t(sizeof elsewhere);
    both.Orientation = 3;
    both.Flags = HasProfileData | HasOrientation;
    const NamedFileRead full(file, both);
    EXPECT_EQ(full.Result, 0);
    EXPECT_TRUE(SameBytes(full.Info, both));

    ImageInfo oriented{};
    oriented.Orientation = 8;
    oriented.Flags = HasOrientation;
    const NamedFileRead profileOnly(file, oriented);
    EXPECT_EQ(profileOnly.Info.Orientation, 8);
    EXPECT_EQ(profileOnly.Info.Flags, uint32_t(HasOrientation | HasProfileBuffer));

    ImageInfo joined{};
    Bytes own(300, 7);
    joined.ProfileBuffer = own.data();
    joined.ProfileSize = int32_t(own.size());
    joined.Flags = HasProfileBuffer;
    const NamedFileRead orientationOnly(file, joined);
    EXPECT_EQ(orientationOnly.Info.ProfileBuffer, own.data());
    EXPECT_EQ(orientationOnly.Info.ProfileSize, int32_t(own.size()));
    EXPECT_EQ(orientationOnly.Info.Flags, uint32_t(HasProfileBuffer | HasOrientation));
}

TEST(WicImageInfo, AFailedAllocationLeavesTheProfileOut) {
    const ProfileAllocation previous =
        ReplaceProfileAllocation([](uint32_t) -> void* { return nullptr; });
    const NamedFileRead read(ImageFile("profile.tif"));
    ReplaceProfileAllocation(previous);
    EXPECT_NE(read.Result, 0);
    EXPECT_EQ(read.Info.Flags, uint32_t(HasOrientation));
    EXPECT_EQ(read.Info.ProfileSize, 0);
}

TEST(WicImageInfo, LeavesTheThreadsApartmentAsItFoundIt) {
    const Bytes file = ImageFile("orient6-msb.tif");
    // A thread without COM: joined for the call, then left, so it can still choose any apartment.
    std::thread([&] {
        ImageInfo info{};
        EXPECT_NE(ReadWICImageInfo(info, file.data(), int32_t(file.size())), 0);
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        CoUninitialize();
    }).join();
    // A thread in a single-threaded apartment keeps it and is read all the same.
    std::thread([&] {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        ImageInfo info{};
        EXPECT_NE(ReadWICImageInfo(info, file.data(), int32_t(file.size())), 0);
        EXPECT_EQ(info.Orientation, 6);
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
        CoUninitialize();
    }).join();
}

TEST(WicImageInfo, JPEGExifAndProfile) {
    if (UnderWine()) GTEST_SKIP() << "Wine's JPEG decoder gives no metadata and no colour contexts";
    const NamedFileRead six(ImageFile("orient6.jpg"));
    EXPECT_EQ(six.Info.Orientation, 6);
    EXPECT_TRUE(six.Info.Flags & HasOrientation);
    const NamedFileRead profile(ImageFile("profile.jpg"));
    EXPECT_EQ(profile.Profile(), ImageFile("small.icc"));
}

}  // namespace
}  // namespace qorvi::engine
