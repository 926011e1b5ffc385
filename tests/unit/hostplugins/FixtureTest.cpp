// The fixture child plug-ins, loaded as a host loads them: LoadLibraryA and GetProcAddress. The
// tests of TSusiePlugin and the plug-in list trust what these check.
#include "base/GuardedCall.h"
#include "base/WinHandles.h"
#include "hostplugins/SusieInterface.h"
#include "tests/unit/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace qorvi::test {
namespace {

// One loaded copy of a fixture with its entry points; a copy of its own keeps its records apart
// from every other test's.
struct LoadedFixture {
    LoadedFixture(TempPluginFolder& folder, const std::string& fixture, const std::string& asName,
                  const std::string& config = "")
        : path(folder.AddChild(fixture, asName, "", config)),
          module(LoadLibraryA(path.c_str())),
          probe(Loaded(module.get(), path)) {}

    static HMODULE Loaded(HMODULE module, const std::string& path) {
        if (!module) throw std::runtime_error("LoadLibraryA failed for " + path);
        return module;
    }

    template <class Proc>
    Proc Get(const char* name) const {
        return reinterpret_cast<Proc>(reinterpret_cast<void*>(GetProcAddress(module.get(), name)));
    }
    std::string Info(int number, int buflen = 256) const {
        std::string buffer(size_t(buflen), '\0');
        int length = Get<GetPluginInfoProc>("GetPluginInfo")(number, buffer.data(), buflen);
        return buffer.substr(0, size_t(length));
    }

    std::string path;
    UniqueModule module;
    FixtureProbe probe;
};

// A decoded picture as the fixture hands it back: the two movable blocks.
struct Picture {
    ~Picture() {
        if (info) LocalFree(info);
        if (bits) LocalFree(bits);
    }
    BITMAPINFOHEADER Header() const {
        BITMAPINFOHEADER header;
        std::memcpy(&header, LocalLock(info), sizeof header);
        LocalUnlock(info);
        return header;
    }
    std::string Bits() const {
        std::string bytes(static_cast<const char*>(LocalLock(bits)), LocalSize(bits));
        LocalUnlock(bits);
        return bytes;
    }
    HLOCAL info = nullptr;
    HLOCAL bits = nullptr;
};

// Checks a bottom-up 24-bit DIB against QvtImage's pixel rule.
void ExpectQvtPixels(const Picture& picture, uint32_t width, uint32_t height) {
    BITMAPINFOHEADER header = picture.Header();
    EXPECT_EQ(header.biSize, sizeof(BITMAPINFOHEADER));
    EXPECT_EQ(header.biWidth, LONG(width));
    EXPECT_EQ(header.biHeight, LONG(height));  // positive: bottom-up
    EXPECT_EQ(header.biBitCount, 24);
    EXPECT_EQ(header.biCompression, DWORD(BI_RGB));
    const size_t stride = (size_t(width) * 3 + 3) / 4 * 4;
    const std::string bits = picture.Bits();
    ASSERT_GE(bits.size(), stride * height);
    for (uint32_t y = 0; y < height; ++y) {
        const char* row = bits.data() + size_t(height - 1 - y) * stride;
        for (uint32_t x = 0; x < width; ++x) {
            ASSERT_EQ(row[3 * x], char(x)) << x << "," << y;
            ASSERT_EQ(row[3 * x + 1], char(y)) << x << "," << y;
            ASSERT_EQ(row[3 * x + 2], char(x + y)) << x << "," << y;
        }
        for (size_t pad = size_t(width) * 3; pad < stride; ++pad) ASSERT_EQ(row[pad], 0);
    }
}

TEST(Fixture, EachVariantExportsItsSet) {
    const char* const hostInterface[] = {
        "GetPluginInfo",    "IsSupported",      "GetPictureInfo",
        "GetPicture",       "ConfigurationDlg", "FixtureCallCount",
        "FixtureConfigure", "FixtureReset",     "FixtureMaxInside"};
    struct Case {
        const char* file;
        bool preview;
        bool extensions;
    } const cases[] = {{"fixture.spi", true, false},
                       {"fixture_nopreview.spi", false, false},
                       {"fixture_extended.spi", true, true},
                       {"fixture_faulty.spi", true, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        UniqueModule module(LoadLibraryA(FixturePath(c.file).c_str()));
        ASSERT_TRUE(module);
        for (const char* name : hostInterface)
            EXPECT_NE(GetProcAddress(module.get(), name), nullptr) << name;
        EXPECT_EQ(GetProcAddress(module.get(), "GetPreview") != nullptr, c.preview);
        EXPECT_EQ(GetProcAddress(module.get(), "IsSupported2") != nullptr, c.extensions);
        EXPECT_EQ(GetProcAddress(module.get(), "UseCMYKColorSpace") != nullptr, c.extensions);
        // Undecorated names only: a host looking up "GetPicture@28" finds nothing.
        EXPECT_EQ(GetProcAddress(module.get(), "GetPicture@28"), nullptr);
    }
}

TEST(Fixture, InformationStringsFollowTheConfiguration) {
    struct Case {
        const char* config;
        std::vector<std::string> strings;  // information strings 0, 1, 2, ...; then 0 is returned
    } const cases[] = {
        {"", {"00IN", "qorvi fixture child", "*.qvt", "qorvi test picture"}},
        {"kind=00IN \ninfo=about", {"00IN ", "about", "*.qvt", "qorvi test picture"}},
        {"kind=00AM\r\nformats=", {"00AM", "qorvi fixture child"}},
        {"formats=*.jpg|JPEG picture;*.jpeg|JPEG picture\nunknown=1\nno equals sign",
         {"00IN", "qorvi fixture child", "*.jpg", "JPEG picture", "*.jpeg", "JPEG picture"}},
    };
    TempPluginFolder folder;
    int serial = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.config);
        LoadedFixture child(folder, "fixture.spi", "c" + std::to_string(serial++) + ".spi",
                            c.config);
        for (size_t n = 0; n < c.strings.size(); ++n)
            EXPECT_EQ(child.Info(int(n)), c.strings[n]) << n;
        EXPECT_EQ(child.Info(int(c.strings.size())), "");
        EXPECT_EQ(child.Info(-1), "");
    }
}

