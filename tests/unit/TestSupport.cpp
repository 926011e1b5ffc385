#include "tests/unit/TestSupport.h"

#include "base/WinHandles.h"
#include "base/WinText.h"
#include "base/WindowPlacement.h"
#include "hostplugins/SusiePluginList.h"
#include "tests/fixtures/TextLines.h"

#include <tlhelp32.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <cwchar>
#include <stdexcept>

namespace qorvi::test {
namespace {

std::wstring ExecutableFolder() {
    wchar_t path[MAX_PATH + 1] = {};
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) throw std::runtime_error("GetModuleFileNameW failed");
    std::wstring full(path, length);
    return full.substr(0, full.find_last_of(L"\\/"));
}

std::wstring TempFolder() {
    wchar_t path[MAX_PATH + 1] = {};
    DWORD length = GetTempPathW(MAX_PATH, path);
    if (length == 0 || length >= MAX_PATH) throw std::runtime_error("GetTempPathW failed");
    std::wstring folder(path, length);
    while (!folder.empty() && (folder.back() == L'\\' || folder.back() == L'/')) folder.pop_back();
    return folder;
}

// For messages: the system code page's spelling of a wide name.
std::string Ansi(const std::wstring& text) { return NarrowToAnsi(text); }

std::wstring Join(const std::wstring& folder, const std::wstring& relative) {
    return relative.empty() ? folder : folder + L"\\" + relative;
}

// Creates `path` and every missing folder above it.
void CreateFolders(const std::wstring& path) {
    if (path.empty() || GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) return;
    size_t slash = path.find_last_of(L"\\/");
    if (slash != std::wstring::npos && slash > 0) CreateFolders(path.substr(0, slash));
    if (!CreateDirectoryW(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        throw std::runtime_error("cannot create folder " + Ansi(path));
}

void CreateParentFolders(const std::wstring& filePath) {
    size_t slash = filePath.find_last_of(L"\\/");
    if (slash != std::wstring::npos) CreateFolders(filePath.substr(0, slash));
}

void WriteWholeFile(const std::wstring& path, const std::string& contents) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot create " + Ansi(path));
    DWORD written = 0;
    BOOL ok = WriteFile(file, contents.data(), DWORD(contents.size()), &written, nullptr);
    CloseHandle(file);
    if (!ok || written != contents.size()) throw std::runtime_error("cannot write " + Ansi(path));
}

void WriteWholeFile(const std::string& path, const std::string& contents) {
    WriteWholeFile(WidenAnsi(path), contents);
}

// Deletes a folder with everything in it, hidden and read-only files included. Best effort:
// a DLL still loaded stays behind.
void RemoveTree(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring path = folder + L"\\" + name;
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(path);
            else
                DeleteFileW(path.c_str());
        } while (FindNextFileW(find, &found));
        FindClose(find);
    }
    RemoveDirectoryW(folder.c_str());
}

void PutLE32(std::string& out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(char((value >> shift) & 0xFF));
}

std::string QvtHeader(uint32_t width, uint32_t height) {
    std::string out = "QVT1";
    PutLE32(out, width);
    PutLE32(out, height);
    return out;
}

}  // namespace

namespace {

struct NamePair {
    const char* tests;
    const char* build;
};
#ifdef _WIN64
constexpr NamePair BuildNames[] = {
    {"qorvi.dll", "qorvi64.dll"}, {"qorvi-host.exe", "qorvi-host64.exe"}, {".spi", ".sph"}};
#else
constexpr NamePair BuildNames[] = {{"", ""}};
#endif

template <class Char>
std::basic_string<Char> ReplaceAll(std::basic_string<Char> text, const char* from, const char* to) {
    // The names are ASCII, the same characters in either width.
    const std::basic_string<Char> wanted(from, from + std::strlen(from));
    const std::basic_string<Char> replacement(to, to + std::strlen(to));
    if (wanted.empty()) return text;
    for (size_t at = text.find(wanted); at != text.npos;
         at = text.find(wanted, at + replacement.size()))
        text.replace(at, wanted.size(), replacement);
    return text;
}

bool IsSettingsText(const std::wstring& path) {
    for (const wchar_t* ending : {L".ini", L".cfg"}) {
        const size_t length = std::wcslen(ending);
        if (path.size() >= length && _wcsicmp(path.c_str() + path.size() - length, ending) == 0)
            return true;
    }
    return false;
}

}  // namespace

