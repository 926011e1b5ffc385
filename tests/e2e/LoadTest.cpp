// qorvi.spi under load and across its whole life, with the real engine and the sample decoder:
// many host threads at once, many loads in one process, and unloading or ending the process
// while the engine's workers and the resizers' threads exist.
#include "tests/e2e/PluginHost.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <latch>
#include <map>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace qorvi::test {
namespace {

// Small boxes, so every picture is shrunk by the resizers' threads and converted by the engine's,
// into the sRGB profile whatever this machine's screen has.
std::string Settings() {
    return std::string(
               "[Default]\nLimitedOutputSize=1\nMaxWidth=40\nMaxHeight=40\n"
               "ThumbnailWidth=24\nThumbnailHeight=24\nMonitorProfileName=") +
           QORVI_PROFILE_FOLDER + "/sRGB.icc\n";
}

const char* const Files[] = {"rgb.jpg",  "orient6.jpg", "profile.jpg", "rgba.png", "palette.png",
                             "grey.png", "rgb16.png",   "rgb.tif",     "cmyk.jpg", "rgb.gif"};
constexpr int FileCount = int(std::size(Files));

// What a host received for one request: its code and, on success, both blocks.
struct Answer {
    int result = -100;
    std::string header, bits;
    bool operator==(const Answer&) const = default;
};

class Load : public ::testing::Test {
protected:
    void SetUp() override {
        folder.AddBuilt("wicdec.spi", "wicdec.spi");
        folder.AddBuilt("qorvi.dll", "qorvi.dll");
        folder.AddFile("qorvi.ini", Settings());
        for (int i = 0; i < FileCount; ++i)
            pictures.push_back(ReadWholeFile(BuiltPath(std::string("images\\") + Files[i])));
        // A picture that breaks off early: the decoder refuses it.
        pictures.push_back(pictures[0].substr(0, 300));
    }

    // Request `index` of a mix: every picture as picture and as preview, from memory.
    Answer Request(int index) {
        const std::string& bytes = pictures[size_t(index) % pictures.size()];
        const bool preview = (index / int(pictures.size())) % 2 == 1;
        ReceivedBitmap out;
        auto call = preview ? plugin.GetPreview : plugin.GetPicture;
        Answer answer;
        answer.result = call(bytes.data(), long(bytes.size()), SusieInputMemory, &out.info,
                             &out.bits, nullptr, 0);
        if (answer.result == SusieSuccess) {
            const BITMAPINFOHEADER h = out.Header();
            answer.header.assign(reinterpret_cast<const char*>(&h), sizeof h);
            answer.bits = out.Bits();
        } else {
            out.info = out.bits = nullptr;  // the variables are not the host's to free then
        }
        return answer;
    }
    int MixSize() const { return int(pictures.size()) * 2; }