TEST(Fixture, InformationLengthsHonourTheBuffer) {
    TempPluginFolder folder;
    LoadedFixture child(folder, "fixture.spi", "a.spi");
    auto getInfo = child.Get<GetPluginInfoProc>("GetPluginInfo");
    char buffer[8];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(getInfo(1, buffer, 4), 3);  // room for three characters and the zero
    EXPECT_EQ(std::string(buffer, 5), std::string("qor\0x", 5));
    EXPECT_EQ(getInfo(1, nullptr, 100), 0);
    EXPECT_EQ(getInfo(1, buffer, 0), 0);

    // A lying child reports its own length and leaves a full buffer unterminated.
    child.probe.Configure("infolength", "5000");
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(getInfo(1, buffer, 4), 5000);
    EXPECT_EQ(std::string(buffer, 5), "qorvx");
    EXPECT_EQ(getInfo(0, buffer, 8), 5000);
    EXPECT_EQ(std::string(buffer, 5), std::string("00IN\0", 5));
}

TEST(Fixture, DecodesFromMemory) {
    TempPluginFolder folder;
    LoadedFixture child(folder, "fixture.spi", "a.spi");
    const std::string image = QvtImage(5, 3);  // 15 bytes a row, padded to 16
    for (const char* entry : {"GetPicture", "GetPreview"}) {
        SCOPED_TRACE(entry);
        Picture picture;
        EXPECT_EQ(child.Get<GetPictureProc>(entry)(image.data(), long(image.size()), 1,
                                                   &picture.info, &picture.bits, nullptr, 0),
                  SusieSuccess);
        ExpectQvtPixels(picture, 5, 3);
        EXPECT_EQ(child.probe.CallCount(entry), 1);
        EXPECT_EQ(child.probe.LastFlag(), 1u);
        EXPECT_EQ(child.probe.LastLength(), long(image.size()));
    }
    PictureInfo info;
    std::memset(&info, 0x7F, sizeof info);
    EXPECT_EQ(
        child.Get<GetPictureInfoProc>("GetPictureInfo")(image.data(), long(image.size()), 1, &info),
        SusieSuccess);
    EXPECT_EQ(info.left, 0);
    EXPECT_EQ(info.top, 0);
    EXPECT_EQ(info.width, 5);
    EXPECT_EQ(info.height, 3);
    EXPECT_EQ(info.colorDepth, 24);
    EXPECT_EQ(info.hInfo, nullptr);
}

