// Plug-in front end: the exports qorvi.spi gives its host (qorvi.def), the start-up and shut-down
// that run from the library's load and unload notifications, and the process-wide state in
// between (PluginState.h).
//
// The exports decode nothing: each picture request reads its whole input into memory
// (InputImage.h), hands it to the first enabled child that accepts it (SusiePluginList.h) and
// runs ProcessPicture over the child's bitmap, with the one settings snapshot the request took
// when it started. Results are the host interface's codes; a child's own codes pass through. No
// exception leaves an export. A picture request that answers anything but 0 leaves null in both
// of the host's variables and nothing of its own alive. IsSupported shows the children the head
// of a file the host passes by handle, read once, and leaves the handle's position as it was.
// GetPictureInfo reports the depth the host will get, and for a child that cannot describe a
// picture it decodes, the size and depth of its bitmap.
//
// Start-up and shut-down run under the loader lock: they create no thread. Threads start lazily
// on the first request that needs them; shut-down waits only for the resizers' workers' last
// signal, after which they run no code of ours. On process exit shut-down leaves
// alone what the system is ending anyway (the threads, the other libraries).
#pragma once

#include "hostplugins/SusieInterface.h"
#include "metadata/ImageInfoReader.h"
#include "plugin/PluginState.h"
#include "plugin/Settings.h"

#include <cstdint>

namespace qorvi {

// Each runs once per load, however often it is called. `module` is qorvi.spi's own module.
// InitializePlugin builds the state and publishes it as Plugin once it is complete, with the
// settings it read; FinalizePlugin takes the state down and destroys it.
void InitializePlugin(HMODULE module);
void FinalizePlugin(bool processExit);

// Start-up runs outside the loader lock: loading children and the engine, asking the screen for
// its profile and showing the missing engine's box could deadlock the viewer there while another
// of its threads waits for the lock. The load notification only records the module
// (RecordModule); every export first calls EnsureStarted, of which the first call runs
// InitializePlugin. Concurrent first calls wait for it; a call on the starting thread itself (a
// child calling an export while it loads, a window message while the box shows) goes on at once
// and sees no Plugin, as before start-up. Start-up that runs out of memory leaves no Plugin.
void RecordModule(HMODULE module) noexcept;
void EnsureStarted() noexcept;

// The settings-dependent steps of start-up, for both engine records: their intents and flags
// from `settings`, and the engine option bit, added last. ApplyConfirmedSettings publishes
// `confirmed` as the live settings, then runs them again with the profile set-up after a
// confirmed settings dialog, on the live records (under TransformLock, since requests may be
// converting with them), and then sets the resizers' modes and the children's switches.
void WriteCMSInfoIntents(PluginState& state, const TPluginOption& settings);
void AddEngineOption(PluginState& state);
void ApplyConfirmedSettings(PluginState& state, const TPluginOption& confirmed);

// The resizers' filters: DecimationMode for pictures, ThumbnailQuality for previews (0 area
// average, 1 Lanczos3, anything else Lanczos4). Taken under ResizeLock, so a mode never changes
// under a running resize.
void SetResizerModes(PluginState& state, const TPluginOption& settings);

// The settings dialog's frame, on Plugin: the plug-in order is saved, `showForm` shows the form
// modally over `parent` (the owner of the library's windows meanwhile) and answers its modal
// result. OK means the form stored the new settings in PluginOption and wrote them; they are
// published and the settings-dependent steps run again. Any other result restores the saved
// order and enabled flags. Answers 0.
constexpr int ModalResultOK = 1;
using ConfigurationForm = int (*)(HWND parent);
int RunConfigurationDialog(HWND parent, ConfigurationForm showForm);
// The settings dialog itself (ui/ConfigurationFrm.h), writing Plugin's SettingsFile.
int ShowConfigurationForm(HWND parent);
extern HWND OwnerWindow;

// How a pipeline fault reaches the user: a plain message box with an OK button on the calling
// thread, shown once per failed request. Tests put their own reporter here.
using FaultReporter = void (*)(const wchar_t* message);
extern FaultReporter ReportPipelineFault;

// The text of information number 1: the plug-in's name and version, then the maker's notice.
extern const char* const PluginVersionText;

// Post-processes the bitmap a child delivered for a picture (preview false) or a thumbnail
// (preview true), with the request's `settings` snapshot and the shared objects of `state`.
// `infoHandle` and `bitsHandle` are the request's variables: they hold the final, unlocked
// handles on return, also after a failure (false), which the caller answers with 8 after freeing
// both and clearing the host's variables.
bool ProcessPicture(PluginState& state, const TPluginOption& settings, TMemoryReader& reader,
                    HLOCAL& infoHandle, HLOCAL& bitsHandle, bool preview);

}  // namespace qorvi

extern "C" {
int __stdcall GetPluginInfo(int infono, LPSTR buf, int buflen);
int __stdcall IsSupported(LPCSTR filename, qorvi::SusieHandleOrHead dw);
int __stdcall GetPictureInfo(LPCSTR buf, qorvi::SusieLength len, unsigned flag,
                             qorvi::PictureInfo* lpInfo);
int __stdcall GetPicture(LPCSTR buf, qorvi::SusieLength len, unsigned flag, HLOCAL* pHBInfo,
                         HLOCAL* pHBm, qorvi::SusieProgressCallback lpPrgressCallback,
                         qorvi::SusieLength lData);
int __stdcall GetPreview(LPCSTR buf, qorvi::SusieLength len, unsigned flag, HLOCAL* pHBInfo,
                         HLOCAL* pHBm, qorvi::SusieProgressCallback lpPrgressCallback,
                         qorvi::SusieLength lData);
int __stdcall ConfigurationDlg(HWND parent, int fnc);
// The wide twins: file names in UTF-16, GetPluginInfoW's texts in UTF-16 with its buffer counted
// in characters, everything else as above.
int __stdcall GetPluginInfoW(int infono, LPWSTR buf, int buflen);
int __stdcall IsSupportedW(LPCWSTR filename, qorvi::SusieHandleOrHead dw);
int __stdcall GetPictureInfoW(LPCWSTR buf, qorvi::SusieLength len, unsigned flag,
                              qorvi::PictureInfo* lpInfo);
int __stdcall GetPictureW(LPCWSTR buf, qorvi::SusieLength len, unsigned flag, HLOCAL* pHBInfo,
                          HLOCAL* pHBm, qorvi::SusieProgressCallback lpPrgressCallback,
                          qorvi::SusieLength lData);
int __stdcall GetPreviewW(LPCWSTR buf, qorvi::SusieLength len, unsigned flag, HLOCAL* pHBInfo,
                          HLOCAL* pHBm, qorvi::SusieProgressCallback lpPrgressCallback,
                          qorvi::SusieLength lData);
}
