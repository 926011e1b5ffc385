#include "hostplugins/SusiePluginList.h"

#include "base/DelimitedText.h"
#include "base/WinText.h"
#include "hostplugins/OrderString.h"

#include <algorithm>
#include <utility>

namespace qorvi {
namespace {

// Names and extensions are compared as Windows compares file names for the user.
bool SameTextIgnoringCase(const std::string& a, const std::string& b) {
    return CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.data(),
                          static_cast<int>(a.size()), b.data(),
                          static_cast<int>(b.size())) == CSTR_EQUAL;
}

// The system's own file name; a child of that name would be ourselves.
const std::wstring OwnFileName = WidenAnsi(OwnPluginFileName);
const std::wstring ChildExtension = WidenAnsi(PluginExtension);

// File names compare as the file system compares them: ignoring case, character by character.
bool SameFileName(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

constexpr DWORD NotAChildFile =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY;

// A child that answers every information number would keep BuildFormatLists asking for ever and
// fill memory with its texts. Real children list a few dozen formats at most.
constexpr int MaxFormatsPerChild = 1024;

// Information string `infono`, cut at the returned length; false when the child faulted or
// returned 0 (both end this child's list).
bool ReadInformation(TSusiePlugin& plugin, int infono, std::string& text) {
    ChildInfoText answer = plugin.CallGetPluginInfo(infono, InfoBufferSize, true);
    if (!answer.completed || answer.returned == 0) return false;
    text = std::move(answer.text);
    return true;
}

// The same text in UTF-16: the child's own from GetPluginInfoW when it gives one, else `ansi`
// converted from the system's code page.
std::wstring ReadInformationW(TSusiePlugin& plugin, int infono, const std::string& ansi) {
    ChildInfoTextW answer = plugin.CallGetPluginInfoW(infono, InfoBufferSize, true);
    if (answer.completed && answer.returned != 0) return std::move(answer.text);
    return WidenAnsi(ansi);
}

// Entry `index` of a format list; an empty text past either end.
template <class Text>
Text EntryAt(const std::vector<Text>& list, int index) {
    if (index < 0 || index >= static_cast<int>(list.size())) return {};
    return list[static_cast<size_t>(index)];
}

int IndexOfExtensionIn(const std::vector<TSusiePlugin*>& order, const std::string& ext) {
    // A name without extension is not guessed at: "*" + "" would pick a child that lists "*".
    if (ext.empty()) return -1;
    const std::string wanted = "*" + ext;
    for (size_t i = 0; i < order.size(); ++i) {
        if (!order[i]->Enabled) continue;
        for (const std::string& pattern : SplitDelimitedText(order[i]->FormatList, ';')) {
            if (SameTextIgnoringCase(pattern, wanted)) return int(i);
        }
    }
    return -1;
}

}  // namespace

TSusiePluginList::~TSusiePluginList() { Clear(); }

void TSusiePluginList::Add(std::unique_ptr<TSusiePlugin> plugin) {
    plugin->ThreadSafe = threadSafe_;
    items_.push_back(std::move(plugin));
}

void TSusiePluginList::Delete(int index) {
    if (index < 0 || index >= Count()) return;
    items_.erase(items_.begin() + index);
}

void TSusiePluginList::Move(int from, int to) {
    if (from < 0 || from >= Count() || to < 0 || to >= Count() || from == to) return;
    CriticalSectionGuard guard(orderLock_);
    std::unique_ptr<TSusiePlugin> moving = std::move(items_[static_cast<size_t>(from)]);
    items_.erase(items_.begin() + from);
    items_.insert(items_.begin() + to, std::move(moving));
}

void TSusiePluginList::LoadDirectory(const std::wstring& folder) {
    std::wstring base = folder;
    if (!EndsWithPathDelimiter(base)) base.push_back(L'\\');

    WIN32_FIND_DATAW found;
    UniqueFind find(FindFirstFileW((base + L"*" + ChildExtension).c_str(), &found));
    if (!find) return;
    do {
        if (found.dwFileAttributes & NotAChildFile) continue;
        const std::wstring name = found.cFileName;
        // The mask also matches a long name such as "x.spix" through its 8.3 short name.
        if (!SameFileName(FileExtension(name), ChildExtension)) continue;
        if (SameFileName(name, OwnFileName)) continue;
        // The main folder is read first, so its child wins over one of the same name in SPI.
        if (IndexOfWideFileName(name) != -1) continue;

        auto plugin = std::make_unique<TSusiePlugin>();
        if (!plugin->LoadFrom(base + name)) continue;
        plugin->WideFileName = name;
        plugin->FileName = AnsiFileName(name);
        plugin->Enabled = true;
        Add(std::move(plugin));
    } while (FindNextFileW(find.get(), &found));
}

int TSusiePluginList::IndexOfFileName(const std::string& name) const {
    if (name.find('?') != std::string::npos) return -1;
    for (int i = 0; i < Count(); ++i) {
        if (Items(i)->FileName == name) return i;
    }
    return -1;
}

int TSusiePluginList::IndexOfWideFileName(const std::wstring& name) const {
    for (int i = 0; i < Count(); ++i) {
        if (Items(i)->WideFileName == name) return i;
    }
    return -1;
}

std::vector<TSusiePlugin*> TSusiePluginList::Order() const {
    CriticalSectionGuard guard(orderLock_);
    std::vector<TSusiePlugin*> order;
    order.reserve(items_.size());
    for (const std::unique_ptr<TSusiePlugin>& item : items_) order.push_back(item.get());
    return order;
}

int TSusiePluginList::IndexOfExtension(const std::string& ext) const {
    return IndexOfExtensionIn(Order(), ext);
}

template <class Accepts>
TSusiePlugin* TSusiePluginList::FindFirst(const RequestFileName& fileName, Accepts accepts) const {
    const std::vector<TSusiePlugin*> order = Order();
    // A memory request has no name to guess from.
    const int guess = fileName.Ansi.empty()
                          ? -1
                          : IndexOfExtensionIn(order, FileExtension(fileName.Ansi, SystemLeadByte));
    if (guess != -1 && accepts(*order[size_t(guess)])) return order[size_t(guess)];
    // Then every other enabled child in order. Each is asked once: a child that reads the head
    // from a file handle moves its position, and asking twice costs a child's look at the file.
    for (size_t i = 0; i < order.size(); ++i) {
        if (int(i) != guess && order[i]->Enabled && accepts(*order[i])) return order[i];
    }
    return nullptr;
}

TSusiePlugin* TSusiePluginList::FindSupporting(const RequestFileName& fileName,
                                               SusieHandleOrHead value) {
    return FindFirst(fileName,
                     [&](TSusiePlugin& child) { return child.CallIsSupported(fileName, value); });
}

TSusiePlugin* TSusiePluginList::FindSupportingData(const RequestFileName& fileName,
                                                   const void* data, size_t size) {
    return FindFirst(fileName, [&](TSusiePlugin& child) {
        return child.CallIsSupported2(fileName, data, size);
    });
}

void TSusiePluginList::BuildFormatLists() {
    Patterns.clear();
    Descriptions.clear();
    PatternsW.clear();
    DescriptionsW.clear();
    for (int i = 0; i < Count(); ++i) {
        TSusiePlugin& plugin = *Items(i);
        if (!plugin.Enabled || !plugin.GetPluginInfo) continue;
        for (int format = 0; format < MaxFormatsPerChild; ++format) {
            const int number = 2 + 2 * format;
            std::string pattern;
            std::string description;
            // A fault or a 0 ends this child's list only; the other children still count.
            if (!ReadInformation(plugin, number, pattern) ||
                !ReadInformation(plugin, number + 1, description)) {
                break;
            }
            PatternsW.push_back(ReadInformationW(plugin, number, pattern));
            DescriptionsW.push_back(ReadInformationW(plugin, number + 1, description));
            Patterns.push_back(std::move(pattern));
            Descriptions.push_back(std::move(description));
        }
    }
}

std::string TSusiePluginList::GetPattern(int index) const { return EntryAt(Patterns, index); }

std::string TSusiePluginList::GetDescription(int index) const {
    return EntryAt(Descriptions, index);
}

std::wstring TSusiePluginList::GetPatternW(int index) const { return EntryAt(PatternsW, index); }

std::wstring TSusiePluginList::GetDescriptionW(int index) const {
    return EntryAt(DescriptionsW, index);
}

std::string TSusiePluginList::GetOrderString() const {
    std::string order;
    for (int i = 0; i < Count(); ++i)
        AppendOrderEntry(order, Items(i)->FileName, Items(i)->Enabled);
    return order;
}

void TSusiePluginList::ApplyOrderString(const std::string& order) {
    int pos = 0;
    for (const OrderEntry& entry : ParseOrderEntries(order)) {
        const int index = IndexOfFileName(entry.name);
        if (index == -1) continue;
        // A child that an earlier entry of the same name already placed keeps that place and
        // that flag. Moving it again would take it past the children placed after it (or past
        // the end of the list when it is the last one). The flag is looked up by the name as
        // the list knows it, case-sensitively: X.spi and x.spi are two children, and the flag
        // stored for one must not be read for the other.
        if (index < pos) continue;
        Items(index)->Enabled = entry.value == "1";
        Move(index, pos);
        ++pos;
    }
}

void TSusiePluginList::SetUseCMYKColorSpace(int32_t value) {
    for (int i = 0; i < Count(); ++i) {
        if (Items(i)->Enabled) Items(i)->CallUseCMYKColorSpace(value);
    }
}

void TSusiePluginList::SetThreadSafe(bool threadSafe) {
    threadSafe_ = threadSafe;
    for (const auto& item : items_) item->ThreadSafe = threadSafe;
}

void TSusiePluginList::Clear() {
    while (!items_.empty()) items_.pop_back();
    Patterns.clear();
    Descriptions.clear();
    PatternsW.clear();
    DescriptionsW.clear();
}

}  // namespace qorvi
