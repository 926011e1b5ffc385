// qorvi-host end to end: the built executable runs as a child process against real plug-ins (the
// QVT1 fixture and an odd child of our own), and its lines, exit codes and PNGs are checked.
#include "base/WinHandles.h"
#include "base/WinText.h"
#include "tests/unit/TestSupport.h"
#include "tests/unit/tools/PngReader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qorvi::test {
namespace {

std::string HostPath() { return BuiltPath("qorvi-host.exe"); }
std::string OddChildPath() { return BuiltPath("toolfixtures\\odd.spi"); }

// Runs qorvi-host with `args` and collects what it prints.
ProgramRun RunHost(const std::vector<std::string>& args) { return RunProgram(HostPath(), args); }

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::vector<uint8_t> Bytes(const std::string& text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}

// Files for one test, in a folder of its own.
class QorviHost : public ::testing::Test {
protected:
    void SetUp() override {
        qvt_ = folder_.AddFile("picture.qvt", QvtImage(7, 5));
        shifted_ = folder_.AddFile("shifted.bin", "12345678" + QvtImage(7, 5));
        text_ = folder_.AddFile("text.txt", "not a picture at all");
        truncated_ = folder_.AddFile("truncated.qvt", QvtImageTruncated(7, 5, 20));
    }
    std::string Fixture() const { return FixturePath("fixture.spi"); }
    std::string Odd(char mode) {
        return folder_.AddFile(std::string("odd-") + mode + ".odd", std::string("ODD1") + mode);
    }
    std::string Out(const std::string& name) const { return folder_.Path() + "\\" + name; }

    TempPluginFolder folder_;
    std::string qvt_, shifted_, text_, truncated_;
};

// The QVT1 picture's pixel (x, y) is B = x, G = y, R = x + y.
void ExpectQvtPng(const std::string& path, uint32_t width, uint32_t height) {
    DecodedPng png;
    ASSERT_EQ(DecodePng(Bytes(ReadWholeFile(path)), png), "") << path;
    ASSERT_EQ(png.width, width);
    ASSERT_EQ(png.height, height);
    ASSERT_EQ(png.channels, 3);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            const uint8_t* p = &png.pixels[(size_t(y) * width + x) * 3];
            ASSERT_EQ(p[0], uint8_t(x + y)) << x << "," << y;
            ASSERT_EQ(p[1], uint8_t(y)) << x << "," << y;
            ASSERT_EQ(p[2], uint8_t(x)) << x << "," << y;
        }
}

TEST_F(QorviHost, PictureRequestsPrintOneLinePerCall) {
    struct Case {
        std::vector<std::string> args;
        std::vector<std::string> expected;  // parts of the output
        DWORD exitCode;
    };
    const Case cases[] = {
        {{"picture", qvt_}, {"GetPicture: 0 (ok) 7x5 24-bit ", " ms progress 2"}, 0},
        {{"picture", qvt_, "--memory"}, {"GetPicture: 0 (ok) 7x5 24-bit"}, 0},
        {{"picture", shifted_, "--offset", "8"}, {"GetPicture: 0 (ok) 7x5 24-bit"}, 0},
        {{"picture", shifted_, "--offset", "8", "--memory"}, {"GetPicture: 0 (ok) 7x5 24-bit"}, 0},
        {{"picture", qvt_, "--flag", "0x100"}, {"GetPicture: 0 (ok) 7x5 24-bit"}, 0},
        {{"preview", qvt_}, {"GetPreview: 0 (ok) 7x5 24-bit"}, 0},
        {{"pictureinfo", qvt_},
         {"GetPictureInfo: 0 (ok) 7x5 24-bit ", " ms left 0 top 0 density 0x0 text none"},
         0},
        {{"picture", shifted_}, {"GetPicture: 2 (unsupported)"}, 1},
        {{"pictureinfo", text_}, {"GetPictureInfo: 2 (unsupported)"}, 1},
        {{"picture", truncated_}, {"GetPicture: 8 (internal error)"}, 1},
        {{"picture", qvt_, "--memory", "--offset", "1000"},
         {"GetPicture: offset 1000 lies beyond the end"},
         1},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {Fixture()};
        args.insert(args.end(), c.args.begin(), c.args.end());
        ProgramRun run = RunHost(args);
        SCOPED_TRACE(run.output);
        EXPECT_EQ(run.exitCode, c.exitCode);
        for (const std::string& part : c.expected) EXPECT_TRUE(Contains(run.output, part)) << part;
    }
    ProgramRun quiet = RunHost({Fixture(), "picture", qvt_, "--no-progress"});
    EXPECT_EQ(quiet.exitCode, 0u);
    EXPECT_FALSE(Contains(quiet.output, "progress")) << quiet.output;
}