TEST(Fixture, DecodesFromAFileAtAnOffset) {
    TempPluginFolder folder;
    LoadedFixture child(folder, "fixture.spi", "a.spi");
    const std::string file = folder.AddFile("picture.bin", std::string(128, 'J') + QvtImage(4, 2));
    Picture picture;
    EXPECT_EQ(child.Get<GetPictureProc>("GetPicture")(file.c_str(), 128, 0, &picture.info,
                                                      &picture.bits, nullptr, 0),
              SusieSuccess);
    ExpectQvtPixels(picture, 4, 2);
    EXPECT_EQ(child.probe.LastFlag(), 0u);
    EXPECT_EQ(child.probe.LastLength(), 128);

    PictureInfo info{};
    EXPECT_EQ(child.Get<GetPictureInfoProc>("GetPictureInfo")(file.c_str(), 128, 0, &info),
              SusieSuccess);
    EXPECT_EQ(info.width, 4);
    EXPECT_EQ(info.height, 2);
    // At offset 0 the file starts with junk.
    EXPECT_EQ(child.Get<GetPictureInfoProc>("GetPictureInfo")(file.c_str(), 0, 0, &info),
              SusieUnsupported);
}

TEST(Fixture, BadInputGivesACodeNeverACrash) {
    TempPluginFolder folder;
    LoadedFixture child(folder, "fixture.spi", "a.spi");
    auto getPicture = child.Get<GetPictureProc>("GetPicture");
    auto getPictureInfo = child.Get<GetPictureInfoProc>("GetPictureInfo");
    const std::string shortFile = folder.AddFile("short.qvt", QvtImage(2, 2).substr(0, 10));
    const std::string goodFile = folder.AddFile("good.qvt", QvtImage(2, 2));
    const std::string cutFile =
        folder.AddFile("cut.qvt", std::string(7, 'J') + QvtImage(2, 2).substr(0, 20));
    struct Case {
        const char* what;
        std::string input;  // memory block, or a file name when `flag` is 0
        SusieLength len;    // -1: the input's size
        unsigned flag;
        int picture;  // GetPicture's code
        int info;     // GetPictureInfo's code
    } const cases[] = {
        {"not QVT1", "QVT2" + QvtImage(1, 1).substr(4), -1, 1, SusieUnsupported, SusieUnsupported},
        {"header cut", QvtImage(1, 1).substr(0, 11), -1, 1, SusieUnsupported, SusieUnsupported},
        {"length below the data", QvtImage(1, 1), 6, 1, SusieUnsupported, SusieUnsupported},
        {"negative length", QvtImage(1, 1), -5, 1, SusieUnsupported, SusieUnsupported},
        {"zero width", QvtImageTruncated(0, 5, 0), -1, 1, SusieUnsupported, SusieUnsupported},
        {"zero height", QvtImageTruncated(5, 0, 0), -1, 1, SusieUnsupported, SusieUnsupported},
        {"pixels cut", QvtImage(3, 3).substr(0, 12 + 26), -1, 1, SusieInternalError, SusieSuccess},
        {"no pixels", QvtImageTruncated(1000, 1000, 0), -1, 1, SusieInternalError, SusieSuccess},
        // 3*w*h wraps to 0 in 32 bits; checked in 64 bits it is far too large.
        {"product wraps", QvtImageTruncated(0x10000, 0x5556, 4), -1, 1, SusieUnsupported,
         SusieUnsupported},
        {"largest sizes", QvtImageTruncated(0xFFFFFFFF, 0xFFFFFFFF, 4), -1, 1, SusieUnsupported,
         SusieUnsupported},
        {"unknown input kind", QvtImage(1, 1), -1, 2, SusieUnsupported, SusieUnsupported},
        {"file cut in the header", shortFile, 0, 0, SusieUnsupported, SusieUnsupported},
        {"file cut in the pixels", cutFile, 7, 0, SusieInternalError, SusieSuccess},
        {"offset past the end", goodFile, 1000, 0, SusieUnsupported, SusieUnsupported},
        {"missing file", folder.Path() + "\\none.qvt", 0, 0, SusieUnsupported, SusieUnsupported},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const SusieLength len = c.len == -1 ? long(c.input.size()) : c.len;
        Picture picture;
        EXPECT_EQ(
            getPicture(c.input.c_str(), len, c.flag, &picture.info, &picture.bits, nullptr, 0),
            c.picture);
        EXPECT_EQ(picture.info, nullptr);
        EXPECT_EQ(picture.bits, nullptr);
        PictureInfo info{};
        EXPECT_EQ(getPictureInfo(c.input.c_str(), len, c.flag, &info), c.info);
    }
    const std::string image = QvtImage(1, 1);
    HLOCAL handle = nullptr;
    EXPECT_EQ(getPicture(image.data(), long(image.size()), 1, nullptr, &handle, nullptr, 0),
              SusieInternalError);
    EXPECT_EQ(getPicture(image.data(), long(image.size()), 1, &handle, nullptr, nullptr, 0),
              SusieInternalError);
    EXPECT_EQ(getPicture(nullptr, 10, 1, &handle, &handle, nullptr, 0), SusieUnsupported);
    EXPECT_EQ(getPictureInfo(image.data(), long(image.size()), 1, nullptr), SusieInternalError);
    EXPECT_EQ(handle, nullptr);
}