std::string ForBuild(std::string text) {
    for (const NamePair& names : BuildNames)
        text = ReplaceAll(std::move(text), names.tests, names.build);
    return text;
}

std::string FromBuild(std::string text) {
    for (const NamePair& names : BuildNames)
        text = ReplaceAll(std::move(text), names.build, names.tests);
    return text;
}

std::wstring ForBuild(const std::wstring& text) {
    std::wstring result = text;
    for (const NamePair& names : BuildNames)
        result = ReplaceAll(std::move(result), names.tests, names.build);
    return result;
}

std::wstring FromBuild(const std::wstring& text) {
    std::wstring result = text;
    for (const NamePair& names : BuildNames)
        result = ReplaceAll(std::move(result), names.build, names.tests);
    return result;
}

namespace {

std::wstring BuiltWidePath(const std::string& file) {
    const std::wstring path = ExecutableFolder() + L"\\" + WidenAnsi(ForBuild(file));
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES)
        throw std::runtime_error("not built: " + Ansi(path));
    return path;
}

}  // namespace

std::string FixturePath(const std::string& file) { return BuiltPath("fixtures\\" + file); }

std::string BuiltPath(const std::string& file) { return Ansi(BuiltWidePath(file)); }

TempPluginFolder::TempPluginFolder(std::wstring_view nameTail) {
    static std::atomic<unsigned> serial{0};
    const std::wstring base =
        TempFolder() + L"\\qorvi-test-" + std::to_wstring(GetCurrentProcessId()) + L"-";
    for (int attempt = 0; attempt < 1000; ++attempt) {
        std::wstring candidate = base + std::to_wstring(serial++) + L"-" +
                                 std::to_wstring(GetTickCount()) + std::wstring(nameTail);
        if (CreateDirectoryW(candidate.c_str(), nullptr)) {
            widePath_ = candidate;
            path_ = Ansi(widePath_);
            return;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    throw std::runtime_error("cannot create a temporary plug-in folder under " +
                             Ansi(TempFolder()));
}

TempPluginFolder::~TempPluginFolder() { RemoveTree(widePath_); }

TempFile::TempFile(const std::string& contents) {
    char name[MAX_PATH + 1] = {};
    if (!GetTempFileNameA(Ansi(TempFolder()).c_str(), "qvt", 0, name))
        throw std::runtime_error("no temporary file name under " + Ansi(TempFolder()));
    path_ = name;
    WriteWholeFile(path_, contents);
}

TempFile::~TempFile() { DeleteFileA(path_.c_str()); }

ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                      DWORD silentMs) {
    std::vector<std::wstring> wideArgs;
    for (const std::string& arg : args) wideArgs.push_back(WidenAnsi(arg));
    return RunProgram(WidenAnsi(program), wideArgs, silentMs);
}

ProgramRun RunProgram(const std::wstring& program, const std::vector<std::wstring>& args,
                      DWORD silentMs) {
    auto quote = [](const std::wstring& arg) { return L"\"" + arg + L"\""; };
    ProgramRun run;
    std::wstring commandLine = quote(program);
    for (const std::wstring& arg : args) commandLine += L" " + quote(arg);

    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return run;
    UniqueHandle reader(readEnd), writer(writeEnd);
    SetHandleInformation(reader.get(), HANDLE_FLAG_INHERIT, 0);
    UniqueFile nul(CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                               OPEN_EXISTING, 0, nullptr));

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nul.get();
    startup.hStdOutput = writer.get();
    startup.hStdError = writer.get();
    PROCESS_INFORMATION process{};
    std::vector<wchar_t> mutableLine(commandLine.begin(), commandLine.end());
    mutableLine.push_back(L'\0');
    if (!CreateProcessW(nullptr, mutableLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &process)) {
        run.output = "CreateProcess failed";
        return run;
    }
    UniqueHandle processHandle(process.hProcess), thread(process.hThread);
    writer.reset();  // our copy; the pipe ends when the program's copies close
    // Reads only what is there, so that a silent program cannot block us.
    char buffer[4096];
    DWORD lastOutput = GetTickCount();
    bool ended = false;
    for (;;) {
        DWORD available = 0, got = 0;
        if (!PeekNamedPipe(reader.get(), nullptr, 0, nullptr, &available, nullptr)) break;
        if (available > 0) {
            if (!ReadFile(reader.get(), buffer, sizeof buffer, &got, nullptr)) break;
            run.output.append(buffer, got);
            lastOutput = GetTickCount();
        } else if (ended) {
            break;  // all it printed is read; what it started may hold the pipe on
        } else if (WaitForSingleObject(processHandle.get(), 50) == WAIT_OBJECT_0) {
            ended = true;
        } else if (GetTickCount() - lastOutput > silentMs) {
            TerminateProcess(processHandle.get(), 0xFFFFFFFF);
            run.hung = true;
            break;
        }
    }
    if (WaitForSingleObject(processHandle.get(), 10000) == WAIT_OBJECT_0 && !run.hung)
        GetExitCodeProcess(processHandle.get(), &run.exitCode);
    return run;
}

