// The windows of a form definition (FormDefinition.h): the dialog frame and its modal loop, the
// controls created from the table, the font, and the one-line input prompt.
//
// Everything here runs on the thread that shows the dialog. Containers (tab sheets, panels) pass
// the commands and notifications of their controls on to the dialog, so one dialog procedure
// sees every control, whatever it sits in.
#pragma once

#include "ui/FormDefinition.h"

#include <windows.h>

#include <array>
#include <optional>
#include <string>

namespace qorvi::form {

// The module the dialog's code lives in (qorvi.spi in a host).
HINSTANCE OwnInstance();

// Runs a modal dialog of no controls over `owner`: `procedure` gets WM_INITDIALOG with `param`
// and builds the rest. Answers what EndDialog was given (-1 when the dialog cannot be created).
INT_PTR RunModalDialog(HWND owner, DLGPROC procedure, LPARAM param);

// Sizes `dialog` to a client area of width x height and centres it over `owner` (over the
// screen when there is none), kept on the primary screen.
void PlaceDialog(HWND dialog, HWND owner, int width, int height);

// The first of PreferredFonts that is installed, else DesignedFont; height FontHeight and the
// Shift-JIS character set. The caller deletes it.
HFONT CreateFormFont();

// The form's windows, created from Controls, and the page switch of the tab control.
class FormWindows {
public:
    void Create(HWND dialog, HFONT font);
    HWND operator[](ControlId id) const { return windows_[size_t(id)]; }
    // Shows tab sheet `index` of the tab control (its order in the table) and hides the others.
    void ShowPage(int index);

private:
    std::array<HWND, ControlCount> windows_{};
};

// Whether `window` is one of our containers (a tab sheet or a panel).
bool IsContainer(HWND window);

// The colour a swatch shows (0x00BBGGRR), and setting it (it repaints).
COLORREF SwatchColor(HWND swatch);
void SetSwatchColor(HWND swatch, COLORREF colour);

// The one-line input prompt: caption, prompt above an edit field holding `value`, OK and Cancel,
// centred over `owner`. The text when confirmed, nothing when cancelled.
inline constexpr int InputQueryEditId = 100;
inline constexpr int InputQueryPromptId = 101;
std::optional<std::wstring> InputQuery(HWND owner, HFONT font, const std::wstring& caption,
                                       const std::wstring& prompt, const std::wstring& value);

}  // namespace qorvi::form