struct ProgressLog {
    int calls = 0;
    int lastNum = -1;
    int lastDenom = -1;
    int stopAt = -1;  // the call number that asks to stop
};
int __stdcall Progress(int num, int denom, SusieLength lData) {
    auto* log = reinterpret_cast<ProgressLog*>(lData);
    log->lastNum = num;
    log->lastDenom = denom;
    return ++log->calls == log->stopAt;
}

TEST(Fixture, ReportsProgressAndStopsWhenAsked) {
    TempPluginFolder folder;
    LoadedFixture child(folder, "fixture.spi", "a.spi");
    auto getPicture = child.Get<GetPictureProc>("GetPicture");
    const std::string image = QvtImage(2, 7);
    for (int stopAt : {-1, 1, 2}) {
        SCOPED_TRACE(stopAt);
        ProgressLog log;
        log.stopAt = stopAt;
        Picture picture;
        int code = getPicture(image.data(), long(image.size()), 1, &picture.info, &picture.bits,
                              Progress, reinterpret_cast<SusieLength>(&log));
        EXPECT_EQ(code, stopAt == -1 ? SusieSuccess : 1);
        EXPECT_EQ(picture.info != nullptr, stopAt == -1);
        EXPECT_EQ(log.calls, stopAt == 1 ? 1 : 2);
        EXPECT_EQ(log.lastDenom, 7);
    }
}

TEST(Fixture, SupportTestsFollowAccept) {
    TempPluginFolder folder;
    LoadedFixture child(folder, "fixture_extended.spi", "a.spi");
    auto isSupported = child.Get<IsSupportedProc>("IsSupported");
    auto isSupported2 = child.Get<IsSupported2Proc>("IsSupported2");
    const std::string image = QvtImage(1, 1) + std::string(2048, '\0');
    const std::string other = "QVT2" + std::string(2048, '\0');
    const std::string qvtFile = folder.AddFile("p.qvt", QvtImage(1, 1));
    const std::string otherFile = folder.AddFile("p.txt", "text");
    const DWORD imageValue = DWORD(reinterpret_cast<uintptr_t>(image.data()));
    const DWORD otherValue = DWORD(reinterpret_cast<uintptr_t>(other.data()));

    // magic: the data behind a pointer value, else the file named.
    EXPECT_TRUE(isSupported(nullptr, imageValue));
    EXPECT_TRUE(child.probe.LastNameWasNull());
    EXPECT_EQ(child.probe.LastValue(), imageValue);
    EXPECT_FALSE(isSupported(qvtFile.c_str(), otherValue));
    EXPECT_FALSE(child.probe.LastNameWasNull());
    EXPECT_TRUE(isSupported(qvtFile.c_str(), 0x40));  // a file handle's value: the name is read
    EXPECT_FALSE(isSupported(otherFile.c_str(), 0x40));
    EXPECT_FALSE(isSupported(nullptr, 0x40));
    EXPECT_TRUE(isSupported2(image.data(), 4));
    EXPECT_EQ(child.probe.LastValue(), 4u);
    EXPECT_FALSE(isSupported2(image.data(), 3));  // the size bounds the look
    EXPECT_FALSE(isSupported2(other.data(), DWORD(other.size())));
    EXPECT_FALSE(isSupported2(nullptr, 100));

    child.probe.Configure("accept", "all");
    EXPECT_TRUE(isSupported(nullptr, 0));
    EXPECT_TRUE(isSupported2(other.data(), 0));
    child.probe.Configure("accept", "none");
    EXPECT_FALSE(isSupported(nullptr, imageValue));
    EXPECT_FALSE(isSupported2(image.data(), DWORD(image.size())));

    EXPECT_EQ(child.probe.CallCount("IsSupported"), 7);
    EXPECT_EQ(child.probe.CallCount("IsSupported2"), 6);
}