TEST_F(QorviHost, WritesTheReceivedBitmapAsPng) {
    for (const std::vector<std::string>& extra : {std::vector<std::string>{}, {"--memory"}}) {
        const std::string out = Out("picture.png");
        DeleteFileA(out.c_str());
        std::vector<std::string> args = {Fixture(), "picture", qvt_, "--out", out};
        args.insert(args.end(), extra.begin(), extra.end());
        ProgramRun run = RunHost(args);
        SCOPED_TRACE(run.output);
        EXPECT_EQ(run.exitCode, 0u);
        EXPECT_TRUE(Contains(run.output, ", wrote " + out));
        ExpectQvtPng(out, 7, 5);
    }
}

TEST_F(QorviHost, RepeatedCallsOnThreadsMustAllEqualTheFirst) {
    ProgramRun same =
        RunHost({Fixture(), "picture", qvt_, "--threads", "4", "--repeat", "5", "--memory"});
    EXPECT_EQ(same.exitCode, 0u) << same.output;
    for (int t = 1; t <= 4; ++t)
        EXPECT_TRUE(Contains(same.output, "thread " + std::to_string(t) +
                                              ": 5 x GetPicture, 5 identical to the first"))
            << same.output;

    // The odd child's 'x' picture changes with every call.
    ProgramRun differing =
        RunHost({OddChildPath(), "picture", Odd('x'), "--threads", "2", "--repeat", "3"});
    EXPECT_EQ(differing.exitCode, 1u) << differing.output;
    EXPECT_TRUE(Contains(differing.output,
                         "0 identical to the first, 3 differ (first at call 1: pixel byte 0)"))
        << differing.output;
}

TEST_F(QorviHost, SurvivesWhatAMisbehavingPluginHandsBack) {
    struct Case {
        char mode;
        bool out;
        std::vector<std::string> expected;
        DWORD exitCode;
    };
    const Case cases[] = {
        {'n', false, {"GetPicture: 0 (ok) ", ", but null header handle, null pixel handle"}, 1},
        {'b',
         false,
         {", but bogus header handle (LocalSize 0), bogus pixel handle (LocalSize 0)"},
         1},
        {'s',
         false,
         {"GetPicture: 0 (ok) 100x100 24-bit", ", unusable: 100 x 100 x 24 bits needs 30000 bytes"},
         1},
        {'s',
         true,
         {"GetPicture: 0 (ok) 100x100 24-bit",
          "not written: 100 x 100 x 24 bits needs 30000 bytes, the pixel block holds"},
         1},
        {'8', true, {"GetPicture: 0 (ok) 3x2 8-bit top-down", ", wrote "}, 0},
        {'c', true, {"GetPicture: 0 (ok) 2x1 32-bit", "(CMYK converted naively to RGB)"}, 0},
    };
    for (const Case& c : cases) {
        const std::string out = Out(std::string("odd-") + c.mode + ".png");
        std::vector<std::string> args = {OddChildPath(), "picture", Odd(c.mode)};
        if (c.out) args.insert(args.end(), {"--out", out});
        ProgramRun run = RunHost(args);
        SCOPED_TRACE(run.output);
        EXPECT_EQ(run.exitCode, c.exitCode);
        for (const std::string& part : c.expected) EXPECT_TRUE(Contains(run.output, part)) << part;
    }
    DecodedPng paletted, cmyk;
    ASSERT_EQ(DecodePng(Bytes(ReadWholeFile(Out("odd-8.png"))), paletted), "");
    // Indices 0 1 2 / 3 0 1 through the palette red, green, blue, (7, 8, 9).
    const std::vector<uint8_t> palettedPixels = {255, 0, 0, 0,   255, 0, 0, 0,   255,
                                                 7,   8, 9, 255, 0,   0, 0, 255, 0};
    EXPECT_EQ(paletted.pixels, palettedPixels);
    ASSERT_EQ(DecodePng(Bytes(ReadWholeFile(Out("odd-c.png"))), cmyk), "");
    EXPECT_EQ(cmyk.pixels, (std::vector<uint8_t>{205, 195, 185, 0, 155, 155}));
}

