// qorvi.spi with decoders that bend the interface as decoders written elsewhere do: they store
// their blocks and then fail, read a file handle's head without putting the position back or
// fault on a handle, leave junk in a palette's reserved bytes, or cannot describe a picture they
// decode; and with hostile ones, whose blocks lie about themselves or are no local memory, that
// report progress from their own threads or call qorvi back. Fixture children behave that way on
// request.
#include "base/WinHandles.h"
#include "tests/e2e/PluginHost.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qorvi::test {
namespace {

// A value no request may leave in the host's variables after a failure, nor free.
const auto Untouchable = reinterpret_cast<HLOCAL>(0x5A5A0);

// Each child's file name and its configuration.
using Children = std::vector<std::pair<std::string, std::string>>;

struct Viewer {
    explicit Viewer(const Children& children, const std::string& settings = "") {
        for (const auto& [name, config] : children)
            paths.push_back(folder.AddChild("fixture.spi", name, "", config));
        if (!settings.empty()) folder.AddFile("qorvi.ini", "[Default]\n" + settings);
        plugin.Load();
    }
    FixtureProbe Probe(size_t child) const {
        return FixtureProbe(GetModuleHandleA(paths[child].c_str()));
    }

    TempPluginFolder folder;
    PluginHost plugin{folder};
    std::vector<std::string> paths;
};

// Runs `rounds(10)` to settle, then `rounds(500)`, after which committed memory may have grown by
// 4 MB at most and the handle count by 10.
template <class Rounds>
void ExpectNothingLeftBehind(Rounds rounds) {
    rounds(10);
    const size_t memory = CommittedPrivateBytes();
    const int handles = HandleCount();
    rounds(500);
    EXPECT_LT(CommittedPrivateBytes(), memory + 4 * 1024 * 1024);
    EXPECT_LT(HandleCount(), handles + 10);
}

int Request(PluginHost& plugin, bool preview, const std::string& image, ReceivedBitmap& out) {
    const auto call = preview ? plugin.GetPreview : plugin.GetPicture;
    return call(image.data(), long(image.size()), SusieInputMemory, &out.info, &out.bits, nullptr,
                0);
}

// After a failure the host's variables hold null, whatever the child stored there and whatever
// they held before, and every block the request had is freed: a bitmap of 768 KiB per request
// would leave hundreds of megabytes behind.
TEST(CarelessChildren, AFailedRequestLeavesNullAndNoBlock) {
    struct Case {
        const char* config;
        int result;
    };
    const Case cases[] = {
        {"afterstore=access", SusieInternalError},
        {"afterstore=3", 3},
    };
    const std::string image = QvtImage(512, 512);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.config);
        Viewer viewer(Children{{"careless.spi", c.config}});
        ExpectNothingLeftBehind([&](int count) {
            for (int i = 0; i < count; ++i) {
                for (bool preview : {false, true}) {
                    HLOCAL info = Untouchable, bits = Untouchable;
                    const auto call = preview ? viewer.plugin.GetPreview : viewer.plugin.GetPicture;
                    ASSERT_EQ(call(image.data(), long(image.size()), SusieInputMemory, &info, &bits,
                                   nullptr, 0),
                              c.result);
                    ASSERT_EQ(info, nullptr);
                    ASSERT_EQ(bits, nullptr);
                }
            }
        });
        EXPECT_EQ(viewer.Probe(0).CallCount("GetPreview"), 510);
    }
}

TEST(CarelessChildren, AFailedPipelineLeavesNull) {
    Viewer viewer(Children{{"short.spi", "bitmap=short"}});
    const std::string image = QvtImage(3, 2);
    for (bool preview : {false, true}) {
        ReceivedBitmap out;
        out.info = out.bits = Untouchable;
        EXPECT_EQ(Request(viewer.plugin, preview, image, out), SusieInternalError);
        EXPECT_EQ(out.info, nullptr);
        EXPECT_EQ(out.bits, nullptr);
    }
}

