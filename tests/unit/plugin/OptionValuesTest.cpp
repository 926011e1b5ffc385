#include "plugin/OptionValues.h"
#include "tests/unit/ShiftJis.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace qorvi {
namespace {

TEST(ParseOptionInteger, AcceptsDecimalAndPrefixedHexOnly) {
    // clang-format off
    const std::pair<const char*, std::optional<int32_t>> cases[] = {
        {"42", 42}, {"+42", 42}, {"-42", -42}, {"007", 7},
        {"2147483647", INT32_MAX}, {"-2147483648", INT32_MIN},
        {"2147483648", std::nullopt},  // decimal does not wrap
        {"-2147483649", std::nullopt}, {"99999999999999999999999", std::nullopt},
        {"$FF", 255}, {"0xFF", 255}, {"0XfF", 255}, {"$7FFFFFFF", INT32_MAX},
        {"$FFFFFFFF", -1}, {"0x80000000", INT32_MIN},  // hex keeps the colour's bit pattern
        {"0x00000000FF", 255}, {"$100000000", std::nullopt},
        {"", std::nullopt}, {"+", std::nullopt}, {"-", std::nullopt}, {"$", std::nullopt},
        {"0x", std::nullopt}, {"red", std::nullopt}, {"12abc", std::nullopt},
        {"$FG", std::nullopt}, {" 12", std::nullopt}, {"1.5", std::nullopt},
        {"-$FF", std::nullopt}, {"FF", std::nullopt},
    };
    // clang-format on
    for (const auto& [text, value] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(ParseOptionInteger(text), value);
    }
    EXPECT_EQ(ParseOptionInteger(std::string_view("12\0"
                                                  "3",
                                                  4)),
              std::nullopt);
}

TEST(ParseOptionInteger, NoValueKeepsTheDefault) {
    EXPECT_EQ(ParseOptionIntegerOr("word", 0xAAAAAA), 0xAAAAAA);
    EXPECT_EQ(ParseOptionIntegerOr("$FF", 0xAAAAAA), 255);
    struct Case {
        const char* text;
        bool defaultValue;
        bool expected;
    };
    const Case cases[] = {
        {"0", true, false}, {"2", false, true}, {"-1", false, true}, {"$0", true, false},
        {"", true, true},   {"", false, false}, {"no", true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text) + (c.defaultValue ? "/true" : "/false"));
        EXPECT_EQ(ParseOptionBooleanOr(c.text, c.defaultValue), c.expected);
    }
    for (int32_t value : {0, -1, 0xFFFFFF, INT32_MIN, INT32_MAX})
        EXPECT_EQ(ParseOptionInteger(FormatOptionInteger(value)), value);
}

TEST(WrapOrderString, PutsBackOnlyTheStrippedPair) {
    const std::pair<const char*, const char*> cases[] = {
        {"", ""},
        {"a.spi=1", "\"a.spi=1\""},
        {"a.spi=1\",\"b.spi=0", "\"a.spi=1\",\"b.spi=0\""},
        {"\"a.spi=1\",\"b.spi=0\"", "\"a.spi=1\",\"b.spi=0\""},
    };
    for (const auto& [read, expected] : cases) EXPECT_EQ(WrapOrderString(read), expected);
}

using test::ShiftJisLeadByte;

