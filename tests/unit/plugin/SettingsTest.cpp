// The settings record against real INI files, through the system's profile functions.
#include "base/WinText.h"
#include "plugin/Settings.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace qorvi {
namespace {

// The section this test executable reads as its own (plugin_tests.exe).
constexpr const char* OwnSection = "plugin_tests";

class SettingsFile : public ::testing::Test {
protected:
    void SetUp() override {
        char temp[MAX_PATH + 1] = {};
        ASSERT_NE(GetTempPathA(sizeof temp, temp), 0u);
        folder_ = std::string(temp) + "qorvi-settings-" + std::to_string(GetCurrentProcessId());
        CreateDirectoryA(folder_.c_str(), nullptr);
    }
    void TearDown() override {
        for (const std::string& file : files_) DeleteFileA(file.c_str());
        RemoveDirectoryA(folder_.c_str());
    }

    // A fresh file name per use: the profile functions may cache a file they have seen.
    std::string NewPath() {
        std::string path = folder_ + "\\" + std::to_string(files_.size()) + ".ini";
        files_.push_back(path);
        return path;
    }
    std::string WriteIni(const std::string& content) {
        std::string path = NewPath();
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }
    static std::string ReadText(const std::string& path) {
        std::stringstream text;
        text << std::ifstream(path, std::ios::binary).rdbuf();
        return text.str();
    }
    // "[section]" lines and the key of every "key=value" line, in file order.
    static std::vector<std::string> Lines(const std::string& path) {
        std::vector<std::string> lines;
        std::istringstream in(ReadText(path));
        for (std::string line; std::getline(in, line);) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.empty()) continue;
            lines.push_back(line[0] == '[' ? line : line.substr(0, line.find('=')));
        }
        return lines;
    }

    std::string folder_;
    std::vector<std::string> files_;
};

TPluginOption ScreenDefaults() {
    TPluginOption option;
    option.MaxWidth = GetSystemMetrics(SM_CXSCREEN);
    option.MaxHeight = GetSystemMetrics(SM_CYSCREEN);
    return option;
}

// Every field away from its default, strings included.
TPluginOption EveryFieldChanged() {
    return {false,
            "C:\\color\\monitor.icm",
            "D:\\Japan Color 2001 Coated.icc",
            "proof.icc",
            3,
            true,
            true,
            true,
            false,
            true,
            1920,
            1080,
            5,
            "640x480",
            2,
            96,
            64,
            0,
            "96x64",
            0x123456,
            -1,
            true};
}

TEST_F(SettingsFile, MissingFileLeavesEveryDefault) {
    TPluginOption option = DefaultPluginOption();
    EXPECT_GT(option.MaxWidth, 0);
    EXPECT_EQ(option, ScreenDefaults());
    std::string order;
    LoadSettings(WidenAnsi(NewPath()), option, order);
    EXPECT_EQ(option, ScreenDefaults());
    EXPECT_EQ(order, "");
    EXPECT_EQ(HostSectionName(), OwnSection);
}

TEST_F(SettingsFile, HostSectionOverridesDefaultAndOtherHostsAreNotRead) {
    std::string ini = WriteIni(
        "[Default]\r\n"
        "RenderingIntent=2\r\n"
        "DecimationMode=4\r\n"
        "MonitorProfileName=C:\\default.icc\r\n"
        "CMYKProfileName=C:\\cmyk.icc\r\n"
        "SPIOrder=\"a.spi=1\",\"b.spi=0\"\r\n"
        "[PLUGIN_TESTS]\r\n"  // section names match without regard to case
        "DecimationMode=5\r\n"
        "MonitorProfileName=\r\n"
        "[otherhost]\r\n"
        "ThumbnailWidth=99\r\n"
        "RenderingIntent=1\r\n"
        "[Common]\r\n"
        "ImageSizeList=\r\n"
        "ThumbnailSizeList=1x1\r\n");
    TPluginOption option = DefaultPluginOption();
    std::string order;
    LoadSettings(WidenAnsi(ini), option, order);

    TPluginOption expected = ScreenDefaults();
    expected.RenderingIntent = 2;      // only in "Default": applies
    expected.DecimationMode = 5;       // the host's own value wins
    expected.MonitorProfileName = "";  // an empty stored string is a value, not "missing"
    expected.CMYKProfileName = "C:\\cmyk.icc";
    expected.ImageSizeList = "";  // and not the default list either
    expected.ThumbnailSizeList = "1x1";
    EXPECT_EQ(option, expected);
    EXPECT_EQ(order, "\"a.spi=1\",\"b.spi=0\"");  // carried over from "Default"
}

