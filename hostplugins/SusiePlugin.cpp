// TSusiePlugin: one child import plug-in, and the placement of its information box.
#include "base/GuardedCall.h"
#include "base/ThreadValue.h"
#include "base/WinText.h"
#include "base/WindowPlacement.h"
#include "hostplugins/SusiePluginList.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace qorvi {
namespace {

// The buffer ShowInformation reads the child's information text into.
constexpr int AboutBufferSize = 1024;

// A child that never returns 0 for information numbers past its last format (one that returns
// its buffer length for every number, say) would keep LoadFrom looping forever while the host
// starts. Real children list a few dozen formats at most; past this many we stop reading.
constexpr int MaxFormatStrings = 512;

// Calls an entry point that answers with a result code: -1 when the child lacks it, 8 when it
// faults. The arguments are plain values and pointers, so nothing with a destructor lives
// inside the guarded region. `locking` is false for ConfigurationDlg and for thread-safe children.
template <class Entry, class... Args>
int CallForResult(CriticalSection& lock, bool locking, Entry entry, Args... args) {
    if (entry == nullptr) return SusieNotImplemented;
    CriticalSectionGuard guard(lock, locking);
    int result = SusieInternalError;
    auto call = [&] { result = entry(args...); };
    if (!RunGuarded(call).completed) return SusieInternalError;
    return result;
}

// Asks a support test (IsSupported, IsSupportedW or IsSupported2): false when the child lacks it
// or faults.
template <class Entry, class Name, class Value>
bool AskIsSupported(CriticalSection& lock, bool locking, Entry entry, Name name, Value value) {
    if (entry == nullptr) return false;
    CriticalSectionGuard guard(lock, locking);
    int result = 0;
    auto call = [&] { result = entry(name, value); };
    if (!RunGuarded(call).completed) return false;
    return result != 0;
}

// GetPluginInfo or GetPluginInfoW(infono) into a cleared buffer of `bufferSize` characters,
// telling the child one less; guarded, never locked.
template <class Text, class Entry>
ChildInfoAnswer<Text> ReadInfoText(Entry entry, int infono, int bufferSize, bool cutAtReturned) {
    ChildInfoAnswer<Text> answer;
    if (entry == nullptr || bufferSize < 1) return answer;
    Text buffer(static_cast<size_t>(bufferSize), 0);  // made before the guarded region
    auto* characters = buffer.data();
    int returned = 0;
    auto call = [&] { returned = entry(infono, characters, bufferSize - 1); };
    if (!RunGuarded(call).completed) return answer;
    answer.completed = true;
    answer.returned = returned;
    // A child may claim more than it wrote, or more than the buffer holds: the text ends at the
    // buffer's last character, at the first zero and, when asked, at the claimed length.
    size_t limit = buffer.size() - 1;
    if (cutAtReturned) limit = returned < 0 ? 0 : std::min(limit, static_cast<size_t>(returned));
    const size_t zero = buffer.find(typename Text::value_type(0));
    answer.text.assign(characters, std::min(limit, zero));
    return answer;
}

// The module this code runs in: qorvi.spi in a host.
HMODULE OwnModule() noexcept {
    HMODULE module = nullptr;
    GetModuleHandleExA(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCSTR>(&OwnModule), &module);
    return module;
}

// The information box is placed by a hook on the showing thread: MessageBoxW creates and
// activates its window itself, and the first activation is our one chance to move it.
struct BoxPlacement {
    HWND owner = nullptr;
    UniqueHook hook;
};
ThreadValue<BoxPlacement*> tBoxPlacement;

LRESULT CALLBACK PlaceBoxHook(int code, WPARAM wParam, LPARAM lParam) {
    BoxPlacement* placement = tBoxPlacement.get();
    if (placement == nullptr) return CallNextHookEx(nullptr, code, wParam, lParam);
    HHOOK hook = placement->hook.get();
    if (code == HCBT_ACTIVATE) {
        HWND box = reinterpret_cast<HWND>(wParam);
        RECT rect;
        if (GetWindowRect(box, &rect)) {
            POINT position =
                CenterOverWindow(placement->owner, rect.right - rect.left, rect.bottom - rect.top);
            SetWindowPos(box, nullptr, position.x, position.y, 0, 0,
                         SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        }
        LRESULT next = CallNextHookEx(hook, code, wParam, lParam);
        placement->hook.reset();  // placed once; later activations are the user's
        return next;
    }
    return CallNextHookEx(hook, code, wParam, lParam);
}

}  // namespace

TSusiePlugin::~TSusiePlugin() { Unload(); }

RequestFileName::RequestFileName(std::wstring wide)
    : Ansi(AnsiFileName(wide)), Wide(std::move(wide)) {}

bool TSusiePlugin::LoadFrom(const std::wstring& path) {
    // A file that is not a loadable library is passed over silently: no system error box for a
    // missing dependency or a bad image while the host starts.
    DWORD previousMode = 0;
    const bool quiet =
        SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &previousMode) != FALSE;
    UniqueModule module(LoadLibraryW(path.c_str()));
    if (quiet) SetThreadErrorMode(previousMode, nullptr);
    if (!module) return false;
    // The list skips "qorvi.spi" by name; a copy of ourselves under another name loads as the
    // module already running, and taken as a child it would hand every request back to itself
    // until the stack runs out.
    if (module.get() == OwnModule()) return false;
    if (module_) Unload();  // a second LoadFrom must not leak the first library
    module_ = std::move(module);

    Bind(Module());
    if (GetPluginInfo == nullptr) {
        Unload();
        return false;
    }

    // Only import plug-ins: the kind must be "00IN" exactly, whole string, case-sensitive. A
    // child that faults while it tells us is refused as well.
    const ChildInfoText kind = CallGetPluginInfo(0, InfoBufferSize, false);
    if (!kind.completed || kind.text != "00IN") {
        Unload();
        return false;
    }

