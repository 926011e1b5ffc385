#include "tests/unit/TestSupport.h"

#include "base/WinHandles.h"
#include "base/WindowPlacement.h"
#include "hostplugins/SusiePluginList.h"
#include "tests/fixtures/TextLines.h"

#include <tlhelp32.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <stdexcept>

namespace qorvi::test {
namespace {

std::string ExecutableFolder() {
    char path[MAX_PATH + 1] = {};
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) throw std::runtime_error("GetModuleFileNameA failed");
    std::string full(path, length);
    return full.substr(0, full.find_last_of("\\/"));
}

std::string TempFolder() {
    char path[MAX_PATH + 1] = {};
    DWORD length = GetTempPathA(MAX_PATH, path);
    if (length == 0 || length >= MAX_PATH) throw std::runtime_error("GetTempPathA failed");
    std::string folder(path, length);
    while (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
    return folder;
}

std::string Join(const std::string& folder, const std::string& relative) {
    return relative.empty() ? folder : folder + "\\" + relative;
}

// Creates `path` and every missing folder above it.
void CreateFolders(const std::string& path) {
    if (path.empty() || GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) return;
    size_t slash = path.find_last_of("\\/");
    if (slash != std::string::npos && slash > 0) CreateFolders(path.substr(0, slash));
    if (!CreateDirectoryA(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        throw std::runtime_error("cannot create folder " + path);
}

void CreateParentFolders(const std::string& filePath) {
    size_t slash = filePath.find_last_of("\\/");
    if (slash != std::string::npos) CreateFolders(filePath.substr(0, slash));
}

void WriteWholeFile(const std::string& path, const std::string& contents) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot create " + path);
    DWORD written = 0;
    BOOL ok = WriteFile(file, contents.data(), DWORD(contents.size()), &written, nullptr);
    CloseHandle(file);
    if (!ok || written != contents.size()) throw std::runtime_error("cannot write " + path);
}

// Deletes a folder with everything in it, hidden and read-only files included. Best effort:
// a DLL still loaded stays behind.
void RemoveTree(const std::string& folder) {
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..") continue;
            std::string path = folder + "\\" + name;
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(path);
            else
                DeleteFileA(path.c_str());
        } while (FindNextFileA(find, &found));
        FindClose(find);
    }
    RemoveDirectoryA(folder.c_str());
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

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
    if (from.empty()) return text;
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

bool IsSettingsText(const std::string& path) {
    for (const char* ending : {".ini", ".cfg"}) {
        const size_t length = std::strlen(ending);
        if (path.size() >= length && _stricmp(path.c_str() + path.size() - length, ending) == 0)
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

// The names are ASCII: each character maps to itself.
std::wstring ForBuild(const std::wstring& text) {
    const std::string narrow = ForBuild(std::string(text.begin(), text.end()));
    return std::wstring(narrow.begin(), narrow.end());
}

std::wstring FromBuild(const std::wstring& text) {
    const std::string narrow = FromBuild(std::string(text.begin(), text.end()));
    return std::wstring(narrow.begin(), narrow.end());
}

std::string FixturePath(const std::string& file) { return BuiltPath("fixtures\\" + file); }

std::string BuiltPath(const std::string& file) {
    std::string path = ExecutableFolder() + "\\" + ForBuild(file);
    if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES)
        throw std::runtime_error("not built: " + path);
    return path;
}

TempPluginFolder::TempPluginFolder() {
    static std::atomic<unsigned> serial{0};
    const std::string base =
        TempFolder() + "\\qorvi-test-" + std::to_string(GetCurrentProcessId()) + "-";
    for (int attempt = 0; attempt < 1000; ++attempt) {
        std::string candidate =
            base + std::to_string(serial++) + "-" + std::to_string(GetTickCount());
        if (CreateDirectoryA(candidate.c_str(), nullptr)) {
            path_ = candidate;
            return;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    throw std::runtime_error("cannot create a temporary plug-in folder under " + TempFolder());
}

TempPluginFolder::~TempPluginFolder() { RemoveTree(path_); }

TempFile::TempFile(const std::string& contents) {
    char name[MAX_PATH + 1] = {};
    if (!GetTempFileNameA(TempFolder().c_str(), "qvt", 0, name))
        throw std::runtime_error("no temporary file name under " + TempFolder());
    path_ = name;
    WriteWholeFile(path_, contents);
}

TempFile::~TempFile() { DeleteFileA(path_.c_str()); }

ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                      DWORD silentMs) {
    auto quote = [](const std::string& arg) { return "\"" + arg + "\""; };
    ProgramRun run;
    std::string commandLine = quote(program);
    for (const std::string& arg : args) commandLine += " " + quote(arg);

    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return run;
    UniqueHandle reader(readEnd), writer(writeEnd);
    SetHandleInformation(reader.get(), HANDLE_FLAG_INHERIT, 0);
    UniqueFile nul(CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                               OPEN_EXISTING, 0, nullptr));

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nul.get();
    startup.hStdOutput = writer.get();
    startup.hStdError = writer.get();
    PROCESS_INFORMATION process{};
    std::vector<char> mutableLine(commandLine.begin(), commandLine.end());
    mutableLine.push_back('\0');
    if (!CreateProcessA(nullptr, mutableLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
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

std::string TempPluginFolder::AddChild(const std::string& fixtureFile, const std::string& asName,
                                       const std::string& subfolder, const std::string& config) {
    const std::string target = AddBuilt("fixtures\\" + fixtureFile, asName, subfolder);
    if (!config.empty()) WriteWholeFile(target + ".cfg", ForBuild(config));
    return target;
}

std::string TempPluginFolder::AddBuilt(const std::string& builtFile, const std::string& asName,
                                       const std::string& subfolder) {
    const std::string folder = Join(path_, subfolder);
    CreateFolders(folder);
    const std::string target = folder + "\\" + ForBuild(asName);
    if (!CopyFileA(BuiltPath(builtFile).c_str(), target.c_str(), FALSE))
        throw std::runtime_error("cannot copy " + builtFile + " to " + target);
    return target;
}

std::string TempPluginFolder::AddFile(const std::string& relativePath, const std::string& contents,
                                      DWORD attributes) {
    const std::string target = Join(path_, ForBuild(relativePath));
    CreateParentFolders(target);
    WriteWholeFile(target, IsSettingsText(target) ? ForBuild(contents) : contents);
    if (attributes != 0 && !SetFileAttributesA(target.c_str(), attributes))
        throw std::runtime_error("cannot set the attributes of " + target);
    return target;
}

std::string TempPluginFolder::AddFolder(const std::string& relativePath) {
    const std::string target = Join(path_, relativePath);
    CreateFolders(target);
    return target;
}

FixtureLog::FixtureLog() {
    char previous[32768];
    DWORD length = GetEnvironmentVariableA("QORVI_FIXTURE_LOG", previous, sizeof previous);
    if (length > 0 && length < sizeof previous) {
        hadPrevious_ = true;
        previous_.assign(previous, length);
    }
    char file[MAX_PATH + 1] = {};
    if (!GetTempFileNameA(TempFolder().c_str(), "qfl", 0, file))
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

std::string ReadWholeFile(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ,
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