std::wstring TempPluginFolder::AddChild(const std::string& fixtureFile, const std::wstring& asName,
                                        const std::wstring& subfolder, const std::string& config) {
    const std::wstring target = AddBuilt("fixtures\\" + fixtureFile, asName, subfolder);
    if (!config.empty()) WriteWholeFile(target + L".cfg", ForBuild(config));
    return target;
}

std::wstring TempPluginFolder::AddBuilt(const std::string& builtFile, const std::wstring& asName,
                                        const std::wstring& subfolder) {
    const std::wstring folder = Join(widePath_, subfolder);
    CreateFolders(folder);
    const std::wstring target = folder + L"\\" + ForBuild(asName);
    if (!CopyFileW(BuiltWidePath(builtFile).c_str(), target.c_str(), FALSE))
        throw std::runtime_error("cannot copy " + builtFile + " to " + Ansi(target));
    return target;
}

std::wstring TempPluginFolder::AddFile(const std::wstring& relativePath,
                                       const std::string& contents, DWORD attributes) {
    const std::wstring target = Join(widePath_, ForBuild(relativePath));
    CreateParentFolders(target);
    WriteWholeFile(target, IsSettingsText(target) ? ForBuild(contents) : contents);
    if (attributes != 0 && !SetFileAttributesW(target.c_str(), attributes))
        throw std::runtime_error("cannot set the attributes of " + Ansi(target));
    return target;
}

std::wstring TempPluginFolder::AddFolder(const std::wstring& relativePath) {
    const std::wstring target = Join(widePath_, relativePath);
    CreateFolders(target);
    return target;
}

std::string TempPluginFolder::AddChild(const std::string& fixtureFile, const std::string& asName,
                                       const std::string& subfolder, const std::string& config) {
    return Ansi(AddChild(fixtureFile, WidenAnsi(asName), WidenAnsi(subfolder), config));
}

std::string TempPluginFolder::AddBuilt(const std::string& builtFile, const std::string& asName,
                                       const std::string& subfolder) {
    return Ansi(AddBuilt(builtFile, WidenAnsi(asName), WidenAnsi(subfolder)));
}

std::string TempPluginFolder::AddFile(const std::string& relativePath, const std::string& contents,
                                      DWORD attributes) {
    return Ansi(AddFile(WidenAnsi(relativePath), contents, attributes));
}

std::string TempPluginFolder::AddFolder(const std::string& relativePath) {
    return Ansi(AddFolder(WidenAnsi(relativePath)));
}

FixtureLog::FixtureLog() {
    char previous[32768];
    DWORD length = GetEnvironmentVariableA("QORVI_FIXTURE_LOG", previous, sizeof previous);
    if (length > 0 && length < sizeof previous) {
        hadPrevious_ = true;
        previous_.assign(previous, length);
    }
    char file[MAX_PATH + 1] = {};
    if (!GetTempFileNameA(Ansi(TempFolder()).c_str(), "qfl", 0, file))
        throw std::runtime_error("cannot create the fixture log file");
    path_ = file;
    SetEnvironmentVariableA("QORVI_FIXTURE_LOG", path_.c_str());
}

FixtureLog::~FixtureLog() {
    SetEnvironmentVariableA("QORVI_FIXTURE_LOG", hadPrevious_ ? previous_.c_str() : nullptr);
    DeleteFileA(path_.c_str());
}