// Every child sees the same head, read once from where the host left the handle, which is put
// back; each child is asked once, the one the extension names first.
TEST(CarelessChildren, IsSupportedWithAFileHandle) {
    struct Case {
        const char* first;
        const char* second;
        bool picture;
        int supported;
        int secondAsked;
    };
    // clang-format off
    const Case cases[] = {
        {"handle=read\naccept=none",  "handle=read",  true,  1, 1},  // reads 64 bytes, declines
        {"handle=fault\naccept=none", "handle=read",  true,  1, 1},
        {"handle=fault",              "accept=none",  true,  1, 0},  // takes memory only
        {"handle=read",               "handle=fault", false, 0, 1},
    };
    // clang-format on
    constexpr LONG Offset = 16;  // where the host's picture starts inside its file
    for (const Case& c : cases) {
        Viewer viewer(Children{{"first.spi", c.first}, {"second.spi", c.second}});
        const std::string content =
            std::string(Offset, 'j') + (c.picture ? QvtImage(4, 3) : std::string(100, 'x'));
        const std::string path = viewer.folder.AddFile("photo.qvt", content);
        UniqueFile file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(file);
        SetFilePointer(file.get(), Offset, nullptr, FILE_BEGIN);
        EXPECT_EQ(viewer.plugin.IsSupported(path.c_str(), DWORD(uintptr_t(file.get()))),
                  c.supported)
            << c.first << " / " << c.second;
        EXPECT_EQ(SetFilePointer(file.get(), 0, nullptr, FILE_CURRENT), DWORD(Offset));
        // Both list *.qvt: the first is guessed, the walk goes on with the second only.
        EXPECT_EQ(viewer.Probe(0).CallCount("IsSupported"), 1);
        EXPECT_EQ(viewer.Probe(1).CallCount("IsSupported"), c.secondAsked);
    }
}

// A reserved byte is no colour: a grey picture whose palette carries junk there is thinned and
// filtered as grey, to the same bytes.
TEST(CarelessChildren, AGreyPaletteWithJunkInItsReservedBytesIsGrey) {
    const std::string settings = "LimitedOutputSize=1\nMaxWidth=200\nMaxHeight=150\n";
    Viewer clean(Children{{"grey.spi", "bitmap=grey"}}, settings);
    Viewer junk(Children{{"junk.spi", "bitmap=greyjunk"}}, settings);
    const std::string image = QvtImage(400, 300);
    for (bool preview : {false, true}) {
        ReceivedBitmap expected, got;
        ASSERT_EQ(Request(clean.plugin, preview, image, expected), SusieSuccess);
        ASSERT_EQ(Request(junk.plugin, preview, image, got), SusieSuccess);
        EXPECT_EQ(got.Header().biBitCount, 8);
        EXPECT_EQ(got.Header().biWidth, preview ? 160 : 200);
        EXPECT_EQ(got.Header().biHeight, preview ? 120 : 150);
        EXPECT_EQ(got.Bits(), expected.Bits());
    }
}

// GetPictureInfo reports what the host will get: a 32-bit picture arrives as 24-bit, and a child
// that cannot describe a picture it decodes is described by its bitmap.
TEST(CarelessChildren, PictureInformationAsTheHostWillGetIt) {
    struct Case {
        const char* config;
        bool picture;
        int result;
    };
    const Case cases[] = {
        {"bitmap=bgra", true, SusieSuccess},
        {"bitmap=bgra\ninfoanswer=2", true, SusieSuccess},
        {"infoanswer=-1", true, SusieSuccess},
        {"infoanswer=2\naccept=all", false, 2},
    };
    for (const Case& c : cases) {
        Viewer viewer(Children{{"child.spi", c.config}},
                      "LimitedOutputSize=1\nMaxWidth=50\nMaxHeight=50\n");
        const std::string image = c.picture ? QvtImage(100, 60) : std::string(64, 'x');
        const std::string path = viewer.folder.AddFile("p.qvt", image);
        for (bool file : {false, true}) {
            PictureInfo info{};
            const int result =
                file ? viewer.plugin.GetPictureInfo(path.c_str(), 0, SusieInputFile, &info)
                     : viewer.plugin.GetPictureInfo(image.data(), long(image.size()),
                                                    SusieInputMemory, &info);
            ASSERT_EQ(result, c.result) << c.config;
            if (result != SusieSuccess) continue;
            EXPECT_EQ(info.width, 50) << c.config;
            EXPECT_EQ(info.height, 30) << c.config;
            EXPECT_EQ(info.colorDepth, 24) << c.config;
        }
    }
}

