#include "tests/unit/SettingsDialogDriver.h"

#include "tests/unit/TestSupport.h"
#include "ui/FormWindows.h"  // the input prompt's identifiers

#include <commctrl.h>

#include <cstdio>
#include <cstdlib>

namespace qorvi::test {

using namespace form;

namespace {

const std::wstring Caption = L"rovuzezaz ozuze(高速版)の設定";

struct Search {
    int id;
    HWND found;
};
BOOL CALLBACK MatchId(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<Search*>(param);
    if (GetDlgCtrlID(window) != search->id) return TRUE;
    search->found = window;
    return FALSE;
}

}  // namespace

HWND WaitForDialog(const std::wstring& caption) {
    for (int attempt = 0; attempt < 500; ++attempt) {
        HWND found = FindOwnDialog(caption);
        if (found != nullptr) return found;
        Sleep(10);
    }
    return nullptr;
}

void WaitUntilGone(HWND window) {
    for (int attempt = 0; attempt < 500 && IsWindow(window); ++attempt) Sleep(10);
}

OpenDialog::OpenDialog(std::function<void(HWND owner)> show)
    : done_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    HANDLE ownerReady = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    thread_ = std::thread([this, show, ownerReady] {
        threadId_ = GetCurrentThreadId();
        owner_ = CreateWindowExW(0, L"STATIC", L"host", WS_POPUP | WS_VISIBLE | WS_CAPTION, 200,
                                 100, 500, 400, nullptr, nullptr, nullptr, nullptr);
        SetEvent(ownerReady);
        show(owner_);
        DestroyWindow(owner_);
        SetEvent(done_);
    });
    WaitForSingleObject(ownerReady, 5000);
    CloseHandle(ownerReady);
    dialog_ = WaitForDialog(Caption);
}

OpenDialog::~OpenDialog() {
    if (IsWindow(dialog_)) PostMessageW(dialog_, WM_COMMAND, IDCANCEL, 0);
    Finish();
    CloseHandle(done_);
}