TEST_F(SettingsFile, ValuesParseOrKeepTheDefault) {
    struct Case {
        const char* line;
        std::function<void(TPluginOption&)> expect;  // applies the expected change to defaults
    };
    const Case cases[] = {
        {"BGColor1=0xFF", [](TPluginOption& o) { o.BGColor1 = 255; }},
        {"BGColor1=$FF", [](TPluginOption& o) { o.BGColor1 = 255; }},
        {"BGColor1=red", [](TPluginOption&) {}},
        {"BGColor2=\"$00FF00\"", [](TPluginOption& o) { o.BGColor2 = 0xFF00; }},
        {"MaxWidth=  640  ", [](TPluginOption& o) { o.MaxWidth = 640; }},
        {"MaxHeight=-480", [](TPluginOption& o) { o.MaxHeight = -480; }},  // no range on reading
        {"RenderingIntent=4294967296", [](TPluginOption&) {}},
        {"ThreadSafeSPI=2", [](TPluginOption& o) { o.ThreadSafeSPI = true; }},
        {"ColorManagement=", [](TPluginOption&) {}},
        {"AutomaticRotation=off", [](TPluginOption&) {}},
        {"ProofingProfileName=\"C:\\my proof.icc\"",
         [](TPluginOption& o) { o.ProofingProfileName = "C:\\my proof.icc"; }},
        {"imagesizelist=1x1", [](TPluginOption&) {}},  // a list in a host section is not read
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        std::string ini = WriteIni(std::string("[plugin_tests]\r\n") + c.line + "\r\n");
        TPluginOption option = DefaultPluginOption();
        std::string order;
        ReadHostSettings(WidenAnsi(ini), option, order);
        TPluginOption expected = ScreenDefaults();
        c.expect(expected);
        EXPECT_EQ(option, expected);
    }
}