TEST_F(QorviHost, OtherCommandsAndExitCodes) {
    struct Case {
        std::vector<std::string> args;
        std::vector<std::string> expected;
        DWORD exitCode;
    };
    const std::string missing = folder_.Path() + "\\missing.spi";
    const Case cases[] = {
        {{Fixture(), "info"},
         {"GetPluginInfo(0): \"00IN\"", "GetPluginInfo(1): \"qorvi fixture child\"",
          "GetPluginInfo(2): \"*.qvt\"", "GetPluginInfo(3): \"qorvi test picture\"",
          "GetPluginInfo: 1 format pair"},
         0},
        {{Fixture(), "supported", qvt_},
         {"IsSupported(memory): 1 (supported)", "IsSupported(handle): 1 (supported)"},
         0},
        {{Fixture(), "supported", text_}, {"IsSupported(memory): 0 (not supported)"}, 1},
        {{Fixture(), "config"}, {"ConfigurationDlg(1): 0 (ok)"}, 0},
        {{Fixture(), "config", "2"}, {"ConfigurationDlg(2): -1 (not implemented)"}, 1},
        {{OddChildPath(), "config"}, {"ConfigurationDlg: not exported by"}, 1},
        {{FixturePath("fixture_nopreview.spi"), "preview", qvt_},
         {"GetPreview: not exported by"},
         1},
        {{Fixture(), "picture", qvt_, "--wide"},
         {"GetPictureW: not exported by", "(--wide calls the wide entry points)"},
         1},
        {{missing, "info"}, {"LoadLibrary " + missing}, 1},
        // Usage errors.
        {{}, {"usage: qorvi-host PLUGIN COMMAND"}, 2},
        {{Fixture()}, {"usage:"}, 2},
        {{Fixture(), "decode", qvt_}, {"unknown command decode"}, 2},
        {{Fixture(), "picture"}, {"picture needs a FILE"}, 2},
        {{Fixture(), "picture", qvt_, "--bogus"}, {"unknown option --bogus"}, 2},
        {{Fixture(), "picture", qvt_, "--threads", "0"}, {"--threads needs a number"}, 2},
        {{Fixture(), "picture", qvt_, "--repeat"}, {"--repeat needs a number"}, 2},
        {{Fixture(), "picture", qvt_, "--offset", "-1"}, {"--offset needs a number"}, 2},
        {{Fixture(), "pictureinfo", qvt_, "--out", "x.png"},
         {"--out is for picture and preview"},
         2},
        {{Fixture(), "info", "extra"}, {"info takes no arguments"}, 2},
        {{Fixture(), "config", "--wide"}, {"--wide: ConfigurationDlg has no wide twin"}, 2},
    };
    for (const Case& c : cases) {
        ProgramRun run = RunHost(c.args);
        SCOPED_TRACE(run.output);
        EXPECT_EQ(run.exitCode, c.exitCode);
        for (const std::string& part : c.expected) EXPECT_TRUE(Contains(run.output, part)) << part;
    }
}

