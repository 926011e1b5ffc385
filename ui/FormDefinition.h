// The settings dialog as data: one entry per control (resources/ConfigurationForm.inc), and the
// identifiers the dialog's code names them by. Platform-free, so the table can be checked on its
// own; ui/FormWindows.h creates windows from it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace qorvi::form {

enum class ControlKind {
    PageControl,  // tab control; its tab sheets follow it in the table
    TabSheet,     // one page of the tab control, `text` its tab caption
    Panel,        // borderless container
    Label,
    CheckBox,
    Button,
    OkButton,      // closes the dialog with result OK
    CancelButton,  // closes the dialog with result Cancel
    ComboList,     // drop-down list, no editing
    ColorSwatch,   // sunken panel showing a colour
    ListView,      // report view with a check box per row
};

// The controls in table order; Form stands for the dialog itself.
enum ControlId : int {
    Form = -1,
#define QORVI_CONTROL(name, kind, parent, left, top, width, height, text) name,
#include "resources/ConfigurationForm.inc"
#undef QORVI_CONTROL
    ControlCount
};

struct ControlDefinition {
    const char* name;
    ControlKind kind;
    ControlId parent;
    int left, top, width, height;
    const wchar_t* text;
};

extern const ControlDefinition Controls[ControlCount];

// The dialog's client size in pixels.
inline constexpr int ClientWidth = 321;
inline constexpr int ClientHeight = 264;

// The window identifier of a control, and the control of a window identifier (Form for none).
// bntOk and btnCancel have the system's IDOK and IDCANCEL, so Enter and Escape work as usual;
// the others count from FirstWindowId in table order.
inline constexpr int OkWindowId = 1;
inline constexpr int CancelWindowId = 2;
inline constexpr int FirstWindowId = 1000;
int WindowIdOf(ControlId id);
ControlId ControlOfWindowId(int windowId);

// The caption: CaptionFormat with CaptionEdition in place of "%s".
inline constexpr const wchar_t* CaptionFormat = L"rovuzezaz ozuze%sの設定";
inline constexpr const wchar_t* CaptionEdition = L"(高速版)";
std::wstring FormatCaption(std::wstring_view format, std::wstring_view value);

// The preferred font faces in order, and the face used when none of them is installed.
inline constexpr const wchar_t* PreferredFonts[] = {L"MeiryoKe_UIGothic", L"Meiryo UI"};
inline constexpr const wchar_t* DesignedFont = L"Tahoma";
inline constexpr int FontHeight = -12;

// `text` split at line ends: the items of a list, the columns of the list view.
std::vector<std::wstring> SplitLines(std::wstring_view text);

}  // namespace qorvi::form
