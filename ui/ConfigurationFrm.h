// The settings dialog: TConfigurationForm edits PluginOption and the children's order and enabled
// flags, and on OK stores and writes the settings.
//
// The form lives only while ConfigurationDlg runs (RunConfigurationDialog in SusiePluginMain.h
// undoes a cancelled dialog's changes to the plug-in list and re-runs the settings-dependent
// steps after OK). Its rows and the plug-in list stay in step while it is open: row i is child
// i, the order buttons move both, and a row's check box sets that child's Enabled at once.
// PluginOption changes only when OK is pressed; a write error is shown, and the dialog still
// closes with OK. The order OK writes keeps the stored entries of children not loaded now
// (SaveSettings). Every handler runs on the thread that shows the form.
//
// The controls are data (resources/ConfigurationForm.inc, FormDefinition.h); texts are wide
// strings shown through the W functions, so they read right on a Windows of any language.
#pragma once

#include "base/WinHandles.h"
#include "ui/FormDefinition.h"
#include "ui/FormWindows.h"

#include <windows.h>

#include <array>
#include <string>
#include <vector>

namespace qorvi {

class TConfigurationForm {
public:
    // `colorDirectory` is where the profile lists come from (normally the system's colour
    // folder, see SystemColorDirectory); `iniPath` is the settings file OK writes.
    TConfigurationForm(std::string colorDirectory, std::wstring iniPath);
    ~TConfigurationForm();
    TConfigurationForm(const TConfigurationForm&) = delete;
    TConfigurationForm& operator=(const TConfigurationForm&) = delete;

    // Creates the dialog centred over `owner`, runs it modally and answers its modal result
    // (ModalResultOK, or 2 for Cancel and for a dialog that cannot be shown).
    int ShowModal(HWND owner);

    // The system's colour folder, with a trailing delimiter.
    static std::string SystemColorDirectory();

private:
    static INT_PTR CALLBACK DialogProcedure(HWND dialog, UINT message, WPARAM wParam,
                                            LPARAM lParam);
    bool Command(form::ControlId control, int code);
    void Notify(const NMHDR& header);

    void FormCreate();
    void FormDestroy();
    void bntOkClick();
    void chbColorManagementClick();
    void chbLimitedOutputSizeClick();
    void btnAddClick();
    void btnDeleteClick();
    void btnAddThumbnailSizeClick();
    void btnDeleteThumbnailSizeClick();
    void btnChangeBGColorClick();
    void btnChangeBGColor2Click();
    void btnUpClick();
    void btnDownClick();
    void btnConfigClick();
    void btnInfoClick();
    void ListView1Click();
    void ListView1SelectItem(int item, bool selected);
    void ListView1Change(int item, UINT changed);

    void FillProfileLists();
    void FillPluginList();
    void FillSizeList(HWND combo, const std::string& listText);
    std::string JoinSizeList(HWND combo) const;
    int FindOrInsertSize(HWND combo, const std::wstring& text);
    void SetEnabledDeep(HWND control, bool enabled);

    void AddSize(HWND combo, HWND deleteButton, const wchar_t* prompt);
    void DeleteSize(HWND combo, HWND deleteButton);
    void ChangeColor(HWND swatch);
    void MoveRow(int from, int to);
    int SelectedRow() const;

    HWND Control(form::ControlId id) const { return windows_[id]; }
    bool Checked(form::ControlId id) const;
    void SetChecked(form::ControlId id, bool checked);

    std::string colorDirectory_;
    std::wstring iniPath_;
    HWND owner_ = nullptr;
    HWND window_ = nullptr;
    UniqueFont font_;
    form::FormWindows windows_;
    bool changeHandlerAttached_ = false;
    std::array<COLORREF, 16> customColors_{};

    // Parallel to the items of cbMonitorProfile, cbCMYKProfile and ComboBox1: the profile file
    // each item stands for, empty for the default items.
    std::vector<std::string> MonitorProfilePaths;
    std::vector<std::string> CMYKProfilePaths;
    std::vector<std::string> ProofingProfilePaths;
};

}  // namespace qorvi
