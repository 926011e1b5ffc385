// The settings dialog driven as a user drives it, for the UI tests: it is shown on a thread of
// its own (the host's window thread, with an owner window standing for the host's), and the
// test's thread finds its controls by their window identifiers and sends them the messages
// clicks and choices send. Every wait is bounded, so a dialog that never shows or never closes
// fails the test instead of hanging it.
#pragma once

#include "ui/FormDefinition.h"

#include <windows.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace qorvi::test {

// Polls for a visible dialog box of this process with the given caption; null when none shows.
HWND WaitForDialog(const std::wstring& caption);
void WaitUntilGone(HWND window);

class OpenDialog {
public:
    // Runs `show(owner)` on a new thread, over an owner window placed at (200, 100), 500 x 400,
    // and waits for the settings dialog to show. `show` returns once the dialog has closed.
    explicit OpenDialog(std::function<void(HWND owner)> show);
    // Cancels a dialog still open (a failed check left it so) and waits for `show` to return.
    ~OpenDialog();
    OpenDialog(const OpenDialog&) = delete;
    OpenDialog& operator=(const OpenDialog&) = delete;

    HWND Dialog() const { return dialog_; }
    HWND Owner() const { return owner_; }
    HWND operator[](form::ControlId id) const;

    // A click whose handler is done when this returns (it opens no window of its own).
    void Click(form::ControlId id) const;
    // A click that opens a modal window: its handler is still running when this returns.
    void StartClick(form::ControlId id) const;
    // Waits until the dialog's thread is back in the dialog's own message loop.
    void Settle() const;
    // Clicks `button` and waits for `show` to return.
    void Close(form::ControlId button);
    // Waits for `show` to return; after 5 s it cancels the dialog boxes of the dialog's thread,
    // and after half a minute it ends the process.
    void Finish();

    bool Checked(form::ControlId id) const;
    bool Enabled(form::ControlId id) const;
    std::vector<std::wstring> Items(form::ControlId combo) const;
    int Selection(form::ControlId combo) const;
    void Select(form::ControlId combo, int index) const;
    // Tabs' captions in order; choosing one as a click on it does.
    std::vector<std::wstring> Tabs() const;
    void ShowTab(int index) const;

    // Ticks or clears a row of the plug-in list as a click on its box does; selects a row.
    void CheckRow(int row, bool checked) const;
    void SelectRow(int row) const;
    // Each row as "caption second-column [x]" (or "[ ]" when not ticked).
    std::vector<std::wstring> Rows() const;

    // Sets red, green and blue in the colour chooser that the last StartClick opened and
    // confirms it. Answers the colour it opened with (0x00BBGGRR), or -1 when none showed.
    long AnswerColorChooser(int red, int green, int blue) const;

    // Types `text` into the input prompt that the last StartClick opened and confirms it.
    // Answers the prompt's own text (or "(no prompt)").
    std::wstring AnswerPrompt(const std::wstring& text) const;

private:
    std::thread thread_;
    HANDLE done_;  // set when `show` has returned
    DWORD threadId_ = 0;
    HWND dialog_ = nullptr;
    HWND owner_ = nullptr;
};

}  // namespace qorvi::test