TEST_F(SettingsFile, OrderStringReadsBackWithItsQuotes) {
    struct Case {
        const char* stored;
        const char* before;
        const char* read;
    };  // nullptr: no key
    const Case cases[] = {
        {"\"a.spi=1\",\"b.spi=0\"", "", "\"a.spi=1\",\"b.spi=0\""},
        {"a.spi=1,b.spi=0", "", "\"a.spi=1,b.spi=0\""},
        {"", "\"a.spi=1\"", ""},
        {nullptr, "\"a.spi=1\",\"b.spi=1\"", "\"a.spi=1\",\"b.spi=1\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored ? c.stored : "(no key)");
        std::string content = "[s]\r\nDecimationMode=1\r\n";
        if (c.stored) content += std::string("SPIOrder=") + c.stored + "\r\n";
        TPluginOption option;
        std::string order = c.before;
        ReadPluginOption(WidenAnsi(WriteIni(content)), "s", option, order);
        EXPECT_EQ(order, c.read);
    }
    // What WritePluginOption stores reads back exactly.
    for (const char* written : {"\"a.spi=1\"", "\"a.spi=1\",\"b b.spi=0\",\"c.spi=1\"", ""}) {
        std::string ini = NewPath();
        WritePluginOption(WidenAnsi(ini), "s", TPluginOption{}, written);
        TPluginOption option;
        std::string order = "\"stale.spi=1\"";
        ReadPluginOption(WidenAnsi(ini), "s", option, order);
        EXPECT_EQ(order, written);
    }
}

// Only the order string is read past 2047 characters: a cut list would lose its last children's
// places, and a cut inside an entry would switch that child off.
TEST_F(SettingsFile, LongOrderStringReadsWholeOtherValuesAreCut) {
    std::string order;
    for (int i = 0; i < 400; ++i)
        order += (i ? ",\"" : "\"") + std::string("child") + std::to_string(i) + ".spi=1\"";
    ASSERT_GT(order.size(), 3 * 2048u);
    const std::string longName(3000, 'p');
    std::string ini = NewPath();
    TPluginOption written;
    written.MonitorProfileName = longName;
    WritePluginOption(WidenAnsi(ini), "s", written, order);

    TPluginOption option;
    std::string read;
    ReadPluginOption(WidenAnsi(ini), "s", option, read);
    EXPECT_EQ(read, order);
    EXPECT_EQ(option.MonitorProfileName, longName.substr(0, 2047));
}

TEST_F(SettingsFile, WriteStoresAll21KeysInOrder) {
    std::string ini = NewPath();
    WritePluginOption(WidenAnsi(ini), "viewer", EveryFieldChanged(), "\"a.spi=1\"");
    const std::vector<std::string> expected = {"[viewer]",
                                               "ColorManagement",
                                               "MonitorProfileName",
                                               "CMYKProfileName",
                                               "ProofingProfileName",
                                               "RenderingIntent",
                                               "BlackPointCompensation",
                                               "LowerResolutionTable",
                                               "SoftProofing",
                                               "AutomaticRotation",
                                               "LimitedOutputSize",
                                               "MaxWidth",
                                               "MaxHeight",
                                               "DecimationMode",
                                               "ThumbnailQuality",
                                               "ThumbnailWidth",
                                               "ThumbnailHeight",
                                               "ThumbnailCMMode",
                                               "BGColor1",
                                               "BGColor2",
                                               "ThreadSafeSPI",
                                               "SPIOrder"};
    EXPECT_EQ(Lines(ini), expected);
    std::string text = ReadText(ini);  // booleans as 1/0, integers in decimal
    for (const char* stored : {"ColorManagement=0\r\n", "SoftProofing=1\r\n", "BGColor2=-1\r\n"})
        EXPECT_NE(text.find(stored), std::string::npos) << stored;
}

TEST_F(SettingsFile, SaveThenLoadRoundTripsEveryField) {
    for (bool writeDefault : {false, true}) {
        SCOPED_TRACE(writeDefault ? "with Default" : "host only");
        std::string ini = NewPath();
        const TPluginOption saved = EveryFieldChanged();
        const std::string savedOrder = "\"a.spi=0\",\"b.spi=1\"";
        SaveSettings(WidenAnsi(ini), saved, savedOrder, "", writeDefault);

        TPluginOption loaded = DefaultPluginOption();
        std::string order;
        LoadSettings(WidenAnsi(ini), loaded, order);
        EXPECT_EQ(loaded, saved);
        EXPECT_EQ(order, savedOrder);

        std::vector<std::string> sections;
        for (const std::string& line : Lines(ini))
            if (line[0] == '[') sections.push_back(line);
        std::vector<std::string> expected = {"[plugin_tests]", "[Common]"};
        if (writeDefault) expected.insert(expected.begin(), "[Default]");
        EXPECT_EQ(sections, expected);
    }
}

// Another build sharing the file may have written a section since start-up: each section is
// merged with what it holds when written, and only one that holds no order takes start-up's.
TEST_F(SettingsFile, SaveMergesEachSectionWithItsStoredOrder) {
    struct Case {
        const char* name;
        const char* content;
        const char* defaultOrder;
        const char* hostOrder;
    };
    const Case cases[] = {
        {"each its own",
         "[Default]\r\nSPIOrder=\"a.spi=0\",\"d.sph=1\"\r\n"
         "[plugin_tests]\r\nSPIOrder=\"h.sph=0\",\"a.spi=0\"\r\n",
         "\"a.spi=1\",\"d.sph=1\"", "\"h.sph=0\",\"a.spi=1\""},
        {"none in the host's", "[Default]\r\nSPIOrder=\"a.spi=0\",\"d.sph=1\"\r\n",
         "\"a.spi=1\",\"d.sph=1\"", "\"s.sph=1\",\"a.spi=1\""},
        {"an empty one is one", "[Default]\r\nSPIOrder=\r\n[plugin_tests]\r\nSPIOrder=\r\n",
         "\"a.spi=1\"", "\"a.spi=1\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string ini = WriteIni(c.content);
        SaveSettings(WidenAnsi(ini), TPluginOption{}, "\"a.spi=1\"", "\"s.sph=1\",\"a.spi=0\"",
                     true);
        for (const auto& [section, expected] :
             {std::pair{DefaultSectionName, c.defaultOrder}, std::pair{OwnSection, c.hostOrder}}) {
            TPluginOption option;
            std::string order;
            ReadPluginOption(WidenAnsi(ini), section, option, order);
            EXPECT_EQ(order, expected) << section;
        }
    }
}

TEST_F(SettingsFile, FailedWriteThrowsNamingTheFile) {
    const std::string ini = folder_ + "\\no such folder\\qorvi.ini";
    try {
        WritePluginOption(WidenAnsi(ini), "viewer", TPluginOption{}, "");
        FAIL() << "no error for an unwritable file";
    } catch (const SettingsWriteError& error) {
        EXPECT_EQ(error.path(), WidenAnsi(ini));
        EXPECT_EQ(error.message(), WidenAnsi(ini) + L" に書き込めません");
        EXPECT_NE(std::string(error.what()).find(ini), std::string::npos);
    }
    EXPECT_THROW(SaveSettings(WidenAnsi(ini), TPluginOption{}, "", "", true), SettingsWriteError);
    EXPECT_THROW(WriteSizeLists(WidenAnsi(ini), TPluginOption{}), std::runtime_error);
}

}  // namespace
}  // namespace qorvi
