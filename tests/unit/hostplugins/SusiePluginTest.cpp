#include "base/WinText.h"
#include "base/WindowPlacement.h"
#include "hostplugins/SusiePluginList.h"
#include "plugin/Settings.h"
#include "tests/unit/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace qorvi {
namespace {

using test::CanShowWindows;
using test::DismissBox;
using test::FixturePath;
using test::FixtureProbe;
using test::ShownBox;
using test::TempPluginFolder;

// Holds a child's Lock on another thread, as a call in progress there would.
class LockHolder {
public:
    explicit LockHolder(CriticalSection& lock) {
        thread_ = std::thread([this, &lock] {
            CriticalSectionGuard guard(lock);
            held_ = true;
            while (!release_) Sleep(1);
        });
        while (!held_) Sleep(1);
    }
    ~LockHolder() {
        release_ = true;
        thread_.join();
    }

private:
    std::atomic<bool> held_{false};
    std::atomic<bool> release_{false};
    std::thread thread_;
};

// Whether another thread can enter the lock now (a call that faulted must have left it).
bool LockIsFree(CriticalSection& lock) {
    bool entered = false;
    std::thread([&] {
        entered = lock.tryEnter();
        if (entered) lock.leave();
    }).join();
    return entered;
}

// A child copied into its own folder under `name`, with `config`, and loaded.
struct LoadedChild {
    TempPluginFolder folder;
    std::unique_ptr<TSusiePlugin> plugin = std::make_unique<TSusiePlugin>();
    bool loaded = false;