// A file whose folder and name no code page spells whole (Hangul, Simplified Chinese and a
// character beyond 16 bits): with --wide the W functions get its name exactly, in every command,
// and the host prints names as UTF-8; without, the plug-in gets the name an ANSI viewer has.
TEST_F(QorviHost, WideReachesTheWideEntryPointsWithTheWholeName) {
    const std::wstring picture =
        folder_.AddFile(L"\uC0AC\uC9C4\\\u5199\u771F\U0001F600.odd", "ODD18");
    const std::wstring out = folder_.WidePath() + L"\\\uC0AC\uC9C4\\\u5199\u771F\U0001F600.png";
    const std::string name = Narrow(CP_UTF8, picture);
    const std::string ansiName = AnsiFileName(picture);
    if (ansiName.find('?') == std::string::npos)
        GTEST_SKIP() << "the system code page spells the name whole";

    struct Case {
        std::vector<std::wstring> args;
        std::vector<std::string> expected;  // parts of the output
        std::vector<std::string> calls;     // the child's log
        DWORD exitCode;
    };
    const Case cases[] = {
        {{L"picture", picture, L"--wide", L"--out", out},
         {"GetPictureW: 0 (ok) 3x2 8-bit top-down", ", wrote " + Narrow(CP_UTF8, out)},
         {"odd.spi GetPictureW " + name},
         0},
        {{L"preview", picture, L"--wide"},
         {"GetPreviewW: 0 (ok) 3x2 8-bit"},
         {"odd.spi GetPreviewW " + name},
         0},
        {{L"pictureinfo", picture, L"--wide"},
         {"GetPictureInfoW: 0 (ok) 1x1 24-bit"},
         {"odd.spi GetPictureInfoW " + name},
         0},
        {{L"picture", picture, L"--wide", L"--memory"},
         {"GetPictureW: 0 (ok) 3x2 8-bit"},
         {"odd.spi GetPictureW memory"},
         0},
        {{L"supported", picture, L"--wide"},
         {"IsSupportedW(memory): 1 (supported)", "IsSupportedW(handle): 1 (supported)"},
         {"odd.spi IsSupportedW " + name, "odd.spi IsSupportedW " + name},
         0},
        // The wide texts come out as UTF-8, their lengths counted in UTF-16 units.
        {{L"info", L"--wide"},
         {"GetPluginInfoW(0): \"00IN\"\r\n", "GetPluginInfoW(3): \"odd picture \U0001F600\"\r\n",
          "GetPluginInfoW: 1 format pair"},
         {"odd.spi GetPluginInfoW 0", "odd.spi GetPluginInfoW 1", "odd.spi GetPluginInfoW 2",
          "odd.spi GetPluginInfoW 3", "odd.spi GetPluginInfoW 4"},
         0},
        // What an ANSI viewer passes for that name names no file.
        {{L"picture", picture},
         {"GetPicture: 2 (unsupported)"},
         {"odd.spi GetPicture " + ansiName},
         1},
    };
    const FixtureLog log;
    for (const Case& c : cases) {
        log.Clear();
        std::vector<std::wstring> args = {WidenAnsi(OddChildPath())};
        args.insert(args.end(), c.args.begin(), c.args.end());
        ProgramRun run = RunProgram(WidenAnsi(HostPath()), args);
        SCOPED_TRACE(run.output);
        EXPECT_EQ(run.exitCode, c.exitCode);
        for (const std::string& part : c.expected) EXPECT_TRUE(Contains(run.output, part)) << part;
        EXPECT_EQ(log.Lines(), c.calls);
    }
    EXPECT_NE(GetFileAttributesW(out.c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
}  // namespace qorvi::test