    TempPluginFolder folder;
    PluginHost plugin{folder};
    std::vector<std::string> pictures;
};

TEST_F(Load, ManyHostThreadsGetWhatOneGetsAndLeaveNoMemoryBehind) {
    plugin.Load();
    std::vector<Answer> reference;
    for (int i = 0; i < MixSize(); ++i) reference.push_back(Request(i));
    int failing = 0;
    for (const Answer& a : reference) failing += a.result != SusieSuccess;
    ASSERT_EQ(failing, 2) << "the cut picture, as picture and preview";

    constexpr int Threads = 8, Requests = 200;
    auto round = [&] {
        std::vector<int> mismatches(Threads, 0);
        std::vector<std::thread> threads;
        for (int t = 0; t < Threads; ++t)
            threads.emplace_back([&, t] {
                for (int i = 0; i < Requests; ++i) {
                    const int index = (i * 7 + t * 3) % MixSize();
                    if (!(Request(index) == reference[size_t(index)])) ++mismatches[size_t(t)];
                }
            });
        for (std::thread& thread : threads) thread.join();
        return mismatches;
    };
    EXPECT_EQ(round(), std::vector<int>(Threads, 0));  // heaps and caches settle here too
    const size_t before = CommittedPrivateBytes();
    EXPECT_EQ(round(), std::vector<int>(Threads, 0));
    const size_t after = CommittedPrivateBytes();
    EXPECT_LT(after, before + 1024 * 1024) << "before " << before << ", after " << after;
}

// Unloading runs under the loader lock: nothing there may wait for a thread to end, and no
// thread may still run code of a library that is gone.
TEST_F(Load, UnloadingWithEveryWorkerRunningEndsThemAll) {
    ThreadWatch threads;
    plugin.Load();
    ASSERT_EQ(Request(0).result, SusieSuccess);
    ASSERT_EQ(Request(int(pictures.size())).result, SusieSuccess);  // a preview too
    EXPECT_GE(threads.TakeStarted(), 1);
    plugin.Unload();
    EXPECT_TRUE(threads.AllEnded(10000));
    EXPECT_EQ(GetModuleHandleA((folder.Path() + ForBuild("\\qorvi.dll")).c_str()), nullptr);
    EXPECT_EQ(GetModuleHandleA((folder.Path() + ForBuild("\\wicdec.spi")).c_str()), nullptr);
}

// Each library's C++ runtime keeps a reserve on the process heap and a thread-local storage index:
// a load that did not give them back would lose about 19 KiB and an index per library, 2 MiB and
// 300 of the process's 1088 indexes over these loads (a few hundred more, and the host hangs).
TEST_F(Load, LoadingAndUnloadingAHundredTimesLeaksNothing) {
    ThreadWatch threads;
    auto cycle = [&] {
        plugin.Load();
        const bool decoded = Request(0).result == SusieSuccess;
        threads.TakeStarted();
        plugin.Unload();
        return decoded;
    };
    for (int i = 0; i < 10; ++i) ASSERT_TRUE(cycle());
    ASSERT_TRUE(threads.AllEnded(10000));
    // The watch itself holds a handle of every thread it saw: those do not count.
    auto handles = [&] { return HandleCount() - threads.TakeStarted(); };
    // The lowest free index: it rises with every index a load keeps.
    auto freeIndex = [] {
        const DWORD index = TlsAlloc();
        TlsFree(index);
        return index;
    };
    const size_t memoryBefore = CommittedPrivateBytes();
    const int handlesBefore = handles();
    const DWORD indexBefore = freeIndex();
    for (int i = 0; i < 100; ++i) ASSERT_TRUE(cycle()) << "load " << i;
    ASSERT_TRUE(threads.AllEnded(10000));
    const int handlesAfter = handles();
    const size_t memoryAfter = CommittedPrivateBytes();
    EXPECT_EQ(freeIndex(), indexBefore);
    EXPECT_LT(handlesAfter, handlesBefore + 10) << handlesBefore << " -> " << handlesAfter;
    EXPECT_LT(memoryAfter, memoryBefore + 256 * 1024)
        << "before " << memoryBefore << ", after " << memoryAfter;
}

// Many viewers end without unloading their plug-ins; the process must still end cleanly with
// both kinds of worker running.
TEST_F(Load, TheHostMayEndWithEveryWorkerRunning) {
    const std::string path = BuiltPath("images\\orient6.jpg");
    for (const char* command : {"picture", "preview"}) {
        const ProgramRun run = RunProgram(BuiltPath("qorvi-host.exe"),
                                          {plugin.Path(), command, path, "--keep-loaded"});
        EXPECT_EQ(run.exitCode, 0u) << run.output;
        EXPECT_NE(run.output.find(": 0 (ok)"), std::string::npos) << run.output;
    }
}

// Start-up waits for the first export call, whichever it is; calls that come at once wait for it
// and all see the children it loaded.
TEST(StartUp, RunsAtTheFirstCallOfAnyExportAndConcurrentCallsWaitForIt) {
    TempPluginFolder folder;
    const std::string child = folder.AddChild("fixture.spi", "child.spi");
    PluginHost plugin(folder);
    const std::string image = QvtImage(4, 4);
    for (int round = 0; round < 20; ++round) {
        plugin.Load(false);
        ASSERT_EQ(GetModuleHandleA(child.c_str()), nullptr) << "no child before the first call";
        std::vector<int> results(5, -100);
        std::string pattern;
        std::latch start(5);
        auto picture = [&](bool preview) {
            ReceivedBitmap out;
            const auto call = preview ? plugin.GetPreview : plugin.GetPicture;
            return call(image.data(), long(image.size()), SusieInputMemory, &out.info, &out.bits,
                        nullptr, 0);
        };
        std::vector<std::thread> threads;
        threads.emplace_back([&] {
            char text[16] = {};
            start.arrive_and_wait();
            results[0] = plugin.GetPluginInfo(2, text, sizeof text) > 0 ? 0 : 1;
            pattern = text;
        });
        threads.emplace_back([&] {
            start.arrive_and_wait();
            results[1] = plugin.IsSupported("p.qvt", DWORD(uintptr_t(image.data()))) == 1 ? 0 : 1;
        });
        threads.emplace_back([&] {
            PictureInfo info{};
            start.arrive_and_wait();
            results[2] =
                plugin.GetPictureInfo(image.data(), long(image.size()), SusieInputMemory, &info);
        });
        threads.emplace_back([&] {
            start.arrive_and_wait();
            results[3] = picture(false);
        });
        threads.emplace_back([&] {
            start.arrive_and_wait();
            results[4] = picture(true);
        });
        for (std::thread& thread : threads) thread.join();
        EXPECT_EQ(results, std::vector<int>(5, 0)) << "round " << round;
        EXPECT_EQ(pattern, "*.qvt");
        plugin.Unload();
    }
}

// Start-up loads the children and the engine, asks the screen for its profile and may show the
// missing engine's box, while the viewer's window thread works with the window system: none of it
// may run under the loader lock. Every round loads qorvi.spi, starts it up through an export and
// unloads it, with the engine and without (the box at every start-up, answered by the busy
// thread; the UI run has a display to show it). Children that make a window in their own load
// notification can hang a viewer that loads them, with or without us: with them, qorvi.spi's own
// load must still end, since it loads no child before its first call.
TEST(LoaderLock, EveryLoadEndsWhileAnotherThreadUsesTheWindowSystem) {
    struct Case {
        const char* name;
        bool engine;
        const char* childConfig;
        bool loadOnly;
    };
    const Case cases[] = {
        {"with the engine", true, "", false},
        {"without the engine", false, "", false},
        {"children that make a window at load", true, "loadwindow=1", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempPluginFolder folder;
        const std::string plugin = folder.AddBuilt("qorvi.spi", "qorvi.spi");
        if (c.engine) folder.AddBuilt("qorvi.dll", "qorvi.dll");
        folder.AddChild("fixture.spi", "first.spi", "", c.childConfig);
        folder.AddChild("fixture.spi", "second.spi", "SPI", c.childConfig);
        std::vector<std::string> args{plugin, "200"};
        if (c.loadOnly) args.push_back("load-only");
        // A round that never ends leaves the program silent.
        const ProgramRun run = RunProgram(BuiltPath("qorvi_load_stress.exe"), args);
        ASSERT_FALSE(run.hung) << "a round never ended:\n" << run.output;
        EXPECT_EQ(run.exitCode, 0u) << run.output;
        // The format pattern shows that start-up found the children.
        EXPECT_NE(run.output.find(c.loadOnly ? "loaded 200" : "loaded 200 *.qvt"),
                  std::string::npos)
            << run.output;
        const size_t done = run.output.find("done, ");
        ASSERT_NE(done, std::string::npos) << run.output;
        // With a display the box shows at every start-up without the engine, and the busy
        // thread answers it; without one Wine answers it at once.
        if (CanShowWindows())
            EXPECT_EQ(std::atoi(run.output.c_str() + done + 6), c.engine || c.loadOnly ? 0 : 200);
    }
}

}  // namespace
}  // namespace qorvi::test