TEST(Fixture, CountsRecordsAndReset) {
    TempPluginFolder folder;
    LoadedFixture child(folder, "fixture_extended.spi", "a.spi", "accept=all");
    auto useCMYK = child.Get<UseCMYKColorSpaceProc>("UseCMYKColorSpace");
    auto configure = child.Get<ConfigurationDlgProc>("ConfigurationDlg");
    EXPECT_EQ(configure(nullptr, 0), SusieSuccess);
    EXPECT_EQ(configure(nullptr, 1), SusieSuccess);
    EXPECT_EQ(configure(nullptr, 2), SusieNotImplemented);
    useCMYK(-1);
    EXPECT_EQ(child.probe.LastCMYK(), -1);
    useCMYK(0);
    EXPECT_EQ(child.probe.LastCMYK(), 0);
    EXPECT_EQ(child.probe.CallCount("ConfigurationDlg"), 3);
    EXPECT_EQ(child.probe.CallCount("UseCMYKColorSpace"), 2);
    EXPECT_EQ(child.probe.CallCount("GetPicture"), 0);
    EXPECT_EQ(child.probe.CallCount("NoSuchEntry"), -1);

    // Reset clears the records, drops run-time settings and reads the file again.
    child.probe.Configure("accept", "none");
    folder.AddFile("a.spi.cfg", "accept=none\nkind=00XX");
    child.probe.Reset();
    EXPECT_EQ(child.probe.CallCount("ConfigurationDlg"), 0);
    EXPECT_EQ(child.probe.LastCMYK(), 0);
    EXPECT_EQ(child.Info(0), "00XX");
    EXPECT_FALSE(child.Get<IsSupportedProc>("IsSupported")(nullptr, 0));
}

TEST(Fixture, EachCopyKeepsItsOwnRecords) {
    TempPluginFolder folder;
    LoadedFixture a(folder, "fixture.spi", "a.spi", "kind=00AM");
    LoadedFixture b(folder, "fixture.spi", "b.spi");
    EXPECT_EQ(a.Info(0), "00AM");
    EXPECT_EQ(b.Info(0), "00IN");
    EXPECT_EQ(a.probe.CallCount("GetPluginInfo"), 1);
    EXPECT_EQ(b.probe.CallCount("GetPluginInfo"), 1);
}

TEST(Fixture, LogsEveryCallInOrder) {
    TempPluginFolder folder;
    FixtureLog log;
    LoadedFixture a(folder, "fixture.spi", "a.spi", "accept=all");
    LoadedFixture b(folder, "fixture_extended.spi", "b.spi");
    a.Info(0);
    b.Get<IsSupported2Proc>("IsSupported2")("QVT1", 4);
    a.Get<IsSupportedProc>("IsSupported")(nullptr, 0);
    b.Get<ConfigurationDlgProc>("ConfigurationDlg")(nullptr, 0);
    a.probe.CallCount("GetPicture");  // control functions are not logged
    EXPECT_EQ(log.Lines(),
              (std::vector<std::string>{"a.spi GetPluginInfo", "b.spi IsSupported2",
                                        "a.spi IsSupported", "b.spi ConfigurationDlg"}));
    log.Clear();
    EXPECT_TRUE(log.Lines().empty());
}