    LoadedChild(const std::string& fixture, const std::string& config,
                const std::string& name = "child.spi") {
        loaded = plugin->LoadFrom(WidenAnsi(folder.AddChild(fixture, name, "", config)));
    }
    // The plug-in goes before its folder: a loaded DLL cannot be deleted.
    ~LoadedChild() { plugin.reset(); }
    FixtureProbe Probe() const { return FixtureProbe(plugin->Module()); }
};

int DecodeQvt(TSusiePlugin& plugin, const std::string& image) {
    HLOCAL info = nullptr;
    HLOCAL bits = nullptr;
    int result = plugin.CallGetPicture(image.data(), long(image.size()), SusieInputMemory, &info,
                                       &bits, nullptr, 0);
    if (info) LocalFree(info);
    if (bits) LocalFree(bits);
    return result;
}

TEST(SusiePlugin, RefusesWhatIsNotAnImportPlugin) {
    struct Case {
        const char* name;
        const char* config;
    } cases[] = {
        {"lower-case kind", "kind=00in"},
        {"kind with a trailing blank", "kind=00IN "},
        {"archive kind", "kind=00AM"},
        {"empty kind", "kind="},
        {"GetPluginInfo faults (access)", "fault=GetPluginInfo:access"},
        {"GetPluginInfo faults (raise)", "fault=GetPluginInfo:raise"},
        {"GetPluginInfo faults (msvc)", "fault=GetPluginInfo:msvc"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LoadedChild child("fixture.spi", c.config);
        EXPECT_FALSE(child.loaded);
        EXPECT_EQ(child.plugin->Module(), nullptr);
        EXPECT_EQ(child.plugin->GetPluginInfo, nullptr);
        EXPECT_TRUE(child.plugin->FormatList.empty());
    }
}

TEST(SusiePlugin, RefusesFilesThatAreNoPlugin) {
    TempPluginFolder folder;
    const std::string notADll = folder.AddFile("x.spi", "this is not a library");
    const std::string missing = folder.Path() + "\\missing.spi";
    // A real library without GetPluginInfo.
    char system[MAX_PATH] = {};
    ASSERT_NE(GetSystemDirectoryA(system, MAX_PATH), 0u);
    const std::string kernel32 = std::string(system) + "\\kernel32.dll";
    for (const std::string& path : {notADll, missing, kernel32}) {
        SCOPED_TRACE(path);
        TSusiePlugin plugin;
        EXPECT_FALSE(plugin.LoadFrom(WidenAnsi(path)));
        EXPECT_EQ(plugin.Module(), nullptr);
    }
}

TEST(SusiePlugin, FormatListFromTheEvenInformationStrings) {
    const std::string longPattern(300, 'p');
    std::string manyFormats = "formats=";
    for (int i = 0; i < 600; ++i) manyFormats += (i ? ";*.x" : "*.x") + std::to_string(i) + "|X";
    struct Case {
        const char* name;
        std::string config;
        std::string expected;
    } cases[] = {
        {"default", "", "*.qvt"},
        {"no format strings", "formats=", ""},
        {"two patterns", "formats=*.jpg|JPEG picture;*.jpeg|JPEG picture", "*.jpg;*.jpeg"},
        // The child fills the whole 255 bytes it was offered without a terminator and claims
        // 1000: the text ends at the last byte of our buffer, which stays zero.
        {"lying length is cut", "infolength=1000\nformats=" + longPattern + "|long",
         longPattern.substr(0, 255)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LoadedChild child("fixture.spi", c.config);
        ASSERT_TRUE(child.loaded);
        EXPECT_EQ(child.plugin->FormatList, c.expected);
        EXPECT_TRUE(child.plugin->FileName.empty()) << "the list sets the file name";
        EXPECT_FALSE(child.plugin->Enabled) << "the list enables children";
    }

    // A child that would go on answering for ever is read up to a sane maximum.
    LoadedChild many("fixture.spi", manyFormats);
    ASSERT_TRUE(many.loaded);
    const std::string& list = many.plugin->FormatList;
    EXPECT_EQ(std::count(list.begin(), list.end(), ';'), 511);
    EXPECT_EQ(list.substr(0, 9), "*.x0;*.x1");
    EXPECT_EQ(list.substr(list.size() - 7), ";*.x511");
}

TEST(SusiePlugin, BindsTheEntryPointsEachVariantExports) {
    struct Case {
        const char* fixture;
        bool preview;
        bool extensions;
    } cases[] = {
        {"fixture.spi", true, false},
        {"fixture_nopreview.spi", false, false},
        {"fixture_extended.spi", true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fixture);
        LoadedChild child(c.fixture, "");
        ASSERT_TRUE(child.loaded);
        TSusiePlugin& p = *child.plugin;
        EXPECT_NE(p.IsSupported, nullptr);
        EXPECT_NE(p.GetPictureInfo, nullptr);
        EXPECT_NE(p.GetPicture, nullptr);
        EXPECT_EQ(p.GetPreview != nullptr, c.preview);
        EXPECT_NE(p.ConfigurationDlg, nullptr);
        EXPECT_TRUE(p.HasConfigurationDlg);
        EXPECT_EQ(p.IsSupported2 != nullptr, c.extensions);
        EXPECT_EQ(p.UseCMYKColorSpace != nullptr, c.extensions);
    }
}

TEST(SusiePlugin, MissingEntryPointsGiveTheirResultWithoutLocking) {
    LoadedChild child("fixture_nopreview.spi", "");
    ASSERT_TRUE(child.loaded);
    const std::string image = test::QvtImage(2, 2);
    LockHolder busy(child.plugin->Lock);  // would block any call that tried to lock
    HLOCAL info = nullptr;
    HLOCAL bits = nullptr;
    EXPECT_EQ(child.plugin->CallGetPreview(image.data(), long(image.size()), SusieInputMemory,
                                           &info, &bits, nullptr, 0),
              SusieNotImplemented);
    // Not locked either: the child's own settings dialog.
    EXPECT_EQ(child.plugin->CallConfigurationDlg(nullptr, 1), SusieSuccess);
}

// What a child answers through every guarded call but GetPicture, for a picture in memory
// (UseCMYKColorSpace answers nothing; it is called all the same).
struct EntryAnswers {
    bool isSupported;
    bool isSupported2;
    int pictureInfo;
    int preview;
    int configuration;
};

EntryAnswers AskEveryEntry(TSusiePlugin& p, const std::string& image) {
    PictureInfo pictureInfo{};
    HLOCAL info = nullptr;
    HLOCAL bits = nullptr;
    EntryAnswers answers{};
    answers.isSupported = p.CallIsSupported("a.qvt", 0);
    answers.isSupported2 = p.CallIsSupported2("a.qvt", image.data(), DWORD(image.size()));
    answers.pictureInfo =
        p.CallGetPictureInfo(image.data(), long(image.size()), SusieInputMemory, &pictureInfo);
    answers.preview = p.CallGetPreview(image.data(), long(image.size()), SusieInputMemory, &info,
                                       &bits, nullptr, 0);
    p.CallUseCMYKColorSpace(-1);
    answers.configuration = p.CallConfigurationDlg(nullptr, 0);
    return answers;
}

TEST(SusiePlugin, UnloadMakesEveryCallMissing) {
    LoadedChild child("fixture_extended.spi", "accept=all");
    ASSERT_TRUE(child.loaded);
    TSusiePlugin& p = *child.plugin;
    p.FileName = "child.spi";
    p.Enabled = true;
    p.Unload();
    EXPECT_EQ(p.Module(), nullptr);
    EXPECT_FALSE(p.HasConfigurationDlg);
    EXPECT_FALSE(p.Enabled);
    EXPECT_TRUE(p.FileName.empty());
    EXPECT_TRUE(p.FormatList.empty());

    const std::string image = test::QvtImage(2, 2);
    // UseCMYKColorSpace among them: nothing happens, and above all nothing crashes.
    const EntryAnswers answers = AskEveryEntry(p, image);
    EXPECT_FALSE(answers.isSupported);
    EXPECT_FALSE(answers.isSupported2);
    EXPECT_EQ(answers.pictureInfo, SusieNotImplemented);
    EXPECT_EQ(DecodeQvt(p, image), SusieNotImplemented);
    EXPECT_EQ(answers.preview, SusieNotImplemented);
    EXPECT_EQ(answers.configuration, SusieNotImplemented);
    p.ShowInformation(nullptr);
}

void ExpectFaultInGetPictureContained(const char* kind) {
    SCOPED_TRACE(kind);
    const std::string image = test::QvtImage(4, 3);
    LoadedChild child("fixture_faulty.spi", std::string("fault=GetPicture:") + kind);
    ASSERT_TRUE(child.loaded);
    EXPECT_EQ(DecodeQvt(*child.plugin, image), SusieInternalError);
    EXPECT_TRUE(LockIsFree(child.plugin->Lock));
    // The child goes on working once it stops faulting.
    child.Probe().Configure("fault", "");
    EXPECT_EQ(DecodeQvt(*child.plugin, image), SusieSuccess);
    EXPECT_EQ(child.Probe().CallCount("GetPicture"), 2);
}

TEST(SusiePlugin, FaultInGetPictureGivesInternalErrorAndFreesTheLock) {
    for (const char* kind : {"access", "divide", "raise", "msvc", "delphi", "cxx"})
        ExpectFaultInGetPictureContained(kind);
}

TEST(SusiePlugin, StackOverflowInGetPictureGivesInternalErrorAndFreesTheLock) {
    QORVI_SKIP_WHEN_EMULATED("a stack overflow may end the process");
    ExpectFaultInGetPictureContained("stack");
}

TEST(SusiePlugin, FaultInEveryOtherEntryPointIsContained) {
    const std::string image = test::QvtImage(2, 2);
    LoadedChild child("fixture_faulty.spi",
                      "fault=IsSupported:divide;IsSupported2:raise;GetPictureInfo:msvc;"
                      "GetPreview:delphi;UseCMYKColorSpace:raise;ConfigurationDlg:divide\n"
                      "accept=all");
    ASSERT_TRUE(child.loaded);
    TSusiePlugin& p = *child.plugin;
    const EntryAnswers answers = AskEveryEntry(p, image);
    EXPECT_FALSE(answers.isSupported);
    EXPECT_FALSE(answers.isSupported2);
    EXPECT_EQ(answers.pictureInfo, SusieInternalError);
    EXPECT_EQ(answers.preview, SusieInternalError);
    EXPECT_EQ(answers.configuration, SusieInternalError);
    EXPECT_TRUE(LockIsFree(p.Lock));

    FixtureProbe probe = child.Probe();
    for (const char* entry : {"IsSupported", "IsSupported2", "GetPictureInfo", "GetPreview",
                              "UseCMYKColorSpace", "ConfigurationDlg"})
        EXPECT_EQ(probe.CallCount(entry), 1) << entry;
}

TEST(SusiePlugin, PassesTheArgumentsAsTheInterfaceWants) {
    LoadedChild plain("fixture.spi", "accept=all");
    LoadedChild extended("fixture_extended.spi", "accept=all");
    ASSERT_TRUE(plain.loaded);
    ASSERT_TRUE(extended.loaded);
    const std::string image = test::QvtImage(2, 2);
    FixtureProbe plainProbe = plain.Probe();
    FixtureProbe extendedProbe = extended.Probe();

    // An empty name is a null pointer; the value passes unchanged.
    EXPECT_TRUE(plain.plugin->CallIsSupported("", 0x1234));
    EXPECT_TRUE(plainProbe.LastNameWasNull());
    EXPECT_EQ(plainProbe.LastValue(), 0x1234u);
    EXPECT_TRUE(plain.plugin->CallIsSupported("a.qvt", 7));
    EXPECT_FALSE(plainProbe.LastNameWasNull());
    EXPECT_EQ(plainProbe.LastValue(), 7u);

    // Without IsSupported2 the data pointer stands in for the value.
    EXPECT_TRUE(plain.plugin->CallIsSupported2("", image.data(), DWORD(image.size())));
    EXPECT_EQ(plainProbe.LastValue(), DWORD(reinterpret_cast<uintptr_t>(image.data())));
    EXPECT_TRUE(plainProbe.LastNameWasNull());
    EXPECT_EQ(plainProbe.CallCount("IsSupported"), 3);

    // With it, the child sees the size and IsSupported is not asked.
    EXPECT_TRUE(extended.plugin->CallIsSupported2("a.qvt", image.data(), DWORD(image.size())));
    EXPECT_EQ(extendedProbe.LastValue(), DWORD(image.size()));
    EXPECT_EQ(extendedProbe.CallCount("IsSupported2"), 1);
    EXPECT_EQ(extendedProbe.CallCount("IsSupported"), 0);

    // The child's 0 is "not supported".
    extendedProbe.Configure("accept", "none");
    EXPECT_FALSE(extended.plugin->CallIsSupported2("", image.data(), DWORD(image.size())));

    for (int32_t value : {0, -1}) {
        extended.plugin->CallUseCMYKColorSpace(value);
        EXPECT_EQ(extendedProbe.LastCMYK(), value);
    }

    PictureInfo pictureInfo{};
    EXPECT_EQ(plain.plugin->CallGetPictureInfo(image.data(), long(image.size()), SusieInputMemory,
                                               &pictureInfo),
              SusieSuccess);
    EXPECT_EQ(pictureInfo.width, 2);
    EXPECT_EQ(plainProbe.LastFlag(), SusieInputMemory);
    EXPECT_EQ(plainProbe.LastLength(), long(image.size()));
}

// Two threads asking one child at once meet inside it (rendezvous=2) only when nothing locks.
int MaxInsideWithTwoThreads(TSusiePlugin& plugin, int callsPerThread) {
    const std::string image = test::QvtImage(2, 2);
    std::vector<std::thread> threads;
    for (int t = 0; t < 2; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < callsPerThread; ++i)
                plugin.CallIsSupported2("", image.data(), DWORD(image.size()));
        });
    for (std::thread& thread : threads) thread.join();
    return FixtureProbe(plugin.Module()).MaxInside();
}

TEST(SusiePlugin, OneThreadInsideAChildUnlessThreadSafe) {
    {
        // Locked apart, each call waits out its short rendezvous alone.
        LoadedChild child("fixture_extended.spi", "rendezvous=2");
        ASSERT_TRUE(child.loaded);
        EXPECT_EQ(MaxInsideWithTwoThreads(*child.plugin, 3), 1);
    }
    {
        // Unlocked, the two calls meet however late the second thread starts.
        LoadedChild child("fixture_extended.spi", "rendezvous=2\nrendezvouswait=30000");
        ASSERT_TRUE(child.loaded);
        child.plugin->ThreadSafe = true;
        EXPECT_EQ(MaxInsideWithTwoThreads(*child.plugin, 1), 2);
        // Nothing is locked at all: a held lock does not stop the call.
        FixtureProbe(child.plugin->Module()).Configure("rendezvous", "0");
        LockHolder busy(child.plugin->Lock);
        EXPECT_FALSE(child.plugin->CallIsSupported("missing.qvt", 0));
    }
}

TEST(SusiePlugin, EachChildHasItsOwnLock) {
    LoadedChild first("fixture.spi", "accept=all", "first.spi");
    LoadedChild second("fixture.spi", "accept=all", "second.spi");
    ASSERT_TRUE(first.loaded);
    ASSERT_TRUE(second.loaded);

    std::atomic<bool> firstReturned{false};
    std::thread waiter;
    {
        LockHolder busy(first.plugin->Lock);  // a call in progress inside the first child
        EXPECT_TRUE(second.plugin->CallIsSupported("a.qvt", 0)) << "the second child is free";
        waiter = std::thread([&] {
            first.plugin->CallIsSupported("a.qvt", 0);
            firstReturned = true;
        });
        Sleep(50);
        EXPECT_FALSE(firstReturned) << "the first child waits for its own lock";
    }
    waiter.join();
    EXPECT_TRUE(firstReturned);
}

// Whether this session can show windows at all (a test run without a display cannot).
TEST(SusiePlugin, ShowInformationShowsStringOneCentredOverTheOwner) {
    if (!CanShowWindows()) {
        // The UI run (under Xvfb) sets QORVI_UI_TESTS: there a missing display is a failure.
        if (std::getenv("QORVI_UI_TESTS") != nullptr) FAIL() << "no display in the UI test run";
        GTEST_SKIP() << "no display";
    }
    const std::string longInfo(1100, 'i');
    struct Case {
        const char* name;
        std::string config;
        std::wstring expected;
    } cases[] = {
        {"information text", "info=qorvi fixture about", L"qorvi fixture about"},
        {"string 1 is empty", "info=", L""},
        {"lying length is cut at the last byte", "infolength=5000\ninfo=" + longInfo,
         std::wstring(1023, L'i')},
    };
    HWND owner = CreateWindowExW(0, L"STATIC", L"owner", WS_OVERLAPPED | WS_VISIBLE, 100, 80, 500,
                                 400, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(owner, nullptr);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LoadedChild child("fixture.spi", c.config, "about.spi");
        ASSERT_TRUE(child.loaded);
        child.plugin->WideFileName = L"about.spi";
        ShownBox shown;
        std::thread closer([&] { shown = DismissBox(L"about.spi", owner); });
        child.plugin->ShowInformation(owner);
        closer.join();
        ASSERT_TRUE(shown.found);
        EXPECT_EQ(shown.text, c.expected);
        POINT expected = CenterOverWindow(owner, shown.rect.right - shown.rect.left,
                                          shown.rect.bottom - shown.rect.top);
        EXPECT_EQ(shown.rect.left, expected.x);
        EXPECT_EQ(shown.rect.top, expected.y);
    }
    DestroyWindow(owner);
}

}  // namespace
}  // namespace qorvi
