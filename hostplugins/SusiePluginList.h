// Child plug-in host: the other import plug-ins that qorvi.spi hands its work to.
//
// TSusiePlugin owns one child library. Every Call... goes through the guarded-call primitive
// (GuardedCall.h): a missing entry point gives its fixed "missing" result, a fault or exception
// raised inside the child gives its "fault" result, and unless its owner marked it thread-safe
// (ThreadSafe, read once per call) only one thread at a time is inside any one child.
//
// TSusiePluginList owns the children in dispatch order, finds them in a folder, picks the child
// for a request (extension guess, then every other enabled child in order), builds the format lists
// qorvi.spi advertises and reads and writes the order string ("a.spi=1","b.spi=0"). It is
// complete before the first request; afterwards only the settings dialog changes it, on the
// host's window thread, while requests may be choosing a child: a request walks a copy of the
// order taken under a lock that Move holds too, and children are never freed before shut-down.
#pragma once

#include "base/WinHandles.h"
#include "hostplugins/SusieInterface.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qorvi {

// The buffer the kind, the extension patterns and the format descriptions are read into; the
// child is told one byte less, so the last byte stays the terminator of a child that keeps to it.
inline constexpr int InfoBufferSize = 256;

// One information string as a child gave it (TSusiePlugin::CallGetPluginInfo, and
// CallGetPluginInfoW in UTF-16).
template <class Text>
struct ChildInfoAnswer {
    bool completed = false;  // false: the child faulted
    int returned = 0;        // the child's answer, whatever it claims
    Text text;               // what it wrote, never read past our buffer (see CallGetPluginInfo)
};
using ChildInfoText = ChildInfoAnswer<std::string>;
using ChildInfoTextW = ChildInfoAnswer<std::wstring>;

// The file name a request asks about: the name in the system's code page, and for a request
// through a wide entry point the name as the host gave it (Ansi then holds "?" for each character
// the code page lacks). Children with wide entry points are asked with the wide name, the others
// with the ANSI one.
struct RequestFileName {
    RequestFileName() = default;
    // An ANSI request.
    RequestFileName(std::string ansi) : Ansi(std::move(ansi)) {}
    RequestFileName(const char* ansi) : Ansi(ansi) {}
    // A wide request.
    explicit RequestFileName(std::wstring wide);

    std::string Ansi;
    std::wstring Wide;  // empty for an ANSI request
};

// The six entry points (SusieEntryPoints) are null while no library is loaded.
class TSusiePlugin : public SusieEntryPoints {
public:
    TSusiePlugin() = default;
    virtual ~TSusiePlugin();
    TSusiePlugin(const TSusiePlugin&) = delete;
    TSusiePlugin& operator=(const TSusiePlugin&) = delete;

    // Loads the library at `path` and keeps it when it reports the kind "00IN" exactly.
    // Records FormatList from information strings 2, 4, 6, ... Faults raised by the child while
    // it loads are contained and make the load fail. Sets neither FileName nor Enabled.
    bool LoadFrom(const std::wstring& path);
    // Frees the library and returns the object to its new state (Lock stays usable).
    void Unload();

    // A wide request asks IsSupportedW when the child has it, else IsSupported with the ANSI name.
    bool CallIsSupported(const RequestFileName& fileName, SusieHandleOrHead value);
    bool CallIsSupported2(const RequestFileName& fileName, const void* data, size_t size);
    int CallGetPictureInfo(LPCSTR buf, SusieLength len, unsigned flag, PictureInfo* lpInfo);
    int CallGetPictureInfoW(LPCWSTR buf, SusieLength len, unsigned flag, PictureInfo* lpInfo);
    int CallGetPicture(LPCSTR buf, SusieLength len, unsigned flag, HLOCAL* pHBInfo, HLOCAL* pHBm,
                       SusieProgressCallback progress, SusieLength lData);
    int CallGetPreview(LPCSTR buf, SusieLength len, unsigned flag, HLOCAL* pHBInfo, HLOCAL* pHBm,
                       SusieProgressCallback progress, SusieLength lData);
    int CallConfigurationDlg(HWND parent, int fnc);
    void CallUseCMYKColorSpace(int32_t value);
    // GetPluginInfo(infono) into a cleared buffer of `bufferSize` bytes, telling the child one
    // byte less; guarded, never locked. `text` runs to the first zero byte and, with
    // `cutAtReturned`, to the returned length at most (a negative length gives no text).
    ChildInfoText CallGetPluginInfo(int infono, int bufferSize, bool cutAtReturned);
    // The same through GetPluginInfoW, the buffer counted in characters; not completed when the
    // child has no GetPluginInfoW.
    ChildInfoTextW CallGetPluginInfoW(int infono, int bufferSize, bool cutAtReturned);