TEST(Fixture, LogLinesStayWholeAcrossThreads) {
    TempPluginFolder folder;
    FixtureLog log;
    LoadedFixture a(folder, "fixture.spi", "a.spi");
    LoadedFixture b(folder, "fixture.spi", "bb.spi");
    constexpr int PerThread = 50;
    auto run = [](const LoadedFixture* child) {
        for (int i = 0; i < PerThread; ++i)
            child->Get<ConfigurationDlgProc>("ConfigurationDlg")(nullptr, 0);
    };
    std::thread first(run, &a), second(run, &b);
    first.join();
    second.join();
    const auto lines = log.Lines();
    EXPECT_EQ(lines.size(), size_t(2 * PerThread));
    for (const std::string& line : lines)
        EXPECT_TRUE(line == "a.spi ConfigurationDlg" || line == "bb.spi ConfigurationDlg") << line;
}

TEST(Fixture, RendezvousShowsWhetherCallsMeet) {
    TempPluginFolder folder;
    LoadedFixture child(folder, "fixture_extended.spi", "a.spi", "rendezvous=2\naccept=all");
    auto isSupported2 = child.Get<IsSupported2Proc>("IsSupported2");

    // Alone, a call waits for its partner only a bounded time.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(isSupported2("x", 1));
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(200));
    EXPECT_LT(waited, std::chrono::seconds(5));
    EXPECT_EQ(child.probe.MaxInside(), 1);

    // Two unlocked threads meet inside, however late the second starts, given a long wait.
    child.probe.Configure("rendezvouswait", "30000");
    std::thread other([&] { isSupported2("x", 1); });
    isSupported2("x", 1);
    other.join();
    EXPECT_EQ(child.probe.MaxInside(), 2);
}

// The fault kinds a guard must contain, and the codes they raise.
TEST(Fixture, FaultsRaiseTheirCodesAndLeaveTheChildUsable) {
    QORVI_SKIP_WHEN_EMULATED("processor faults arrive with other codes");
    struct Case {
        const char* kind;
        DWORD code;
    } const cases[] = {{"access", EXCEPTION_ACCESS_VIOLATION},
                       {"divide", EXCEPTION_INT_DIVIDE_BY_ZERO},
                       {"raise", 0xE0000001},
                       {"msvc", 0xE06D7363},
                       {"delphi", 0x0EEDFADE}};
    TempPluginFolder folder;
    LoadedFixture child(folder, "fixture_faulty.spi", "a.spi");
    auto getPicture = child.Get<GetPictureProc>("GetPicture");
    const std::string image = QvtImage(1, 1);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kind);
        child.probe.Configure("fault", (std::string("GetPicture:") + c.kind).c_str());
        HLOCAL info = nullptr, bits = nullptr;
        int code = -100;
        auto body = [&] {
            code = getPicture(image.data(), long(image.size()), 1, &info, &bits, nullptr, 0);
        };
        GuardResult result = RunGuarded(body);
        EXPECT_FALSE(result.completed);
        EXPECT_EQ(result.exceptionCode, c.code);
        EXPECT_EQ(code, -100);
        // The fault left nothing held: the next, healthy call goes through.
        child.probe.Configure("fault", "");
        Picture picture;
        EXPECT_EQ(getPicture(image.data(), long(image.size()), 1, &picture.info, &picture.bits,
                             nullptr, 0),
                  SusieSuccess);
    }
    EXPECT_EQ(child.probe.CallCount("GetPicture"), 2 * int(std::size(cases)));
    // A fault names its entry point; the others stay healthy.
    child.probe.Configure("fault", "IsSupported:access;GetPictureInfo:raise");
    PictureInfo info{};
    EXPECT_EQ(child.Get<GetPictureInfoProc>("GetPictureInfo") != nullptr, true);
    auto body = [&] {
        child.Get<GetPictureInfoProc>("GetPictureInfo")(image.data(), 12, 1, &info);
    };
    EXPECT_EQ(RunGuarded(body).exceptionCode, 0xE0000001u);
    EXPECT_EQ(child.Info(0), "00IN");
}

}  // namespace
}  // namespace qorvi::test
