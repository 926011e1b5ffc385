#include "base/WinText.h"
#include "hostplugins/SusiePluginList.h"

#include "tests/unit/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace qorvi {
namespace {

using test::FixtureLog;
using test::FixtureProbe;
using test::SelfHost;
using test::TempPluginFolder;

using Names = std::vector<std::string>;

// The list as "name=flag" texts, e.g. {"b.spi=0", "a.spi=1"}.
Names Layout(const TSusiePluginList& list) {
    Names layout;
    for (int i = 0; i < list.Count(); ++i) {
        layout.push_back(test::FromBuild(list.Items(i)->FileName) +
                         (list.Items(i)->Enabled ? "=1" : "=0"));
    }
    return layout;
}

Names FileNames(const TSusiePluginList& list, int from, int to) {
    Names names;
    for (int i = from; i < to; ++i) names.push_back(test::FromBuild(list.Items(i)->FileName));
    std::sort(names.begin(), names.end());
    return names;
}

// Children that were never loaded: enough for everything that only orders and flags them.
void AddUnloaded(TSusiePluginList& list, const Names& names) {
    for (const std::string& name : names) {
        auto plugin = std::make_unique<TSusiePlugin>();
        plugin->FileName = name;
        plugin->Enabled = true;
        list.Add(std::move(plugin));
    }
}

// The log lines of request entry points only; loading and format lists ask GetPluginInfo.
Names RequestLines(const FixtureLog& log) {
    Names lines;
    for (const std::string& line : log.Lines()) {
        if (line.find(" GetPluginInfo") == std::string::npos) lines.push_back(line);
    }
    return lines;
}

FixtureProbe Probe(const TSusiePluginList& list, int index) {
    return FixtureProbe(list.Items(index)->Module());
}

TEST(SusiePluginList, OrderStrings) {
    TSusiePluginList list;
    EXPECT_EQ(list.GetOrderString(), "");

    AddUnloaded(list, {"a.spi"});
    list.Items(0)->Enabled = false;
    EXPECT_EQ(list.GetOrderString(), "\"a.spi=0\"");

    list.Items(0)->Enabled = true;
    AddUnloaded(list, {"b.spi", "c.spi"});
    list.Items(1)->Enabled = false;
    const std::string order = list.GetOrderString();
    EXPECT_EQ(order, "\"a.spi=1\",\"b.spi=0\",\"c.spi=1\"");
    EXPECT_EQ(order.size(), 29u);
}

TEST(SusiePluginList, MoveTakesOutAndInserts) {
    struct Case {
        int from, to;
        Names expected;
    };
    const Case cases[] = {
        {0, 2, {"b=1", "c=1", "a=1"}},
        {2, 0, {"c=1", "a=1", "b=1"}},
        {1, 1, {"a=1", "b=1", "c=1"}},
        {0, 3, {"a=1", "b=1", "c=1"}},  // out of range: nothing moves
        {-1, 0, {"a=1", "b=1", "c=1"}},
    };
    for (const Case& c : cases) {
        TSusiePluginList list;
        AddUnloaded(list, {"a", "b", "c"});
        list.Move(c.from, c.to);
        EXPECT_EQ(Layout(list), c.expected) << c.from << "->" << c.to;
    }

    TSusiePluginList list;
    AddUnloaded(list, {"a", "b", "c"});
    list.Delete(1);
    list.Delete(5);
    EXPECT_EQ(Layout(list), (Names{"a=1", "c=1"}));
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
}

TEST(SusiePluginList, ApplyOrderString) {
    struct Case {
        const char* name;
        Names children;
        const char* order;
        Names expected;
    };
    // clang-format off
    const Case cases[] = {
        {"stored order first, new children after and enabled", {"a.spi", "b.spi", "c.spi"},
         "\"b.spi=0\",\"a.spi=1\"", {"b.spi=0", "a.spi=1", "c.spi=1"}},
        {"unquoted entries", {"a.spi", "b.spi", "c.spi"}, "b.spi=0, a.spi=1",
         {"b.spi=0", "a.spi=1", "c.spi=1"}},
        {"empty string changes nothing", {"a.spi", "b.spi"}, "", {"a.spi=1", "b.spi=1"}},
        {"unknown names are passed over", {"a.spi", "b.spi", "c.spi"},
         "\"gone.spi=1\",\"c.spi=0\",\"old.spi=0\"", {"c.spi=0", "a.spi=1", "b.spi=1"}},
        {"an entry without = matches nothing", {"a.spi", "b.spi", "c.spi"},
         "\"c.spi\",\"b.spi=0\",a.spi", {"b.spi=0", "a.spi=1", "c.spi=1"}},
        {"only 1 exactly enables", {"a.spi", "b.spi", "c.spi"},
         "\"a.spi=01\",\"b.spi=1 \",\"c.spi=\"", {"a.spi=0", "b.spi=0", "c.spi=0"}},
        {"names are matched case-sensitively", {"a.spi", "b.spi"}, "\"B.SPI=0\"",
         {"a.spi=1", "b.spi=1"}},
        {"two children differing in case keep their own flags", {"x.spi", "X.spi"},
         "\"X.spi=0\",\"x.spi=1\"", {"X.spi=0", "x.spi=1"}},
        {"a repeated name keeps its first place and flag", {"a.spi", "b.spi", "c.spi"},
         "\"a.spi=0\",\"b.spi=1\",\"a.spi=1\"", {"a.spi=0", "b.spi=1", "c.spi=1"}},
        {"a repeated name on a list of one stays in range", {"a.spi"},
         "\"a.spi=0\",\"a.spi=1\"", {"a.spi=0"}},
    };
    // clang-format on
    for (const Case& c : cases) {
        TSusiePluginList list;
        AddUnloaded(list, c.children);
        list.ApplyOrderString(c.order);
        EXPECT_EQ(Layout(list), c.expected) << c.name;
    }
}

TEST(SusiePluginList, OrderStringUndoesLiveChanges) {
    // The settings dialog reorders and flips children live; a cancel gives the saved string back.
    TSusiePluginList list;
    AddUnloaded(list, {"a.spi", "b.spi", "c.spi", "d.spi"});
    list.Items(2)->Enabled = false;
    const Names before = Layout(list);
    const std::string saved = list.GetOrderString();

    list.Move(3, 0);
    list.Items(1)->Enabled = false;
    list.Items(3)->Enabled = true;
    list.ApplyOrderString(saved);
    EXPECT_EQ(Layout(list), before);
}

// A folder as a user lays it out: children beside qorvi.spi and in SPI under it.
class SusiePluginListFolder : public ::testing::Test {
protected:
    void LoadBoth() {
        list_.LoadDirectory(WidenAnsi(folder_.Path()));
        list_.LoadDirectory(WidenAnsi(folder_.Path() + "\\SPI"));
    }
    // Loads one child per subfolder, so the list's order does not depend on enumeration order.
    void LoadInOrder(const std::vector<std::pair<std::string, std::string>>& children,
                     const std::string& fixture = "fixture_extended.spi") {
        for (size_t i = 0; i < children.size(); ++i) {
            const std::string sub = "order" + std::to_string(i);
            folder_.AddChild(fixture, children[i].first, sub, children[i].second);
            list_.LoadDirectory(WidenAnsi(folder_.Path() + "\\" + sub));
        }
        ASSERT_EQ(static_cast<size_t>(list_.Count()), children.size());
    }

