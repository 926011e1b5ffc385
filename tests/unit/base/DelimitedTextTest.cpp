#include "base/DelimitedText.h"
#include "tests/unit/ShiftJis.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qorvi {
namespace {

using Entries = std::vector<std::string>;

struct SplitCase {
    const char* name;
    std::string text;
    char delimiter;
    Entries expected;
};

TEST(DelimitedText, SplitsAsTheOrderStringAndFormatListsNeed) {
    // clang-format off
    const SplitCase cases[] = {
        {"empty text", "", ',', {}},
        {"only blanks", " \t\r\n ", ',', {}},
        {"one entry", "a", ',', {"a"}},
        {"plain entries", "a,b,c", ',', {"a", "b", "c"}},
        {"blanks around delimiters", "  a ,\t b  ,  c  ", ',', {"a", "b", "c"}},
        {"control characters count as blanks", "\x01" "a\x1f,\x02" "b", ',', {"a", "b"}},
        {"blank ends an unquoted entry", "a b,c", ',', {"a", "b", "c"}},
        {"quoted entry keeps blanks and delimiters", "\"a b,c\",d", ',', {"a b,c", "d"}},
        {"doubled quote stands for one", "\"say \"\"hi\"\"\",x", ',', {"say \"hi\"", "x"}},
        {"quoted empty entry", "\"\",a", ',', {"", "a"}},
        {"unclosed quote runs to the end", "a,\"b,c", ',', {"a", "b,c"}},
        {"text after a closing quote is an entry of its own", "\"a\"b,c", ',', {"a", "b", "c"}},
        {"trailing delimiter adds one empty entry", "a,", ',', {"a", ""}},
        {"trailing delimiter after blanks", "a ,", ',', {"a", ""}},
        {"delimiter then blanks adds nothing", "a, ", ',', {"a"}},
        {"leading delimiter gives an empty entry", ",a", ',', {"", "a"}},
        {"two delimiters give an empty entry", "a,,b", ',', {"a", "", "b"}},
        {"only a delimiter: an empty entry and the trailing one", ",", ',', {"", ""}},
        {"a zero byte ends the text", std::string("a,b\0,c", 6), ',', {"a", "b"}},
        {"bytes of 0x80 and more are not blanks", "\x83\x5c.spi,\xe0\x40", ',',
         {"\x83\x5c.spi", "\xe0\x40"}},
        {"format list at semicolons", "*.jpg;*.jpeg; *.jpe", ';', {"*.jpg", "*.jpeg", "*.jpe"}},
        {"the other delimiter is part of an entry", "a,b;c", ';', {"a,b", "c"}},
    };
    // clang-format on
    for (const SplitCase& c : cases) {
        EXPECT_EQ(SplitDelimitedText(c.text, c.delimiter), c.expected) << c.name;
    }
}

using test::ShiftJisLeadByte;

TEST(DelimitedText, FileExtension) {
    struct Case {
        const char* name;
        const char* fileName;
        LeadByteTest lead;
        const char* expected;
    };
    const Case cases[] = {
        {"plain", "photo.JPG", nullptr, ".JPG"},
        {"last dot wins", "archive.tar.gz", nullptr, ".gz"},
        {"full path", "C:\\pictures\\photo.jpeg", nullptr, ".jpeg"},
        {"folder with dots, file without", "C:\\my.pictures\\photo", nullptr, ""},
        {"forward slashes", "C:/my.pictures/photo", nullptr, ""},
        {"drive colon", "C:photo", nullptr, ""},
        {"dot before the drive colon", "x.y:photo", nullptr, ""},
        {"no extension", "photo", nullptr, ""},
        {"empty", "", nullptr, ""},
        {"trailing dot", "photo.", nullptr, "."},
        {"dot file", "C:\\x\\.spi", nullptr, ".spi"},
        // 0x83 0x5C is one character; its trail byte is no path delimiter.
        {"double-byte trail is no delimiter", "a.\x83\x5c", ShiftJisLeadByte, ".\x83\x5c"},
        {"without a lead-byte test the trail reads as a delimiter", "a.\x83\x5c", nullptr, ""},
        {"double-byte folder", "C:\\\x83\x5c.d\\photo.png", ShiftJisLeadByte, ".png"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FileExtension(c.fileName, c.lead), c.expected) << c.name;
    }
}

TEST(DelimitedText, EndsWithPathDelimiter) {
    struct Case {
        const char* path;
        LeadByteTest lead;
        bool expected;
    };
    const Case cases[] = {
        {"C:\\plugins\\", nullptr, true},
        {"C:\\plugins", nullptr, false},
        {"C:/plugins/", nullptr, true},
        {"", nullptr, false},
        // A folder ending in the Shift-JIS character 0x83 0x5C still needs its delimiter.
        {"C:\\\x83\x5c", ShiftJisLeadByte, false},
        {"C:\\\x83\x5c\\", ShiftJisLeadByte, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(EndsWithPathDelimiter(c.path, c.lead), c.expected) << c.path;
    }
}

}  // namespace
}  // namespace qorvi
