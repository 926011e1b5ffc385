// Plug-in front end: the six exports qorvi.spi gives its host, the start-up and shut-down that
// run from the library's load and unload notifications, and the process-wide state in between.
//
// The exports decode nothing: each picture request reads its whole input into memory
// (InputImage.h), hands it to the first enabled child that accepts it (SusiePluginList.h) and
// runs ProcessPicture over the child's bitmap. Results are the host interface's codes; a child's
// own codes pass through. No exception leaves an export.
//
// Start-up and shut-down run under the loader lock: they create no thread. Threads start lazily
// on the first request that needs them; shut-down waits only for the resizers' workers' last
// signal, after which they run no code of ours. On process exit shut-down leaves
// alone what the system is ending anyway (the threads, the other libraries).
#pragma once

#include "hostplugins/SusieInterface.h"
#include "geometry/Resize.h"
#include "hostplugins/SusiePluginList.h"
#include "metadata/ImageInfoReader.h"
#include "base/WinHandles.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace qorvi {

// Process-wide state, valid between InitializePlugin and FinalizePlugin.
extern int32_t ProcessorCount;
extern std::unique_ptr<TSusiePluginList> PluginList;
extern std::optional<CriticalSection> TransformLock;  // around every colour-engine transform
extern std::optional<CriticalSection> ResizeLock;     // around every filtered resize
extern bool WorkerThreadsStarted;  // the engine's workers exist (started by the first transform)
extern std::unique_ptr<TResizer> PictureResizer;    // GetPicture's output
extern std::unique_ptr<TResizer> ThumbnailResizer;  // GetPreview's output
// qorvi.ini beside the library, where a confirmed settings dialog writes.
extern std::string SettingsFile;

// Each runs once per load, however often it is called. `module` is qorvi.spi's own module.
void InitializePlugin(HMODULE module);
void FinalizePlugin(bool processExit);

// The settings-dependent steps of start-up, for both engine records: their intents and flags
// from PluginOption, and the engine option bit, added last. ApplyConfirmedSettings runs them
// again with the profile set-up and the children's CMYK switch after a confirmed settings
// dialog, on the live records.
void WriteCMSInfoIntents();
void AddEngineOption();
void ApplyConfirmedSettings();

// The resizers' filters from PluginOption: DecimationMode for pictures, ThumbnailQuality for
// previews (0 area average, 1 Lanczos3, anything else Lanczos4). Taken under ResizeLock, so a
// mode never changes under a running resize.
void SetResizerModes();

// The settings dialog's frame: the plug-in order is saved, `showForm` shows the form modally over
// `parent` (the owner of the library's windows meanwhile) and answers its modal result. OK (1)
// means the form stored and wrote the new settings, and the settings-dependent steps run again;
// any other result restores the saved order and enabled flags. Answers 0.
constexpr int ModalResultOK = 1;
using ConfigurationForm = int (*)(HWND parent);
int RunConfigurationDialog(HWND parent, ConfigurationForm showForm);
// The settings dialog itself (ui/ConfigurationFrm.h), writing SettingsFile.
int ShowConfigurationForm(HWND parent);
extern HWND OwnerWindow;

// How a pipeline fault reaches the user: a plain message box with an OK button on the calling
// thread, shown once per failed request. Tests put their own reporter here.
using FaultReporter = void (*)(const wchar_t* message);
extern FaultReporter ReportPipelineFault;

// The text of information number 1: the plug-in's name and version, then the maker's notice.
extern const char* const PluginVersionText;

// Post-processes the bitmap a child delivered for a picture (preview false) or a thumbnail
// (preview true). `infoHandle` and `bitsHandle` are the host's variables: they hold the final,
// unlocked handles on return, also after a failure (false), which the caller answers with 8
// after freeing both.
bool ProcessPicture(TMemoryReader& reader, HLOCAL& infoHandle, HLOCAL& bitsHandle, bool preview);

}  // namespace qorvi

extern "C" {
int __stdcall GetPluginInfo(int infono, LPSTR buf, int buflen);
int __stdcall IsSupported(LPCSTR filename, DWORD dw);
int __stdcall GetPictureInfo(LPCSTR buf, long len, unsigned flag, qorvi::PictureInfo* lpInfo);
int __stdcall GetPicture(LPCSTR buf, long len, unsigned flag, HLOCAL* pHBInfo, HLOCAL* pHBm,
                         qorvi::SusieProgressCallback lpPrgressCallback, long lData);
int __stdcall GetPreview(LPCSTR buf, long len, unsigned flag, HLOCAL* pHBInfo, HLOCAL* pHBm,
                         qorvi::SusieProgressCallback lpPrgressCallback, long lData);
int __stdcall ConfigurationDlg(HWND parent, int fnc);
}
