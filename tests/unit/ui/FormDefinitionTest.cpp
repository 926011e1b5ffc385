// The settings dialog's table of controls and its small text rules, without any window.
#include "ui/FormDefinition.h"
#include "ui/FormText.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace qorvi::form {
namespace {

bool HoldsControls(ControlKind kind) {
    return kind == ControlKind::TabSheet || kind == ControlKind::Panel;
}

TEST(FormDefinition, EveryControlSitsInsideAnEarlierContainer) {
    std::set<std::string> names;
    for (int id = 0; id < ControlCount; ++id) {
        const ControlDefinition& control = Controls[id];
        SCOPED_TRACE(control.name);
        EXPECT_TRUE(names.insert(control.name).second) << "named twice";
        if (control.kind == ControlKind::TabSheet) {
            ASSERT_GE(control.parent, 0);
            EXPECT_EQ(Controls[control.parent].kind, ControlKind::PageControl);
            continue;
        }
        if (control.parent == Form) {
            EXPECT_LE(control.left + control.width, ClientWidth);
            EXPECT_LE(control.top + control.height, ClientHeight);
            continue;
        }
        ASSERT_LT(control.parent, id) << "its parent comes later";
        const ControlDefinition& parent = Controls[control.parent];
        ASSERT_TRUE(HoldsControls(parent.kind)) << "parent " << parent.name;
        // A panel's size is designed: nothing may reach past its edge and be cut off.
        if (parent.kind == ControlKind::Panel) {
            EXPECT_LE(control.left + control.width, parent.width);
            EXPECT_LE(control.top + control.height, parent.height);
        }
    }
    EXPECT_EQ(std::string(Controls[ControlCount - 1].name), "btnCancel");
}

TEST(FormText, CaptionsExtensionsAndProfileNames) {
    EXPECT_EQ(FormatCaption(CaptionFormat, CaptionEdition), L"rovuzezaz ozuze(高速版)の設定");
    EXPECT_EQ(ExtensionColumnText("*.jpg;*.jpeg"), "jpg,jpeg");
    EXPECT_EQ(ExtensionColumnText(""), "");
    EXPECT_TRUE(IsProfileFileName("sRGB Color Space Profile.icm"));
    EXPECT_TRUE(IsProfileFileName("PRESS.ICC"));
    EXPECT_FALSE(IsProfileFileName("notes.icc.txt"));
    EXPECT_FALSE(IsProfileFileName("icc"));
    EXPECT_EQ(ProfileDisplayName("sRGB Color Space Profile.icm"), "sRGB Color Space Profile");
    EXPECT_EQ(ProfileDisplayName("v1.2 press.icc"), "v1.2 press");
    EXPECT_EQ(TrimBlanks(L" \t800x600\r\n"), L"800x600");
    EXPECT_EQ(TrimBlanks(L"\x01 "), L"");
    EXPECT_EQ(SplitLines(L"低\n中\n高"), (std::vector<std::wstring>{L"低", L"中", L"高"}));
}

}  // namespace
}  // namespace qorvi::form
