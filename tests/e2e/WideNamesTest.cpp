// Names the system code page cannot spell, with code page 932 (Japanese) as the system's, as on
// the viewers' home machines: an ANSI function there reads Shift-JIS, and a folder named in
// Hangul, Chinese or characters beyond the Basic Multilingual Plane has no ANSI name at all.
//
// The cases run as their own CTest entry, e2e_cp932_tests, in the Unix locale ja_JP.UTF-8, from
// which Wine takes code page 932 for that process. Under any other code page they skip, unless
// QORVI_EXPECT_CP932 says the run was set up for 932: then they fail.
#include "tests/unit/TestSupport.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

namespace qorvi::test {
namespace {

// Hangul, Chinese and an emoji (a surrogate pair): none of it in code page 932.
constexpr wchar_t Unspellable[] = L"사진汉语😀";

bool ExpectsCodePage932() {
    char value[8] = {};
    const DWORD length = GetEnvironmentVariableA("QORVI_EXPECT_CP932", value, sizeof value);
    return length > 0 && length < sizeof value && std::string(value) == "1";
}

class WideNames : public ::testing::Test {
protected:
    void SetUp() override {
        if (GetACP() == 932) return;
        if (ExpectsCodePage932())
            FAIL() << "code page " << GetACP() << " instead of 932: Wine found no ja_JP.UTF-8 "
                   << "in LOCPATH (the build generates it with localedef from Debian's locales)";
        GTEST_SKIP() << "needs code page 932; the CTest entry e2e_cp932_tests runs it so";
    }
};

TEST_F(WideNames, CodePageIs932) {
    EXPECT_EQ(GetACP(), 932u);
    TempPluginFolder folder(Unspellable);
    const std::string picture = QvtImage(3, 2);
    const std::wstring path = folder.AddFile(std::wstring(Unspellable) + L".qvt", picture);
    EXPECT_EQ(ReadWholeFile(path), picture);
}

}  // namespace
}  // namespace qorvi::test