// Every hostile decoder gets a clear answer, 500 times over: the host's variables hold null after
// a failure, nothing is read or freed that is not local memory, and neither memory nor handles
// are left behind, also by a decoder that reports progress from its own thread or calls qorvi
// back. Bitmaps that are sound apart from their form reach the host, with a colour count the
// table holds.
TEST(HostileChildren, EachBitmapGetsAClearAnswerAndLeavesNothingBehind) {
    struct Case {
        const char* config;
        int result;
    };
    // clang-format off
    const Case cases[] = {
        {"hostile=heightmin",                      SusieInternalError},
        {"hostile=heightmax",                      SusieInternalError},
        {"hostile=rowoverflow",                    SusieInternalError},
        {"bitmap=grey\nhostile=coloursabove256",   SusieSuccess},
        {"bitmap=grey\nhostile=coloursabovetable", SusieInternalError},
        {"bitmap=bgra\nhostile=masksmissing",      SusieInternalError},
        {"hostile=headershort",                    SusieInternalError},
        {"hostile=nopixels",                       SusieInternalError},
        {"hostile=fixed",                          SusieSuccess},
        {"hostile=heappointer",                    SusieInternalError},
        {"hostile=staticpointer",                  SusieInternalError},
        {"hostile=kernelhandle",                   SusieInternalError},
        {"hostile=nullhandles",                    SusieInternalError},
        {"hostile=nullpixels",                     SusieInternalError},
        {"progress=thread",                        SusieSuccess},
        {"reenter=1",                              SusieSuccess},
    };
    // clang-format on
    const std::string image = QvtImage(256, 128);  // 96 KiB of pixels: a lost block shows
    Viewer plain(Children{{"plain.spi", ""}});
    ReceivedBitmap reference;
    ASSERT_EQ(Request(plain.plugin, false, image, reference), SusieSuccess);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.config);
        Viewer viewer(Children{{"hostile.spi", c.config}});
        ExpectNothingLeftBehind([&](int count) {
            for (int i = 0; i < count; ++i) {
                ReceivedBitmap out;
                out.info = out.bits = Untouchable;
                ASSERT_EQ(Request(viewer.plugin, i % 2 == 1, image, out), c.result);
                if (c.result != SusieSuccess) {
                    ASSERT_EQ(out.info, nullptr);
                    ASSERT_EQ(out.bits, nullptr);
                } else if (i == 0) {
                    EXPECT_LE(out.Header().biClrUsed, 256u);
                    if (out.Header().biBitCount == 24) EXPECT_EQ(out.Bits(), reference.Bits());
                }
            }
        });
    }
}

// A decoder's own threads may report progress: those reports never reach the viewer's callback,
// which works with the viewer's windows and would be called while the viewer's thread waits. The
// reports of the request's thread do.
struct ProgressCalls {
    int total = 0;
    int elsewhere = 0;  // from any thread but the request's
    DWORD thread = GetCurrentThreadId();
};

int __stdcall CountProgress(int, int, SusieLength lData) {
    auto& calls = *reinterpret_cast<ProgressCalls*>(lData);
    InterlockedIncrement(reinterpret_cast<volatile LONG*>(&calls.total));
    if (GetCurrentThreadId() != calls.thread)
        InterlockedIncrement(reinterpret_cast<volatile LONG*>(&calls.elsewhere));
    return 0;
}

TEST(HostileChildren, ProgressReachesTheViewerOnlyOnItsOwnThread) {
    ProgressCalls calls;
    Viewer viewer(Children{{"threads.spi", "progress=thread"}});
    const std::string image = QvtImage(8, 8);
    ReceivedBitmap out;
    ASSERT_EQ(viewer.plugin.GetPicture(image.data(), long(image.size()), SusieInputMemory,
                                       &out.info, &out.bits, CountProgress,
                                       long(reinterpret_cast<intptr_t>(&calls))),
              SusieSuccess);
    EXPECT_EQ(calls.total, 2);  // the start and the end, from the request's thread
    EXPECT_EQ(calls.elsewhere, 0);
}

// A decoder that hosts plug-ins itself may call qorvi.spi for the picture it was asked for:
// qorvi would ask it again without end. Inside a request such calls are refused (2, and 0 from
// IsSupported), and the request itself goes on.
TEST(HostileChildren, ADecoderCallingQorviFromInsideARequestIsRefusedThere) {
    Viewer viewer(Children{{"hosting.spi", "reenter=1"}});
    const std::string image = QvtImage(8, 8);
    ReceivedBitmap out;
    ASSERT_EQ(Request(viewer.plugin, false, image, out), SusieSuccess);
    EXPECT_EQ(out.Header().biWidth, 8);
    EXPECT_EQ(viewer.Probe(0).LastValue(), DWORD(SusieUnsupported * 100 + SusieUnsupported * 10));
}

}  // namespace
}  // namespace qorvi::test
