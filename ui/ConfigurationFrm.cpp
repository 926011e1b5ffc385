#include "ui/ConfigurationFrm.h"

#include "base/DelimitedText.h"
#include "base/SystemLibrary.h"
#include "base/WinHandles.h"
#include "base/WinText.h"
#include "color/LCMSDll.h"
#include "hostplugins/OrderString.h"
#include "plugin/OptionValues.h"
#include "plugin/Settings.h"
#include "plugin/SusiePluginMain.h"
#include "ui/FormText.h"

#include <commctrl.h>
#include <commdlg.h>
#include <icm.h>

#include <algorithm>

namespace qorvi {

using namespace form;

namespace {

constexpr int ModalResultCancel = 2;

// The first entry of `paths` equal to `path` ignoring case, else `fallback`.
int IndexOfPath(const std::vector<std::string>& paths, const std::string& path, int fallback) {
    for (size_t i = 0; i < paths.size(); ++i)
        if (lstrcmpiA(paths[i].c_str(), path.c_str()) == 0) return int(i);
    return fallback;
}

void AddItem(HWND combo, const std::wstring& text) {
    SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

int ItemCount(HWND combo) { return int(SendMessageW(combo, CB_GETCOUNT, 0, 0)); }
int Selection(HWND combo) { return int(SendMessageW(combo, CB_GETCURSEL, 0, 0)); }
void Select(HWND combo, int index) { SendMessageW(combo, CB_SETCURSEL, WPARAM(index), 0); }

std::wstring ItemText(HWND combo, int index) {
    const LRESULT length = SendMessageW(combo, CB_GETLBTEXTLEN, WPARAM(index), 0);
    if (length <= 0) return std::wstring();
    std::wstring text(size_t(length) + 1, L'\0');
    const LRESULT copied =
        SendMessageW(combo, CB_GETLBTEXT, WPARAM(index), reinterpret_cast<LPARAM>(text.data()));
    text.resize(copied > 0 ? size_t(copied) : 0);
    return text;
}

std::vector<std::string> SizeItems(HWND combo) {
    std::vector<std::string> items;
    const int count = ItemCount(combo);
    for (int i = 0; i < count; ++i) items.push_back(NarrowToAnsi(ItemText(combo, i)));
    return items;
}

// A list value shown in its combo. A stored value outside the list's range shows its nearest
// item, so the dialog never opens on a blank choice and OK stores a value the plug-in knows.
void SelectClamped(HWND combo, int32_t value) {
    const int count = ItemCount(combo);
    if (count > 0) Select(combo, std::clamp<int32_t>(value, 0, count - 1));
}

// The selected index, or `unchanged` when nothing is selected.
int32_t SelectedOr(HWND combo, int32_t unchanged) {
    const int index = Selection(combo);
    return index >= 0 ? index : unchanged;
}

// The selected size of a size list into `width` and `height`, each at least 32 (a text that is
// no size gives `fallback`); with no selection both keep their values.
void StoreSelectedSize(HWND combo, SizeValue fallback, int32_t& width, int32_t& height) {
    const int index = Selection(combo);
    if (index < 0) return;
    const SizeValue size =
        ParseSize(NarrowToAnsi(ItemText(combo, index)), fallback.Width, fallback.Height);
    width = std::max(size.Width, 32);
    height = std::max(size.Height, 32);
}

// Holds a window's drawing off for one scope: a list filled item by item is drawn once.
class UpdateBracket {
public:
    explicit UpdateBracket(HWND window) : window_(window) {
        SendMessageW(window_, WM_SETREDRAW, FALSE, 0);
    }
    ~UpdateBracket() {
        SendMessageW(window_, WM_SETREDRAW, TRUE, 0);
        InvalidateRect(window_, nullptr, TRUE);
    }
    UpdateBracket(const UpdateBracket&) = delete;
    UpdateBracket& operator=(const UpdateBracket&) = delete;

private:
    HWND window_;
};

bool RowChecked(HWND list, int row) {
    const UINT state = UINT(SendMessageW(list, LVM_GETITEMSTATE, WPARAM(row), LVIS_STATEIMAGEMASK));
    return (state >> 12) == 2;  // state image 2 is the ticked box
}

void SetRowChecked(HWND list, int row, bool checked) {
    LVITEMW item{};
    item.stateMask = LVIS_STATEIMAGEMASK;
    item.state = INDEXTOSTATEIMAGEMASK(checked ? 2 : 1);
    SendMessageW(list, LVM_SETITEMSTATE, WPARAM(row), reinterpret_cast<LPARAM>(&item));
}

void SelectRow(HWND list, int row) {
    LVITEMW item{};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(list, LVM_SETITEMSTATE, WPARAM(row), reinterpret_cast<LPARAM>(&item));
    SendMessageW(list, LVM_ENSUREVISIBLE, WPARAM(row), FALSE);
}

std::wstring RowText(HWND list, int row, int column) {
    wchar_t text[512] = {};
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = 512;
    SendMessageW(list, LVM_GETITEMTEXTW, WPARAM(row), reinterpret_cast<LPARAM>(&item));
    return text;
}

struct Row {
    std::wstring caption;
    bool checked;
    std::wstring extensions;
};

Row ReadRow(HWND list, int row) {
    return {RowText(list, row, 0), RowChecked(list, row), RowText(list, row, 1)};
}

void InsertRow(HWND list, int at, const Row& row) {
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = at;
    item.pszText = const_cast<wchar_t*>(row.caption.c_str());
    const int index = int(SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    if (index < 0) return;
    item.iSubItem = 1;
    item.pszText = const_cast<wchar_t*>(row.extensions.c_str());
    SendMessageW(list, LVM_SETITEMTEXTW, WPARAM(index), reinterpret_cast<LPARAM>(&item));
    SetRowChecked(list, index, row.checked);
}

}  // namespace

TConfigurationForm::TConfigurationForm(std::string colorDirectory, std::wstring iniPath)
    : colorDirectory_(std::move(colorDirectory)), iniPath_(std::move(iniPath)) {}

TConfigurationForm::~TConfigurationForm() = default;

std::string TConfigurationForm::SystemColorDirectory() {
    char directory[259] = {};
    DWORD size = sizeof directory;
    static const auto colorDirectory =
        SystemFunction<decltype(&GetColorDirectoryA)>(L"mscms.dll", "GetColorDirectoryA");
    if (colorDirectory == nullptr || !colorDirectory(nullptr, directory, &size)) return {};
    std::string path = directory;
    if (!path.empty() && !EndsWithPathDelimiter(path, SystemLeadByte)) path += '\\';
    return path;
}

int TConfigurationForm::ShowModal(HWND owner) {
    owner_ = owner;
    const INT_PTR result = RunModalDialog(owner, DialogProcedure, reinterpret_cast<LPARAM>(this));
    window_ = nullptr;
    return result == ModalResultOK ? ModalResultOK : ModalResultCancel;
}

INT_PTR CALLBACK TConfigurationForm::DialogProcedure(HWND dialog, UINT message, WPARAM wParam,
                                                     LPARAM lParam) {
    auto* form = reinterpret_cast<TConfigurationForm*>(GetWindowLongPtrW(dialog, DWLP_USER));
    // No exception may cross the system's dialog code: a handler that fails leaves the dialog
    // as it was (and one that fails while the form is built closes it as cancelled).
    try {
        switch (message) {
        case WM_INITDIALOG:
            form = reinterpret_cast<TConfigurationForm*>(lParam);
            SetWindowLongPtrW(dialog, DWLP_USER, lParam);
            form->window_ = dialog;
            try {
                form->FormCreate();
            } catch (...) {
                EndDialog(dialog, ModalResultCancel);
            }
            return TRUE;
        case WM_COMMAND:
            if (form == nullptr) return FALSE;
            return form->Command(ControlOfWindowId(LOWORD(wParam)), HIWORD(wParam));
        case WM_NOTIFY:
            if (form == nullptr) return FALSE;
            form->Notify(*reinterpret_cast<const NMHDR*>(lParam));
            return FALSE;
        case WM_DESTROY:
            if (form != nullptr) form->FormDestroy();
            return FALSE;
        default: return FALSE;
        }
    } catch (...) {
        return FALSE;
    }
}

bool TConfigurationForm::Command(ControlId control, int code) {
    if (code != BN_CLICKED) return false;
    switch (control) {
    case bntOk: {
        // The button's result is OK before its click handler runs: whatever the handler meets
        // (a write error is shown in it), the dialog closes with OK.
        struct CloseWithOk {
            HWND dialog;
            ~CloseWithOk() { EndDialog(dialog, ModalResultOK); }
        } close{window_};
        bntOkClick();
        return true;
    }
    case btnCancel: EndDialog(window_, ModalResultCancel); return true;
    case chbColorManagement: chbColorManagementClick(); return true;
    case chbLimitedOutputSize: chbLimitedOutputSizeClick(); return true;
    case btnAdd: btnAddClick(); return true;
    case btnDelete: btnDeleteClick(); return true;
    case btnAddThumbnailSize: btnAddThumbnailSizeClick(); return true;
    case btnDeleteThumbnailSize: btnDeleteThumbnailSizeClick(); return true;
    case btnChangeBGColor: btnChangeBGColorClick(); return true;
    case btnChangeBGColor2: btnChangeBGColor2Click(); return true;
    case btnUp: btnUpClick(); return true;
    case btnDown: btnDownClick(); return true;
    case btnConfig: btnConfigClick(); return true;
    case btnInfo: btnInfoClick(); return true;
    default: return false;
    }
}

void TConfigurationForm::Notify(const NMHDR& header) {
    const ControlId control = ControlOfWindowId(int(header.idFrom));
    if (control == PageControl1 && header.code == TCN_SELCHANGE) {
        windows_.ShowPage(int(SendMessageW(Control(PageControl1), TCM_GETCURSEL, 0, 0)));
    } else if (control == ListView1 && header.code == NM_CLICK) {
        ListView1Click();
    } else if (control == ListView1 && header.code == LVN_ITEMCHANGED) {
        const auto& change = reinterpret_cast<const NMLISTVIEW&>(header);
        if (changeHandlerAttached_) ListView1Change(change.iItem, change.uChanged);
        const bool wasSelected = (change.uOldState & LVIS_SELECTED) != 0;
        const bool isSelected = (change.uNewState & LVIS_SELECTED) != 0;
        if ((change.uChanged & LVIF_STATE) && wasSelected != isSelected) {
            ListView1SelectItem(change.iItem, isSelected);
            // A selection made or lost by keyboard leaves the buttons as a click would.
            ListView1Click();
        }
    }
}

bool TConfigurationForm::Checked(ControlId id) const {
    return SendMessageW(Control(id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void TConfigurationForm::SetChecked(ControlId id, bool checked) {
    SendMessageW(Control(id), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

void TConfigurationForm::FormCreate() {
    SetWindowTextW(window_, FormatCaption(CaptionFormat, CaptionEdition).c_str());
    font_.reset(CreateFormFont());
    SendMessageW(window_, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
    windows_.Create(window_, font_.get());

    MonitorProfilePaths.assign(1, std::string());
    CMYKProfilePaths.assign(1, std::string());
    ProofingProfilePaths.clear();
    AddItem(Control(cbMonitorProfile), L"既定のモニタープロファイル");
    AddItem(Control(cbCMYKProfile), L"built-in CMYK Profile");
    FillProfileLists();

    const TPluginOption& option = PluginOption;
    SetChecked(chbColorManagement, option.ColorManagement);
    Select(Control(cbMonitorProfile),
           IndexOfPath(MonitorProfilePaths, option.MonitorProfileName, 0));
    SelectClamped(Control(cbRenderingIntent), option.RenderingIntent);
    Select(Control(cbCMYKProfile), IndexOfPath(CMYKProfilePaths, option.CMYKProfileName, 0));
    // The proofing list has no default item: empty, it shows no choice.
    Select(Control(ComboBox1),
           ProofingProfilePaths.empty()
               ? -1
               : IndexOfPath(ProofingProfilePaths, option.ProofingProfileName, 0));
    SetChecked(chbUseBPC, option.BlackPointCompensation);
    SetChecked(CheckBox1, option.SoftProofing);
    SetChecked(chbAutomaticRotation, option.AutomaticRotation);
    SetChecked(chbLimitedOutputSize, option.LimitedOutputSize);
    SelectClamped(Control(cbDecimationMode), option.DecimationMode);
    SelectClamped(Control(cbThumbnailQuality), option.ThumbnailQuality);
    SelectClamped(Control(cbThumbnailCMMode), option.ThumbnailCMMode);
    SetSwatchColor(Control(pnlBGColor1), COLORREF(option.BGColor1) & 0xFFFFFF);
    SetSwatchColor(Control(pnlBGColor2), COLORREF(option.BGColor2) & 0xFFFFFF);

    // A current size missing from its stored list joins it in sorted place.
    FillSizeList(Control(cbMaxImageSize), option.ImageSizeList);
    Select(Control(cbMaxImageSize),
           FindOrInsertSize(Control(cbMaxImageSize),
                            WidenAnsi(FormatSize(option.MaxWidth, option.MaxHeight))));
    FillSizeList(Control(cbThumbnailSize), option.ThumbnailSizeList);
    Select(Control(cbThumbnailSize),
           FindOrInsertSize(Control(cbThumbnailSize),
                            WidenAnsi(FormatSize(option.ThumbnailWidth, option.ThumbnailHeight))));

    customColors_.fill(RGB(0xFF, 0xFF, 0xFF));

    SetEnabledDeep(Control(Panel1), Checked(chbColorManagement));
    SetEnabledDeep(Control(Panel2), Checked(chbLimitedOutputSize));
    if (IsWindowEnabled(Control(Panel2)))
        EnableWindow(Control(btnDelete), ItemCount(Control(cbMaxImageSize)) > 1);
    EnableWindow(Control(btnDeleteThumbnailSize), ItemCount(Control(cbThumbnailSize)) > 1);

    FillPluginList();
    SetChecked(CheckBox2, option.ThreadSafeSPI);

    PlaceDialog(window_, owner_, ClientWidth, ClientHeight);
}

void TConfigurationForm::FormDestroy() {
    MonitorProfilePaths.clear();
    CMYKProfilePaths.clear();
    ProofingProfilePaths.clear();
}

void TConfigurationForm::FillProfileLists() {
    // Without the engine no file can be told RGB or CMYK: only the default items are listed.
    if (colorDirectory_.empty() || LCMSDll.IsRGBProfile == nullptr ||
        LCMSDll.IsCMYKProfile == nullptr)
        return;
    HWND monitor = Control(cbMonitorProfile), cmyk = Control(cbCMYKProfile),
         proofing = Control(ComboBox1);
    UpdateBracket monitorBracket(monitor), cmykBracket(cmyk), proofingBracket(proofing);
    WIN32_FIND_DATAA found;
    UniqueFind find(FindFirstFileA((colorDirectory_ + "*.*").c_str(), &found));
    if (!find) return;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        const std::string name = found.cFileName;
        if (!IsProfileFileName(name, SystemLeadByte)) continue;
        const std::string path = colorDirectory_ + name;
        const std::wstring shown = WidenAnsi(ProfileDisplayName(name, SystemLeadByte));
        if (LCMSDll.IsRGBProfile(path.c_str()) != 0) {
            AddItem(monitor, shown);
            MonitorProfilePaths.push_back(path);
        } else if (LCMSDll.IsCMYKProfile(path.c_str()) != 0) {
            AddItem(cmyk, shown);
            CMYKProfilePaths.push_back(path);
        } else {
            continue;
        }
        AddItem(proofing, shown);
        ProofingProfilePaths.push_back(path);
    } while (FindNextFileA(find.get(), &found));
}

void TConfigurationForm::FillPluginList() {
    HWND list = Control(ListView1);
    changeHandlerAttached_ = false;
    SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);
    int row = 0;
    // The children's names as they lie in their folders, whatever the code page.
    for (; row < Plugin->PluginList->Count(); ++row) {
        const TSusiePlugin& child = *Plugin->PluginList->Items(row);
        InsertRow(list, row,
                  Row{child.WideFileName, child.Enabled,
                      WidenAnsi(ExtensionColumnText(child.FormatList))});
    }
    changeHandlerAttached_ = true;
    if (row > 0) SelectRow(list, 0);
    ListView1Click();
}

int TConfigurationForm::SelectedRow() const {
    return int(SendMessageW(Control(ListView1), LVM_GETNEXTITEM, WPARAM(-1), LVNI_SELECTED));
}

void TConfigurationForm::ListView1Change(int item, UINT changed) {
    if (!(changed & LVIF_STATE) || item < 0 || item >= Plugin->PluginList->Count()) return;
    Plugin->PluginList->Items(item)->Enabled = RowChecked(Control(ListView1), item);
}

void TConfigurationForm::ListView1SelectItem(int item, bool selected) {
    if (!selected) return;
    const int row = SelectedRow();
    const bool configurable = row >= 0 && row < Plugin->PluginList->Count() &&
                              Plugin->PluginList->Items(row)->HasConfigurationDlg;
    EnableWindow(Control(btnConfig), configurable);
}

void TConfigurationForm::ListView1Click() {
    if (SelectedRow() < 0) {
        EnableWindow(Control(btnConfig), FALSE);
        EnableWindow(Control(btnInfo), FALSE);
    } else {
        EnableWindow(Control(btnInfo), TRUE);
    }
}

void TConfigurationForm::MoveRow(int from, int to) {
    HWND list = Control(ListView1);
    // Inserting and deleting rows reports check states; they must not reach the wrong children.
    changeHandlerAttached_ = false;
    Plugin->PluginList->Move(from, to);
    {
        UpdateBracket bracket(list);
        if (to < from) {
            InsertRow(list, from + 1, ReadRow(list, to));
            SendMessageW(list, LVM_DELETEITEM, WPARAM(to), 0);
        } else {
            InsertRow(list, from, ReadRow(list, to));
            SendMessageW(list, LVM_DELETEITEM, WPARAM(to + 1), 0);
        }
    }
    SelectRow(list, to);
    changeHandlerAttached_ = true;
}

void TConfigurationForm::btnUpClick() {
    const int row = SelectedRow();
    if (row > 0) MoveRow(row, row - 1);
}

void TConfigurationForm::btnDownClick() {
    const int row = SelectedRow();
    const int rows = int(SendMessageW(Control(ListView1), LVM_GETITEMCOUNT, 0, 0));
    if (row >= 0 && row < rows - 1) MoveRow(row, row + 1);
}

void TConfigurationForm::btnConfigClick() {
    const int row = SelectedRow();
    if (row < 0 || row >= Plugin->PluginList->Count()) return;
    (void)Plugin->PluginList->Items(row)->CallConfigurationDlg(window_, 1);
}

void TConfigurationForm::btnInfoClick() {
    const int row = SelectedRow();
    if (row < 0 || row >= Plugin->PluginList->Count()) return;
    TSusiePlugin* child = Plugin->PluginList->Items(row);
    // Only "not implemented" falls back to our box; a child that faulted has had its say.
    if (child->HasConfigurationDlg &&
        child->CallConfigurationDlg(window_, 0) != SusieNotImplemented)
        return;
    child->ShowInformation(window_);
}

void TConfigurationForm::chbColorManagementClick() {
    SetEnabledDeep(Control(Panel1), Checked(chbColorManagement));
}

void TConfigurationForm::chbLimitedOutputSizeClick() {
    SetEnabledDeep(Control(Panel2), Checked(chbLimitedOutputSize));
    if (IsWindowEnabled(Control(Panel2)))
        EnableWindow(Control(btnDelete), ItemCount(Control(cbMaxImageSize)) > 1);
}

void TConfigurationForm::SetEnabledDeep(HWND control, bool enabled) {
    for (HWND child = GetWindow(control, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        if (IsContainer(child))
            SetEnabledDeep(child, enabled);
        else
            EnableWindow(child, enabled);
    }
    EnableWindow(control, enabled);
}

void TConfigurationForm::AddSize(HWND combo, HWND deleteButton, const wchar_t* prompt) {
    const std::optional<std::wstring> typed =
        InputQuery(window_, font_.get(), L"リストに追加", prompt, L"");
    if (typed) {
        // Anything that is no size adds nothing, silently.
        const int index = FindOrInsertSize(combo, TrimBlanks(*typed));
        if (index != -1) Select(combo, index);
    }
    EnableWindow(deleteButton, ItemCount(combo) > 1);
}

void TConfigurationForm::btnAddClick() {
    AddSize(Control(cbMaxImageSize), Control(btnDelete), L"入力例) 800x600");
}

void TConfigurationForm::btnAddThumbnailSizeClick() {
    AddSize(Control(cbThumbnailSize), Control(btnDeleteThumbnailSize), L"入力例) 160x160");
}

void TConfigurationForm::DeleteSize(HWND combo, HWND deleteButton) {
    const int index = Selection(combo);
    if (index < 0) return;
    SendMessageW(combo, CB_DELETESTRING, WPARAM(index), 0);
    const int count = ItemCount(combo);
    Select(combo, index < count ? index : index - 1);
    EnableWindow(deleteButton, count > 1);
}

void TConfigurationForm::btnDeleteClick() {
    DeleteSize(Control(cbMaxImageSize), Control(btnDelete));
}

void TConfigurationForm::btnDeleteThumbnailSizeClick() {
    DeleteSize(Control(cbThumbnailSize), Control(btnDeleteThumbnailSize));
}

void TConfigurationForm::ChangeColor(HWND swatch) {
    CHOOSECOLORW chooser{};
    chooser.lStructSize = sizeof chooser;
    chooser.hwndOwner = window_;
    chooser.rgbResult = SwatchColor(swatch) & 0xFFFFFF;
    chooser.lpCustColors = customColors_.data();
    chooser.Flags = CC_FULLOPEN | CC_RGBINIT;
    static const auto chooseColor =
        SystemFunction<decltype(&ChooseColorW)>(L"comdlg32.dll", "ChooseColorW");
    if (chooseColor != nullptr && chooseColor(&chooser))
        SetSwatchColor(swatch, chooser.rgbResult & 0xFFFFFF);
}

void TConfigurationForm::btnChangeBGColorClick() { ChangeColor(Control(pnlBGColor1)); }
void TConfigurationForm::btnChangeBGColor2Click() { ChangeColor(Control(pnlBGColor2)); }

void TConfigurationForm::FillSizeList(HWND combo, const std::string& listText) {
    for (const std::string& entry : SplitSizeList(listText))
        FindOrInsertSize(combo, WidenAnsi(entry));
}

std::string TConfigurationForm::JoinSizeList(HWND combo) const {
    return qorvi::JoinSizeList(SizeItems(combo));
}

int TConfigurationForm::FindOrInsertSize(HWND combo, const std::wstring& text) {
    std::vector<std::string> items = SizeItems(combo);
    const size_t before = items.size();
    const int index = qorvi::FindOrInsertSize(items, NarrowToAnsi(text));
    if (index >= 0 && items.size() > before) {
        UpdateBracket bracket(combo);
        SendMessageW(combo, CB_INSERTSTRING, WPARAM(index), reinterpret_cast<LPARAM>(text.c_str()));
    }
    return index;
}

void TConfigurationForm::bntOkClick() {
    TPluginOption option = PluginOption;
    option.ColorManagement = Checked(chbColorManagement);
    const int monitor = Selection(Control(cbMonitorProfile));
    option.MonitorProfileName = monitor > 0 ? MonitorProfilePaths[size_t(monitor)] : "";
    option.RenderingIntent = SelectedOr(Control(cbRenderingIntent), option.RenderingIntent);
    const int cmyk = Selection(Control(cbCMYKProfile));
    option.CMYKProfileName = cmyk > 0 ? CMYKProfilePaths[size_t(cmyk)] : "";
    const int proofing = Selection(Control(ComboBox1));
    option.ProofingProfileName = proofing >= 0 ? ProofingProfilePaths[size_t(proofing)] : "";
    option.BlackPointCompensation = Checked(chbUseBPC);
    option.SoftProofing = Checked(CheckBox1);
    option.AutomaticRotation = Checked(chbAutomaticRotation);
    option.LimitedOutputSize = Checked(chbLimitedOutputSize);
    StoreSelectedSize(Control(cbMaxImageSize), {99999, 99999}, option.MaxWidth, option.MaxHeight);
    option.ImageSizeList = JoinSizeList(Control(cbMaxImageSize));
    option.DecimationMode = SelectedOr(Control(cbDecimationMode), option.DecimationMode);
    option.ThumbnailQuality = SelectedOr(Control(cbThumbnailQuality), option.ThumbnailQuality);
    StoreSelectedSize(Control(cbThumbnailSize), {160, 160}, option.ThumbnailWidth,
                      option.ThumbnailHeight);
    option.ThumbnailSizeList = JoinSizeList(Control(cbThumbnailSize));
    option.ThumbnailCMMode = SelectedOr(Control(cbThumbnailCMMode), option.ThumbnailCMMode);
    option.BGColor1 = int32_t(SwatchColor(Control(pnlBGColor1)) & 0xFFFFFF);
    option.BGColor2 = int32_t(SwatchColor(Control(pnlBGColor2)) & 0xFFFFFF);
    option.ThreadSafeSPI = Checked(CheckBox2);

    // Requests never read this record: the dialog's frame publishes it once the form is closed.
    PluginOption = std::move(option);

    try {
        SaveSettings(iniPath_, PluginOption, Plugin->PluginList->GetOrderString(),
                     Plugin->StartupOrder, Checked(chbDefault));
    } catch (const SettingsWriteError& error) {
        MessageBoxW(window_, error.message().c_str(), L"qorvi", MB_OK | MB_ICONERROR);
    }
}

int ShowConfigurationForm(HWND parent) {
    // The plug-in list exists from start-up on; without it there is nothing to configure.
    if (!Plugin || !Plugin->PluginList) return ModalResultCancel;
    TConfigurationForm form(TConfigurationForm::SystemColorDirectory(), Plugin->SettingsFile);
    return form.ShowModal(parent);
}

}  // namespace qorvi