HWND OpenDialog::operator[](ControlId id) const {
    Search search{WindowIdOf(id), nullptr};
    EnumChildWindows(dialog_, MatchId, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

void OpenDialog::Click(ControlId id) const { SendMessageW((*this)[id], BM_CLICK, 0, 0); }
void OpenDialog::StartClick(ControlId id) const { PostMessageW((*this)[id], BM_CLICK, 0, 0); }
void OpenDialog::Settle() const { SendMessageW(dialog_, WM_NULL, 0, 0); }

void OpenDialog::Close(ControlId button) {
    StartClick(button);
    Finish();
}

namespace {

BOOL CALLBACK CancelDialog(HWND window, LPARAM) {
    wchar_t name[16] = {};
    GetClassNameW(window, name, 16);
    if (lstrcmpW(name, L"#32770") == 0) PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
    return TRUE;
}

}  // namespace

void OpenDialog::Finish() {
    if (!thread_.joinable()) return;
    // A step that failed may leave a box or prompt open over the dialog: cancel what the
    // dialog's thread shows until it returns, and rather end the run than hang it.
    for (int round = 0; WaitForSingleObject(done_, 5000) == WAIT_TIMEOUT; ++round) {
        if (round == 5) {
            std::fprintf(stderr, "the settings dialog does not close\n");
            std::abort();
        }
        EnumThreadWindows(threadId_, CancelDialog, 0);
    }
    thread_.join();
}

bool OpenDialog::Checked(ControlId id) const {
    return SendMessageW((*this)[id], BM_GETCHECK, 0, 0) == BST_CHECKED;
}

bool OpenDialog::Enabled(ControlId id) const { return IsWindowEnabled((*this)[id]) != FALSE; }

std::vector<std::wstring> OpenDialog::Items(ControlId combo) const {
    std::vector<std::wstring> items;
    HWND window = (*this)[combo];
    const int count = int(SendMessageW(window, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        wchar_t text[512] = {};
        SendMessageW(window, CB_GETLBTEXT, WPARAM(i), reinterpret_cast<LPARAM>(text));
        items.push_back(text);
    }
    return items;
}

int OpenDialog::Selection(ControlId combo) const {
    return int(SendMessageW((*this)[combo], CB_GETCURSEL, 0, 0));
}

void OpenDialog::Select(ControlId combo, int index) const {
    SendMessageW((*this)[combo], CB_SETCURSEL, WPARAM(index), 0);
}

std::vector<std::wstring> OpenDialog::Tabs() const {
    HWND tabs = (*this)[PageControl1];
    std::vector<std::wstring> captions;
    const int count = int(SendMessageW(tabs, TCM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        wchar_t text[64] = {};
        TCITEMW item{};
        item.mask = TCIF_TEXT;
        item.pszText = text;
        item.cchTextMax = 64;
        SendMessageW(tabs, TCM_GETITEMW, WPARAM(i), reinterpret_cast<LPARAM>(&item));
        captions.push_back(text);
    }
    return captions;
}

void OpenDialog::ShowTab(int index) const {
    HWND tabs = (*this)[PageControl1];
    SendMessageW(tabs, TCM_SETCURSEL, WPARAM(index), 0);
    // Choosing a tab by message tells nobody; a click would tell the dialog.
    NMHDR change{tabs, UINT_PTR(WindowIdOf(PageControl1)), UINT(TCN_SELCHANGE)};
    SendMessageW(dialog_, WM_NOTIFY, change.idFrom, reinterpret_cast<LPARAM>(&change));
}

void OpenDialog::CheckRow(int row, bool checked) const {
    LVITEMW item{};
    item.stateMask = LVIS_STATEIMAGEMASK;
    item.state = INDEXTOSTATEIMAGEMASK(checked ? 2 : 1);
    SendMessageW((*this)[ListView1], LVM_SETITEMSTATE, WPARAM(row),
                 reinterpret_cast<LPARAM>(&item));
}

void OpenDialog::SelectRow(int row) const {
    LVITEMW item{};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW((*this)[ListView1], LVM_SETITEMSTATE, WPARAM(row),
                 reinterpret_cast<LPARAM>(&item));
}

std::vector<std::wstring> OpenDialog::Rows() const {
    std::vector<std::wstring> rows;
    HWND list = (*this)[ListView1];
    const int count = int(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    for (int row = 0; row < count; ++row) {
        std::wstring text;
        for (int column = 0; column < 2; ++column) {
            wchar_t cell[256] = {};
            LVITEMW item{};
            item.iSubItem = column;
            item.pszText = cell;
            item.cchTextMax = 256;
            SendMessageW(list, LVM_GETITEMTEXTW, WPARAM(row), reinterpret_cast<LPARAM>(&item));
            text += cell;
            if (column == 0) text += L" ";
        }
        const UINT state =
            UINT(SendMessageW(list, LVM_GETITEMSTATE, WPARAM(row), LVIS_STATEIMAGEMASK));
        rows.push_back(text + ((state >> 12) == 2 ? L" [x]" : L" [ ]"));
    }
    return rows;
}

namespace {

struct OwnedDialog {
    HWND owner;
    HWND found;
};
BOOL CALLBACK MatchOwnedDialog(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<OwnedDialog*>(param);
    wchar_t name[16] = {};
    GetClassNameW(window, name, 16);
    if (lstrcmpW(name, L"#32770") != 0 || !IsWindowVisible(window) ||
        GetWindow(window, GW_OWNER) != search->owner)
        return TRUE;
    search->found = window;
    return FALSE;
}

}  // namespace

long OpenDialog::AnswerColorChooser(int red, int green, int blue) const {
    // The system's colour chooser: a dialog box owned by ours, its three edits 706 to 708.
    OwnedDialog search{dialog_, nullptr};
    for (int attempt = 0; attempt < 500 && search.found == nullptr; ++attempt) {
        EnumThreadWindows(GetWindowThreadProcessId(dialog_, nullptr), MatchOwnedDialog,
                          reinterpret_cast<LPARAM>(&search));
        if (search.found == nullptr) Sleep(10);
    }
    if (search.found == nullptr) return -1;
    const int ids[] = {706, 707, 708}, values[] = {red, green, blue};
    long opened = 0;
    for (int i = 0; i < 3; ++i) {
        opened |= long(GetDlgItemInt(search.found, ids[i], nullptr, FALSE)) << (8 * i);
        SetDlgItemInt(search.found, ids[i], UINT(values[i]), FALSE);
    }
    PostMessageW(search.found, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(search.found, IDOK)));
    WaitUntilGone(search.found);
    Settle();
    return opened;
}

std::wstring OpenDialog::AnswerPrompt(const std::wstring& text) const {
    HWND prompt = WaitForDialog(L"リストに追加");
    if (prompt == nullptr) return L"(no prompt)";
    wchar_t shown[256] = {};
    GetDlgItemTextW(prompt, InputQueryPromptId, shown, 256);
    SetDlgItemTextW(prompt, InputQueryEditId, text.c_str());
    PostMessageW(prompt, WM_COMMAND, IDOK, 0);
    WaitUntilGone(prompt);
    Settle();
    return shown;
}

}  // namespace qorvi::test