    // The child's information string 1 in a modal box captioned WideFileName, centred over
    // `owner`.
    void ShowInformation(HWND owner);

    HMODULE Module() const noexcept { return module_.get(); }
    UseCMYKColorSpaceProc UseCMYKColorSpace = nullptr;
    IsSupported2Proc IsSupported2 = nullptr;
    bool HasConfigurationDlg = false;
    // Set by the owner (the list, from the ThreadSafeSPI setting); may change while calls run.
    std::atomic<bool> ThreadSafe{false};
    bool Enabled = false;
    // The library's file name as it lies in its folder, and in the system's code page, as the
    // order string stores it ("?" for each character the code page lacks).
    std::wstring WideFileName;
    std::string FileName;
    std::string FormatList;
    CriticalSection Lock;

private:
    UniqueModule module_;
    // Decided once per call, so that a call leaves the lock exactly when it entered it.
    bool LockCalls() const noexcept { return !ThreadSafe.load(std::memory_order_relaxed); }
};

class TSusiePluginList {
public:
    TSusiePluginList() = default;
    ~TSusiePluginList();
    TSusiePluginList(const TSusiePluginList&) = delete;
    TSusiePluginList& operator=(const TSusiePluginList&) = delete;

    // List access.
    int Count() const { return static_cast<int>(items_.size()); }
    TSusiePlugin* Items(int index) const { return items_[static_cast<size_t>(index)].get(); }
    void Add(std::unique_ptr<TSusiePlugin> plugin);
    void Delete(int index);
    void Move(int from, int to);

    // Loads every "*.spi" of `folder` ("*.sph" in the 64-bit build; ordinary files only),
    // skipping our own name ("qorvi.spi", "qorvi.sph") and names already in the list.
    void LoadDirectory(const std::wstring& folder);
    // The child of that ANSI name. A name with "?" names none: it stands for characters the code
    // page lacks, and may stand for several children.
    int IndexOfFileName(const std::string& name) const;
    int IndexOfWideFileName(const std::wstring& name) const;
    int IndexOfExtension(const std::string& ext) const;
    TSusiePlugin* FindSupporting(const RequestFileName& fileName, SusieHandleOrHead value);
    TSusiePlugin* FindSupportingData(const RequestFileName& fileName, const void* data,
                                     size_t size);

    // The lists in both forms, entry for entry: each child's wide texts from its GetPluginInfoW
    // when it has one, else its ANSI texts converted from the system's code page.
    void BuildFormatLists();
    std::string GetPattern(int index) const;
    std::string GetDescription(int index) const;
    std::wstring GetPatternW(int index) const;
    std::wstring GetDescriptionW(int index) const;

    std::string GetOrderString() const;
    void ApplyOrderString(const std::string& order);
    void SetUseCMYKColorSpace(int32_t value);
    // Whether children are called without their lock: for every child there is and every one
    // added later.
    void SetThreadSafe(bool threadSafe);
    void Clear();

    std::vector<std::string> Patterns;
    std::vector<std::string> Descriptions;
    std::vector<std::wstring> PatternsW;
    std::vector<std::wstring> DescriptionsW;

private:
    // The children in dispatch order, as taken under orderLock_.
    std::vector<TSusiePlugin*> Order() const;
    // The child the extension names when it accepts, else the first other enabled one that
    // does; each asked once.
    template <class Accepts>
    TSusiePlugin* FindFirst(const RequestFileName& fileName, Accepts accepts) const;

    std::vector<std::unique_ptr<TSusiePlugin>> items_;
    bool threadSafe_ = false;
    mutable CriticalSection orderLock_;
};

}  // namespace qorvi