std::vector<std::string> FixtureLog::Lines() const {
    return SplitLines(FromBuild(ReadWholeFile(path_)));
}

void FixtureLog::Clear() const { WriteWholeFile(path_, ""); }

std::string QvtImage(uint32_t width, uint32_t height) {
    std::string out = QvtHeader(width, height);
    out.reserve(out.size() + size_t(width) * height * 3);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            out.push_back(char(x & 0xFF));
            out.push_back(char(y & 0xFF));
            out.push_back(char((x + y) & 0xFF));
        }
    return out;
}

std::string QvtImageTruncated(uint32_t width, uint32_t height, size_t pixelBytes) {
    std::string out = QvtHeader(width, height);
    out.append(pixelBytes, '\x55');
    return out;
}

std::string ReadWholeFile(const std::string& path) { return ReadWholeFile(WidenAnsi(path)); }

std::string ReadWholeFile(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    std::string text;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) text.append(chunk, got);
    CloseHandle(file);
    return text;
}

FixtureProbe::FixtureProbe(HMODULE module) : module_(module) {
    if (!module_) throw std::runtime_error("FixtureProbe needs a loaded fixture");
}

// FARPROC stands for any signature; going through void* says so to the compiler.
template <class Proc>
Proc As(FARPROC proc) {
    return reinterpret_cast<Proc>(reinterpret_cast<void*>(proc));
}

FARPROC FixtureProbe::Need(const char* name) const {
    FARPROC proc = GetProcAddress(module_, name);
    if (!proc) throw std::runtime_error(std::string("not a fixture: no export ") + name);
    return proc;
}

int FixtureProbe::CallCount(const char* entry) const {
    return As<int(__stdcall*)(const char*)>(Need("FixtureCallCount"))(entry);
}
unsigned FixtureProbe::LastFlag() const {
    return As<unsigned(__stdcall*)()>(Need("FixtureLastFlag"))();
}
SusieLength FixtureProbe::LastLength() const {
    return As<SusieLength(__stdcall*)()>(Need("FixtureLastLength"))();
}
ULONG_PTR FixtureProbe::LastValue() const {
    return As<ULONG_PTR(__stdcall*)()>(Need("FixtureLastValue"))();
}
bool FixtureProbe::LastNameWasNull() const {
    return As<int(__stdcall*)()>(Need("FixtureLastNameWasNull"))() != 0;
}
int FixtureProbe::LastCMYK() const { return As<int(__stdcall*)()>(Need("FixtureLastCMYK"))(); }
int FixtureProbe::MaxInside() const { return As<int(__stdcall*)()>(Need("FixtureMaxInside"))(); }
std::wstring FixtureProbe::LastWideName() const {
    const auto read = As<int(__stdcall*)(wchar_t*, int)>(Need("FixtureLastWideName"));
    std::wstring name(size_t(read(nullptr, 0)), L'\0');
    read(name.data(), int(name.size()) + 1);  // the string's own end has room for the null
    return name;
}
void FixtureProbe::Configure(const char* key, const char* value) const {
    As<void(__stdcall*)(const char*, const char*)>(Need("FixtureConfigure"))(key, value);
}
void FixtureProbe::Reset() const { As<void(__stdcall*)()>(Need("FixtureReset"))(); }

SelfHost::SelfHost(const std::string& path) : module_(LoadLibraryA(path.c_str())) {
    if (!module_) throw std::runtime_error("cannot load " + path);
}

SelfHost::~SelfHost() { FreeLibrary(module_); }

int SelfHost::LoadFolder(const std::string& folder, std::string* names) const {
    FARPROC proc = GetProcAddress(module_, "SelfHostLoadFolder");
    if (!proc) throw std::runtime_error("not selfhost.spi: no export SelfHostLoadFolder");
    char buffer[1024] = {};
    const int count =
        As<int(__stdcall*)(const char*, char*, int)>(proc)(folder.c_str(), buffer, sizeof buffer);
    if (names) *names = buffer;
    return count;
}

bool CanShowWindows() {
    HWND probe = CreateWindowExW(0, L"STATIC", L"probe", WS_OVERLAPPED, 0, 0, 10, 10, nullptr,
                                 nullptr, nullptr, nullptr);
    if (probe == nullptr) return false;
    DestroyWindow(probe);
    return true;
}