TEST(FilePaths, ExtensionIsTakenFromTheFileNameOnly) {
    struct Case {
        const char* path;
        const char* ini;
        const char* section;
    };
    const Case cases[] = {
        {"C:\\Susie\\qorvi.spi", "C:\\Susie\\qorvi.ini", "qorvi"},
        {"C:\\Su.sie\\qorvi", "C:\\Su.sie\\qorvi.ini", "qorvi"},  // a folder's "." is no extension
        {"C:/Su.sie/qorvi", "C:/Su.sie/qorvi.ini", "qorvi"},
        {"C:viewer.exe", "C:viewer.ini", "viewer"},
        {"D:\\my.viewer.exe", "D:\\my.viewer.ini", "my.viewer"},
        {"viewer.", "viewer.ini", "viewer"},
        {"", ".ini", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(IniPathFromLibraryPath(c.path), c.ini);
        EXPECT_EQ(HostSectionNameFromPath(c.path), c.section);
        // The same in UTF-16 (all these paths are ASCII).
        auto wide = [](std::string_view text) { return std::wstring(text.begin(), text.end()); };
        EXPECT_EQ(IniPathFromLibraryPath(wide(c.path)), wide(c.ini));
        EXPECT_EQ(HostSectionNameFromPath(wide(c.path)), wide(c.section));
    }
    EXPECT_EQ(ChangeFileExtension("C:\\Susie\\qorvi.spi", ".dll"), "C:\\Susie\\qorvi.dll");
}

TEST(FilePaths, DoubleByteTrailBackslashIsNoDelimiter) {
    // "表" is 0x95 0x5C in code page 932: its trail byte is the byte of "\".
    const std::string name = "\x89\xE6\x91\x9C\x95\x5C\x8E\xA6";  // 画像表示
    EXPECT_EQ(HostSectionNameFromPath("C:\\Tools\\" + name + ".exe", ShiftJisLeadByte), name);
    const std::string library = "C:\\a.b\\\x95\x5Cqorvi";
    EXPECT_EQ(IniPathFromLibraryPath(library, ShiftJisLeadByte), library + ".ini");
    EXPECT_EQ(FileNameStart("C:\\x\x95", ShiftJisLeadByte), 3u);  // a lone lead byte at the end
}

TEST(SizeList, ParseSizeNeedsTwoNumbersAroundLowerCaseX) {
    const std::pair<const char*, SizeValue> cases[] = {
        {"800x600", {800, 600}},     {"0x600", {0, 600}},  {"+800x+600", {800, 600}},
        {"800X600", {-5, -6}},       {"x600", {-5, -6}},   {"800x", {-5, -6}},
        {"abcx600", {-5, -6}},       {"-1x600", {-5, -6}}, {"800x600x1", {-5, -6}},
        {"99999999999x1", {-5, -6}},
    };
    for (const auto& [text, size] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(ParseSize(text, -5, -6), size);
    }
    EXPECT_EQ(FormatSize(1920, 1080), "1920x1080");
}

TEST(SizeList, FindOrInsertKeepsTheListSorted) {
    struct Case {
        const char* text;
        int index;
        const char* after;
    };
    const Case cases[] = {
        {"1024x768", 1, "800x600,1024x768,1280x1024"},
        {"800X600", 0, "800x600,1280x1024"},  // equal ignoring case: the existing item
        {"800x480", 0, "800x480,800x600,1280x1024"},
        {"800x700", 1, "800x600,800x700,1280x1024"},
        {"1920x1080", 2, "800x600,1280x1024,1920x1080"},
        {"0x600", -1, "800x600,1280x1024"},
        {"1600X1200", -1, "800x600,1280x1024"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::vector<std::string> items = {"800x600", "1280x1024"};
        EXPECT_EQ(FindOrInsertSize(items, c.text), c.index);
        EXPECT_EQ(JoinSizeList(items), c.after);
    }
}

TEST(SizeList, SortedListDropsDuplicatesAndInvalidEntries) {
    const std::pair<const char*, const char*> cases[] = {
        {"1280x1024,800x600,800x600", "800x600,1280x1024"},
        {"160x160,120x90,160x120,120x120", "120x90,120x120,160x120,160x160"},
        {" bad, ,0x0,\"1x1\",", "1x1"},
        {"", ""},
    };
    for (const auto& [stored, shown] : cases)
        EXPECT_EQ(JoinSizeList(SortedSizeList(stored)), shown);
}

}  // namespace
}  // namespace qorvi