    FixtureLog log_;
    TempPluginFolder folder_;
    TSusiePluginList list_;  // after the folder: its DLLs are released before the folder goes
};

TEST_F(SusiePluginListFolder, MainFolderFirstThenSpiAllEnabled) {
    folder_.AddChild("fixture.spi", "m1.spi");
    folder_.AddChild("fixture.spi", "m2.spi");
    folder_.AddChild("fixture.spi", "s1.spi", "SPI");
    folder_.AddChild("fixture_extended.spi", "s2.spi", "SPI");
    // A folder path that already ends in a delimiter gets no second one.
    list_.LoadDirectory(WidenAnsi(folder_.Path() + "\\"));
    list_.LoadDirectory(WidenAnsi(folder_.Path() + "\\SPI\\"));

    ASSERT_EQ(list_.Count(), 4);
    EXPECT_EQ(FileNames(list_, 0, 2), (Names{"m1.spi", "m2.spi"}));
    EXPECT_EQ(FileNames(list_, 2, 4), (Names{"s1.spi", "s2.spi"}));
    for (int i = 0; i < list_.Count(); ++i) {
        EXPECT_TRUE(list_.Items(i)->Enabled) << i;
        EXPECT_NE(list_.Items(i)->Module(), nullptr) << i;
        EXPECT_EQ(list_.Items(i)->FormatList, "*.qvt") << i;
    }
}

TEST_F(SusiePluginListFolder, StoredOrderOverDiscoveredChildren) {
    LoadInOrder({{"a.spi", ""}, {"b.spi", ""}, {"c.spi", ""}});
    list_.ApplyOrderString(test::ForBuild("\"b.spi=0\",\"a.spi=1\""));
    EXPECT_EQ(Layout(list_), (Names{"b.spi=0", "a.spi=1", "c.spi=1"}));
    EXPECT_EQ(test::FromBuild(list_.GetOrderString()), "\"b.spi=0\",\"a.spi=1\",\"c.spi=1\"");
}

TEST_F(SusiePluginListFolder, PassesOverWhatIsNoChild) {
    folder_.AddChild("fixture.spi", "good.spi");
    folder_.AddChild("fixture.spi", "QORVI.SPI");  // the system itself
    folder_.AddChild("fixture.spi", "lower.spi", "", "kind=00in");
    folder_.AddChild("fixture.spi", "blank.spi", "", "kind=00IN ");
    folder_.AddChild("fixture.spi", "archive.spi", "", "kind=00AM");
    folder_.AddChild("fixture.spi", "long.spix");  // matches "*.spi" by its short name
    folder_.AddFile("junk.spi", "this is not a library");
    folder_.AddFolder("folder.spi");
    const std::string hidden = folder_.AddChild("fixture.spi", "hidden.spi");
    ASSERT_TRUE(SetFileAttributesA(hidden.c_str(), FILE_ATTRIBUTE_HIDDEN));
    const std::string system = folder_.AddChild("fixture.spi", "system.spi");
    ASSERT_TRUE(SetFileAttributesA(system.c_str(), FILE_ATTRIBUTE_SYSTEM));
    folder_.AddChild("fixture.spi", "other.spi", "SPI");

    LoadBoth();
    EXPECT_EQ(Layout(list_), (Names{"good.spi=1", "other.spi=1"}));
    // The hidden and system copies must be restored, or the folder cannot be removed.
    SetFileAttributesA(hidden.c_str(), FILE_ATTRIBUTE_NORMAL);
    SetFileAttributesA(system.c_str(), FILE_ATTRIBUTE_NORMAL);
}

// A host renamed from qorvi.spi finds its own file among the children and must pass it over:
// taken as a child, it would hand each request back to itself without end.
TEST_F(SusiePluginListFolder, RenamedHostNeverLoadsItself) {
    folder_.AddChild("selfhost.spi", "viewer-colour.spi");
    folder_.AddChild("fixture.spi", "child.spi");
    SelfHost host(folder_.Path() + test::ForBuild("\\viewer-colour.spi"));
    std::string names;
    EXPECT_EQ(host.LoadFolder(folder_.Path(), &names), 1);
    EXPECT_EQ(names, test::ForBuild("child.spi"));
    // The host lets go of its copy of child.spi before the folder is removed.
    host.LoadFolder(folder_.Path() + "\\none");
}

TEST_F(SusiePluginListFolder, SameNameInBothFoldersLoadsOnceFromMain) {
    folder_.AddChild("fixture.spi", "x.spi", "", "formats=*.main|main folder");
    folder_.AddChild("fixture.spi", "x.spi", "SPI", "formats=*.sub|SPI folder");
    folder_.AddChild("fixture.spi", "Y.spi", "", "formats=*.main|main folder");
    folder_.AddChild("fixture.spi", "y.spi", "SPI", "formats=*.sub|SPI folder");
    LoadBoth();

    ASSERT_EQ(list_.Count(), 3);
    EXPECT_EQ(FileNames(list_, 0, 2), (Names{"Y.spi", "x.spi"}));
    EXPECT_EQ(list_.Items(list_.IndexOfFileName(test::ForBuild("x.spi")))->FormatList, "*.main");
    EXPECT_EQ(list_.Items(list_.IndexOfFileName(test::ForBuild("Y.spi")))->FormatList, "*.main");
    EXPECT_EQ(list_.Items(2)->FileName, test::ForBuild("y.spi"));
    EXPECT_EQ(list_.Items(2)->FormatList, "*.sub");
    EXPECT_EQ(list_.IndexOfFileName(test::ForBuild("X.spi")), -1);
}

TEST_F(SusiePluginListFolder, MissingFolderAddsNothing) {
    list_.LoadDirectory(WidenAnsi(folder_.Path() + "\\SPI"));
    list_.LoadDirectory(WidenAnsi(folder_.Path()));
    EXPECT_EQ(list_.Count(), 0);
}

TEST_F(SusiePluginListFolder, IndexOfExtension) {
    LoadInOrder({{"none.spi", "formats="},
                 {"jpeg.spi", "formats=*.jpg|JPEG picture;*.jpeg|JPEG picture"},
                 {"off.spi", "formats=*.png|PNG picture"},
                 {"png.spi", "formats=*.png|PNG picture; *.JPE|JPEG picture"}});
    list_.Items(2)->Enabled = false;
    EXPECT_EQ(list_.Items(0)->FormatList, "");
    EXPECT_EQ(list_.Items(1)->FormatList, "*.jpg;*.jpeg");

    struct Case {
        const char* ext;
        int expected;
    };
    const Case cases[] = {
        {".jpg", 1}, {".JPEG", 1}, {".png", 3}, {".jpe", 3}, {".jp", -1}, {".gif", -1}, {"", -1},
    };
    for (const Case& c : cases) EXPECT_EQ(list_.IndexOfExtension(c.ext), c.expected) << c.ext;
}

TEST_F(SusiePluginListFolder, ExtensionGuessThenEveryOtherEnabledChildInOrderEachOnce) {
    LoadInOrder({{"a.spi", "formats=*.png|PNG picture\naccept=none"},
                 {"b.spi", "formats=*.jpg|JPEG picture\naccept=none"},
                 {"off.spi", "formats=*.jpg|JPEG picture\naccept=all"},
                 {"c.spi", "accept=all"},
                 {"d.spi", "accept=all"}});
    list_.Items(2)->Enabled = false;

    log_.Clear();
    EXPECT_EQ(list_.FindSupporting("C:\\pictures.d\\photo.JPG", 0), list_.Items(3));
    EXPECT_EQ(RequestLines(log_),
              (Names{"b.spi IsSupported", "a.spi IsSupported", "c.spi IsSupported"}));

    const std::string data = test::QvtImage(1, 1);
    log_.Clear();
    EXPECT_EQ(list_.FindSupportingData("C:\\pictures.d\\photo.JPG", data.data(),
                                       static_cast<DWORD>(data.size())),
              list_.Items(3));
    EXPECT_EQ(RequestLines(log_),
              (Names{"b.spi IsSupported2", "a.spi IsSupported2", "c.spi IsSupported2"}));
    EXPECT_EQ(Probe(list_, 3).LastValue(), data.size());

    // Nobody takes it: none, after asking every enabled child once.
    list_.Items(3)->Enabled = false;
    list_.Items(4)->Enabled = false;
    log_.Clear();
    EXPECT_EQ(list_.FindSupporting("photo.jpg", 0), nullptr);
    EXPECT_EQ(RequestLines(log_), (Names{"b.spi IsSupported", "a.spi IsSupported"}));
}

TEST_F(SusiePluginListFolder, GuessedChildThatAcceptsIsTheOnlyOneAsked) {
    LoadInOrder({{"a.spi", "accept=all"}, {"b.spi", "formats=*.jpg|JPEG picture\naccept=all"}});
    log_.Clear();
    EXPECT_EQ(list_.FindSupporting("photo.jpg", 7), list_.Items(1));
    EXPECT_EQ(RequestLines(log_), (Names{"b.spi IsSupported"}));
    EXPECT_EQ(Probe(list_, 1).LastValue(), 7u);
}

TEST_F(SusiePluginListFolder, MemoryRequestSkipsTheGuess) {
    LoadInOrder({{"a.spi", "accept=none"},
                 {"b.spi", "formats=*.jpg|JPEG picture\naccept=none"},
                 {"c.spi", ""}});
    const std::string data = test::QvtImage(2, 2);
    log_.Clear();
    EXPECT_EQ(list_.FindSupportingData("", data.data(), data.size()), list_.Items(2));
    EXPECT_EQ(RequestLines(log_),
              (Names{"a.spi IsSupported2", "b.spi IsSupported2", "c.spi IsSupported2"}));
}

TEST_F(SusiePluginListFolder, MemoryRequestToChildWithoutIsSupported2) {
    LoadInOrder({{"plain.spi", ""}}, "fixture.spi");
    const std::string data = test::QvtImage(1, 1);
    EXPECT_EQ(list_.FindSupportingData("", data.data(), data.size()), list_.Items(0));
    const FixtureProbe probe = Probe(list_, 0);
    EXPECT_TRUE(probe.LastNameWasNull());
    EXPECT_EQ(probe.LastValue(), reinterpret_cast<ULONG_PTR>(data.data()));
}

TEST_F(SusiePluginListFolder, DisabledChildIsNeverAskedNorAdvertised) {
    LoadInOrder({{"off.spi", "formats=*.jpg|JPEG picture\naccept=all"},
                 {"on.spi", "formats=*.png|PNG picture\naccept=all"}});
    list_.Items(0)->Enabled = false;
    const std::string data = test::QvtImage(1, 1);

    log_.Clear();
    EXPECT_EQ(list_.FindSupporting("photo.jpg", 0), list_.Items(1));
    EXPECT_EQ(list_.FindSupportingData("photo.jpg", data.data(), static_cast<DWORD>(data.size())),
              list_.Items(1));
    EXPECT_EQ(list_.FindSupportingData("", data.data(), data.size()), list_.Items(1));
    list_.BuildFormatLists();
    list_.SetUseCMYKColorSpace(-1);
    for (const std::string& line : log_.Lines()) {
        EXPECT_NE(line.rfind("off.spi ", 0), 0u) << line;
    }
    EXPECT_EQ(list_.Patterns, (Names{"*.png"}));
}

TEST_F(SusiePluginListFolder, FormatListsOfSeveralChildren) {
    LoadInOrder({{"none.spi", "formats="},
                 {"off.spi", "formats=*.bmp|Bitmap"},
                 {"jpeg.spi", "formats=*.jpg|JPEG picture;*.jpeg|JPEG picture"},
                 {"png.spi", "formats=*.png|PNG picture"}});
    list_.Items(1)->Enabled = false;
    list_.BuildFormatLists();

    EXPECT_EQ(list_.Patterns, (Names{"*.jpg", "*.jpeg", "*.png"}));
    EXPECT_EQ(list_.Descriptions, (Names{"JPEG picture", "JPEG picture", "PNG picture"}));
    EXPECT_EQ(list_.GetPattern(0), "*.jpg");
    EXPECT_EQ(list_.GetDescription(0), "JPEG picture");
    EXPECT_EQ(list_.GetPattern(2), "*.png");
    EXPECT_EQ(list_.GetDescription(2), "PNG picture");
    EXPECT_EQ(list_.GetPattern(3), "");
    EXPECT_EQ(list_.GetDescription(3), "");
    EXPECT_EQ(list_.GetPattern(-1), "");

    // Built afresh each time, never appended to.
    list_.BuildFormatLists();
    EXPECT_EQ(list_.Patterns.size(), 3u);

    list_.Clear();
    EXPECT_EQ(list_.Count(), 0);
    EXPECT_TRUE(list_.Patterns.empty());
    EXPECT_TRUE(list_.Descriptions.empty());
}

TEST_F(SusiePluginListFolder, NoChildWithFormatsAdvertisesNothing) {
    LoadInOrder({{"none.spi", "formats="}});
    list_.BuildFormatLists();
    EXPECT_TRUE(list_.Patterns.empty());
    EXPECT_EQ(list_.GetPattern(0), "");
    EXPECT_EQ(list_.GetDescription(0), "");
}

TEST_F(SusiePluginListFolder, FaultInGetPluginInfoStopsOnlyThatChild) {
    folder_.AddChild("fixture_faulty.spi", "faulty.spi", "order0", "formats=*.bad|Bad");
    list_.LoadDirectory(WidenAnsi(folder_.Path() + "\\order0"));
    folder_.AddChild("fixture.spi", "good.spi", "order1", "formats=*.jpg|JPEG picture");
    list_.LoadDirectory(WidenAnsi(folder_.Path() + "\\order1"));
    ASSERT_EQ(list_.Count(), 2);

    const char* const faults[] = {"GetPluginInfo:access", "GetPluginInfo:divide",
                                  "GetPluginInfo:raise", "GetPluginInfo:msvc",
                                  "GetPluginInfo:delphi"};
    for (const char* fault : faults) {
        Probe(list_, 0).Configure("fault", fault);
        const int before = Probe(list_, 0).CallCount("GetPluginInfo");
        list_.BuildFormatLists();
        // Stopped at its first fault, not asked for the type name after it.
        EXPECT_EQ(Probe(list_, 0).CallCount("GetPluginInfo") - before, 1) << fault;
        EXPECT_EQ(list_.Patterns, (Names{"*.jpg"})) << fault;
        EXPECT_EQ(list_.Descriptions, (Names{"JPEG picture"})) << fault;
    }
}

TEST_F(SusiePluginListFolder, ReportedLengthsNeverReachPastTheBuffer) {
    const std::string longPattern(300, 'x');
    struct Case {
        const char* name;
        std::string config;
        std::string pattern;
        std::string description;
    };
    const Case cases[] = {
        {"reports more than it wrote", "infolength=200\nformats=*.qvt|QVT", "*.qvt", "QVT"},
        {"fills the buffer and reports more", "infolength=100000\nformats=" + longPattern + "|QVT",
         std::string(255, 'x'), "QVT"},
        {"reports less than it wrote", "infolength=3\nformats=*.qvt|QVT", "*.q", "QVT"},
        {"reports a negative length", "infolength=-5\nformats=*.qvt|QVT", "", ""},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        TSusiePluginList list;
        const std::string sub = "lying" + std::to_string(i);
        folder_.AddChild("fixture.spi", "lying.spi", sub, c.config);
        list.LoadDirectory(WidenAnsi(folder_.Path() + "\\" + sub));
        ASSERT_EQ(list.Count(), 1) << c.name;
        list.BuildFormatLists();
        ASSERT_EQ(list.Patterns.size(), 1u) << c.name;
        EXPECT_EQ(list.Patterns[0], c.pattern) << c.name;
        EXPECT_EQ(list.Descriptions[0], c.description) << c.name;
    }
}

TEST_F(SusiePluginListFolder, UseCMYKColorSpaceReachesEnabledChildrenOnly) {
    LoadInOrder({{"on.spi", ""}, {"off.spi", ""}, {"plain.spi", ""}});
    list_.Items(1)->Enabled = false;
    for (const int32_t value : {-1, 0}) {
        list_.SetUseCMYKColorSpace(value);
        EXPECT_EQ(Probe(list_, 0).LastCMYK(), value);
        EXPECT_EQ(Probe(list_, 2).LastCMYK(), value);
    }
    EXPECT_EQ(Probe(list_, 0).CallCount("UseCMYKColorSpace"), 2);
    EXPECT_EQ(Probe(list_, 1).CallCount("UseCMYKColorSpace"), 0);
}

// The settings dialog reorders the children while the host's other threads choose one: every
// choice must still find a child, never a slot caught half moved.
TEST(SusiePluginListOrder, ChoosingAChildWhileTheOrderChanges) {
    TempPluginFolder folder;
    TSusiePluginList list;
    for (const char* name : {"a.spi", "b.spi", "c.spi"})
        folder.AddChild("fixture_extended.spi", name, "", "accept=all");
    list.LoadDirectory(WidenAnsi(folder.Path()));
    ASSERT_EQ(list.Count(), 3);
    const std::string data = test::QvtImage(1, 1);
    std::atomic<int> choosing{2};
    std::atomic<int> missed{0};
    auto choose = [&] {
        for (int choice = 0; choice < 2000; ++choice) {
            if (list.FindSupporting("photo.qvt", 0) == nullptr) ++missed;
            if (list.FindSupportingData("", data.data(), DWORD(data.size())) == nullptr) ++missed;
        }
        --choosing;
    };
    std::thread first(choose), second(choose);
    for (int move = 0; choosing > 0; ++move) list.Move(move % 3, (move + 1) % 3);
    first.join();
    second.join();
    EXPECT_EQ(missed, 0);
    EXPECT_EQ(FileNames(list, 0, 3), (Names{"a.spi", "b.spi", "c.spi"}));
}

}  // namespace
}  // namespace qorvi