bool RunsEmulated() {
    char value[8] = {};
    const DWORD length = GetEnvironmentVariableA("QORVI_I386_EMULATED", value, sizeof value);
    return length > 0 && length < sizeof value && std::string(value) == "1";
}

namespace {

bool IsCentredOver(HWND box, HWND owner) {
    RECT rect{};
    GetWindowRect(box, &rect);
    const POINT expected = CenterOverWindow(owner, rect.right - rect.left, rect.bottom - rect.top);
    return rect.left == expected.x && rect.top == expected.y;
}

struct DialogSearch {
    const std::wstring& caption;
    HWND found;
};

BOOL CALLBACK MatchOwnDialog(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<DialogSearch*>(param);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != GetCurrentProcessId() || !IsWindowVisible(window)) return TRUE;
    wchar_t name[16] = {}, caption[256] = {};
    GetClassNameW(window, name, 16);
    GetWindowTextW(window, caption, 256);
    if (lstrcmpW(name, L"#32770") != 0 || search->caption != caption) return TRUE;
    search->found = window;
    return FALSE;
}

}  // namespace

HWND FindOwnDialog(const std::wstring& caption) {
    DialogSearch search{caption, nullptr};
    EnumWindows(MatchOwnDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

ShownBox DismissBox(const std::wstring& caption, HWND owner, int attempts) {
    ShownBox shown;
    HWND box = nullptr;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        box = FindOwnDialog(caption);
        if (box != nullptr && (owner == nullptr || IsCentredOver(box, owner))) break;
        Sleep(10);
    }
    if (box != nullptr) {
        wchar_t text[2048] = {};
        GetDlgItemTextW(box, 0xFFFF, text, 2048);  // the message box's text control
        shown.text = text;
        GetWindowRect(box, &shown.rect);
        shown.thread = GetWindowThreadProcessId(box, nullptr);
        shown.found = true;
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        for (int attempt = 0; attempt < 500 && IsWindow(box); ++attempt) Sleep(10);
    }
    return shown;
}

size_t CommittedPrivateBytes() {
    size_t total = 0;
    MEMORY_BASIC_INFORMATION region;
    for (const char* address = nullptr;
         VirtualQuery(address, &region, sizeof region) == sizeof region;
         address = static_cast<const char*>(region.BaseAddress) + region.RegionSize) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) total += region.RegionSize;
        if (static_cast<const char*>(region.BaseAddress) + region.RegionSize < address) break;
    }
    return total;
}

int HandleCount() {
    DWORD count = 0;
    GetProcessHandleCount(GetCurrentProcess(), &count);
    return int(count);
}

int ThreadCount() {
    // A failed snapshot is INVALID_HANDLE_VALUE, the empty value of a file-like handle.
    UniqueFile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    if (!snapshot) throw std::runtime_error("no thread snapshot");
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = Thread32First(snapshot.get(), &entry); more;
         more = Thread32Next(snapshot.get(), &entry)) {
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++count;
    }
    return count;
}

std::vector<DWORD> ThreadIds() {
    UniqueFile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    if (!snapshot) throw std::runtime_error("no thread snapshot");
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    std::vector<DWORD> ids;
    for (BOOL more = Thread32First(snapshot.get(), &entry); more;
         more = Thread32Next(snapshot.get(), &entry)) {
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) ids.push_back(entry.th32ThreadID);
    }
    return ids;
}

ThreadWatch::ThreadWatch() : before_(ThreadIds()) {}

ThreadWatch::~ThreadWatch() {
    for (HANDLE thread : started_) CloseHandle(thread);
}

int ThreadWatch::TakeStarted() {
    for (DWORD id : ThreadIds()) {
        if (std::find(before_.begin(), before_.end(), id) != before_.end()) continue;
        HANDLE thread = OpenThread(SYNCHRONIZE, FALSE, id);
        if (thread == nullptr) continue;  // ended already
        started_.push_back(thread);
        before_.push_back(id);
    }
    return int(started_.size());
}

bool ThreadWatch::AllEnded(DWORD timeoutMs) const {
    for (HANDLE thread : started_)
        if (WaitForSingleObject(thread, timeoutMs) != WAIT_OBJECT_0) return false;
    return true;
}

}  // namespace qorvi::test