    std::string formats;
    for (int index = 0; index < MaxFormatStrings; ++index) {
        const ChildInfoText pattern = CallGetPluginInfo(2 + 2 * index, InfoBufferSize, false);
        if (!pattern.completed) {
            Unload();
            return false;
        }
        if (pattern.returned == 0) break;
        if (index > 0) formats += ';';
        formats += pattern.text;
    }
    FormatList = formats;

    HasConfigurationDlg = ConfigurationDlg != nullptr;
    UseCMYKColorSpace = EntryPoint<UseCMYKColorSpaceProc>(Module(), "UseCMYKColorSpace");
    IsSupported2 = EntryPoint<IsSupported2Proc>(Module(), "IsSupported2");
    return true;
}

void TSusiePlugin::Unload() {
    static_cast<SusieEntryPoints&>(*this) = SusieEntryPoints{};
    UseCMYKColorSpace = nullptr;
    IsSupported2 = nullptr;
    HasConfigurationDlg = false;
    Enabled = false;
    WideFileName.clear();
    FileName.clear();
    FormatList.clear();
    module_.reset();
}

bool TSusiePlugin::CallIsSupported(const RequestFileName& fileName, SusieHandleOrHead value) {
    // The host interface's way of saying "no file name, look at dw": a null pointer.
    if (!fileName.Wide.empty() && IsSupportedW != nullptr)
        return AskIsSupported(Lock, LockCalls(), IsSupportedW, fileName.Wide.c_str(), value);
    LPCSTR name = fileName.Ansi.empty() ? nullptr : fileName.Ansi.c_str();
    return AskIsSupported(Lock, LockCalls(), IsSupported, name, value);
}

bool TSusiePlugin::CallIsSupported2(const RequestFileName& fileName, const void* data,
                                    size_t size) {
    IsSupported2Proc entry = IsSupported2;
    if (entry == nullptr) {
        // Children without the extension are asked the classic way, the data pointer standing
        // in for the 32-bit value; CallIsSupported takes the lock, once.
        return CallIsSupported(fileName, reinterpret_cast<SusieHandleOrHead>(data));
    }
    return AskIsSupported(Lock, LockCalls(), entry, data, static_cast<SusieLength>(size));
}

int TSusiePlugin::CallGetPictureInfo(LPCSTR buf, SusieLength len, unsigned flag,
                                     PictureInfo* lpInfo) {
    return CallForResult(Lock, LockCalls(), GetPictureInfo, buf, len, flag, lpInfo);
}

int TSusiePlugin::CallGetPictureInfoW(LPCWSTR buf, SusieLength len, unsigned flag,
                                      PictureInfo* lpInfo) {
    return CallForResult(Lock, LockCalls(), GetPictureInfoW, buf, len, flag, lpInfo);
}

int TSusiePlugin::CallGetPicture(LPCSTR buf, SusieLength len, unsigned flag, HLOCAL* pHBInfo,
                                 HLOCAL* pHBm, SusieProgressCallback progress, SusieLength lData) {
    return CallForResult(Lock, LockCalls(), GetPicture, buf, len, flag, pHBInfo, pHBm, progress,
                         lData);
}

int TSusiePlugin::CallGetPreview(LPCSTR buf, SusieLength len, unsigned flag, HLOCAL* pHBInfo,
                                 HLOCAL* pHBm, SusieProgressCallback progress, SusieLength lData) {
    return CallForResult(Lock, LockCalls(), GetPreview, buf, len, flag, pHBInfo, pHBm, progress,
                         lData);
}

int TSusiePlugin::CallConfigurationDlg(HWND parent, int fnc) {
    // Never locked: a child's settings dialog is modal and may stay open for minutes; the lock
    // would hold every other request to this child for as long.
    return CallForResult(Lock, false, ConfigurationDlg, parent, fnc);
}

void TSusiePlugin::CallUseCMYKColorSpace(int32_t value) {
    UseCMYKColorSpaceProc entry = UseCMYKColorSpace;
    if (entry == nullptr) return;
    CriticalSectionGuard guard(Lock, LockCalls());
    auto call = [&] { entry(value); };
    (void)RunGuarded(call);  // the child's answer and a fault alike are ignored
}

ChildInfoText TSusiePlugin::CallGetPluginInfo(int infono, int bufferSize, bool cutAtReturned) {
    return ReadInfoText<std::string>(GetPluginInfo, infono, bufferSize, cutAtReturned);
}

ChildInfoTextW TSusiePlugin::CallGetPluginInfoW(int infono, int bufferSize, bool cutAtReturned) {
    return ReadInfoText<std::wstring>(GetPluginInfoW, infono, bufferSize, cutAtReturned);
}

void TSusiePlugin::ShowInformation(HWND owner) {
    if (GetPluginInfo == nullptr) return;
    // The terminator goes at the reported length, never outside the buffer (a fault counts as
    // no text).
    const ChildInfoText about = CallGetPluginInfo(1, AboutBufferSize, true);
    const std::wstring text = WidenAnsi(about.text);
    const std::wstring& caption = WideFileName;

    BoxPlacement placement;
    placement.owner = owner;
    placement.hook.reset(SetWindowsHookExW(WH_CBT, PlaceBoxHook, nullptr, GetCurrentThreadId()));
    BoxPlacement* previous = tBoxPlacement.get();
    tBoxPlacement.set(&placement);
    MessageBeep(MB_ICONINFORMATION);
    MessageBoxW(owner, text.c_str(), caption.c_str(), MB_ICONINFORMATION | MB_OK);
    tBoxPlacement.set(previous);
    // placement.hook unhooks here if the box never activated.
}

}  // namespace qorvi
