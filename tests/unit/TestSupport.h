// Helpers for the tests of the child plug-in host: where the fixture plug-ins are, throw-away
// plug-in folders, the fixtures' call log, QVT1 pictures and the fixtures' control exports.
//
// The fixtures (tests/fixtures) are real import plug-ins built beside the test executable in
// "fixtures". Each reads "<its file name>.cfg" beside itself; see FixtureChild.cpp for the keys.
//
// Failures to set up (a missing fixture, a file that cannot be written) throw std::runtime_error,
// so the test that needed it fails with the reason.
//
// A loaded child keeps its DLL open, and an open DLL cannot be deleted: destroy plug-in objects
// before the TempPluginFolder that holds their files.
#pragma once

#include "hostplugins/SusieInterface.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qorvi::test {

// The tests name files as the 32-bit build does ("a.spi", "qorvi.spi", "qorvi.dll",
// "qorvi-host.exe"). In the 64-bit build ForBuild gives the names it uses instead ("a.sph",
// "qorvi.sph", "qorvi64.dll", "qorvi-host64.exe") and FromBuild turns them back. The helpers below
// apply ForBuild to every file name they are given and to the settings and fixture configuration
// files they write, and FixtureLog gives its lines back through FromBuild, so a test reads the
// same in both builds; a test that reads a name back from the plug-in itself compares it with
// ForBuild of what it expects.
std::string ForBuild(std::string text);
std::string FromBuild(std::string text);
std::wstring ForBuild(const std::wstring& text);
std::wstring FromBuild(const std::wstring& text);

// Full Windows path of a built fixture, e.g. FixturePath("fixture.spi").
std::string FixturePath(const std::string& file);
// Full Windows path of anything built beside the test executable, e.g. BuiltPath("qorvi.spi").
std::string BuiltPath(const std::string& file);

// A fresh, uniquely named folder under the temporary folder, removed with all it holds when the
// object goes away. Its name ends with `nameTail` when one is given (L"사진汉语😀"), for tests of
// paths the system code page cannot spell. Every file operation goes through the wide-character
// functions; the ANSI names of the functions below are taken and given back in the system code
// page, and are right only where it can spell them. Each has a twin for wide names.
class TempPluginFolder {
public:
    explicit TempPluginFolder(std::wstring_view nameTail = {});
    ~TempPluginFolder();
    TempPluginFolder(const TempPluginFolder&) = delete;
    TempPluginFolder& operator=(const TempPluginFolder&) = delete;

    // No trailing delimiter.
    const std::string& Path() const { return path_; }
    const std::wstring& WidePath() const { return widePath_; }

    // Copies the fixture `fixtureFile` to Path()\subfolder\asName (creating the subfolder) and,
    // when `config` is not empty, writes it to asName.cfg beside the copy
    // ("kind=00AM\naccept=all"). Returns the copy's full path.
    std::string AddChild(const std::string& fixtureFile, const std::string& asName,
                         const std::string& subfolder = "", const std::string& config = "");
    // Copies BuiltPath(builtFile) to Path()\subfolder\asName. Returns the copy's full path.
    std::string AddBuilt(const std::string& builtFile, const std::string& asName,
                         const std::string& subfolder = "");
    // Writes any other file, relative to Path(), with the given attributes (0 leaves them normal,
    // FILE_ATTRIBUTE_HIDDEN makes it hidden). Returns its full path.
    std::string AddFile(const std::string& relativePath, const std::string& contents,
                        DWORD attributes = 0);
    // Creates a folder (and the folders above it) relative to Path(). Returns its full path.
    std::string AddFolder(const std::string& relativePath);

    std::wstring AddChild(const std::string& fixtureFile, const std::wstring& asName,
                          const std::wstring& subfolder = L"", const std::string& config = "");
    std::wstring AddBuilt(const std::string& builtFile, const std::wstring& asName,
                          const std::wstring& subfolder = L"");
    std::wstring AddFile(const std::wstring& relativePath, const std::string& contents,
                         DWORD attributes = 0);
    std::wstring AddFolder(const std::wstring& relativePath);

private:
    std::wstring widePath_;
    std::string path_;
};

// Points QORVI_FIXTURE_LOG at a fresh temporary file while it lives; every fixture call then
// appends "<fixture file name> <entry>" there. The previous value comes back on destruction.
class FixtureLog {
public:
    FixtureLog();
    ~FixtureLog();
    FixtureLog(const FixtureLog&) = delete;
    FixtureLog& operator=(const FixtureLog&) = delete;

    const std::string& Path() const { return path_; }
    // The lines written so far, without line ends.
    std::vector<std::string> Lines() const;
    // Forgets what was written so far.
    void Clear() const;

private:
    std::string path_;
    bool hadPrevious_ = false;
    std::string previous_;
};

// A QVT1 picture: "QVT1", width, height (little-endian), width*height B,G,R triples top-down.
// Pixel (x, y) is B = x, G = y, R = x + y (each modulo 256), so a test can find any pixel again.
std::string QvtImage(uint32_t width, uint32_t height);
// The same header with only `pixelBytes` bytes of pixel data after it (a truncated picture).
std::string QvtImageTruncated(uint32_t width, uint32_t height, size_t pixelBytes);

// A file of the given contents in the temporary folder, deleted with the object.
class TempFile {
public:
    explicit TempFile(const std::string& contents);
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

// What a program run by RunProgram did.
struct ProgramRun {
    DWORD exitCode = 0xFFFFFFFF;  // also when it could not be started or was ended
    std::string output;           // stdout and stderr together
    bool hung = false;            // it printed nothing for the allowed time and was ended
};
// Runs `program` with `args` (each quoted) and no input, and collects what it prints. A program
// that prints nothing for `silentMs` is ended from here (a thread stuck under the loader lock
// cannot even end its own process).
ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                      DWORD silentMs = 60000);
// The same with a wide command line, for names outside the system's code page.
ProgramRun RunProgram(const std::wstring& program, const std::vector<std::wstring>& args,
                      DWORD silentMs = 60000);

// Reads a whole file; empty when it cannot be read.
std::string ReadWholeFile(const std::string& path);
std::string ReadWholeFile(const std::wstring& path);

// The control exports of a loaded fixture. The module must stay loaded while this is used.
class FixtureProbe {
public:
    explicit FixtureProbe(HMODULE module);

    // Calls of the entry point since load or Reset; -1 for a name the fixture does not know.
    int CallCount(const char* entry) const;
    unsigned LastFlag() const;
    qorvi::SusieLength LastLength() const;
    ULONG_PTR LastValue() const;
    bool LastNameWasNull() const;
    int LastCMYK() const;
    int MaxInside() const;
    // The file name the last wide-character function got (fixture_wide.spi).
    std::wstring LastWideName() const;
    // Sets one configuration key until the next Reset.
    void Configure(const char* key, const char* value) const;
    // Clears the records and rereads the fixture's .cfg file.
    void Reset() const;

private:
    FARPROC Need(const char* name) const;
    HMODULE module_;
};

// Committed private memory of this process, summed over its address space.
size_t CommittedPrivateBytes();
// Threads of this process now.
int ThreadCount();
// Handles this process holds now.
int HandleCount();

// The threads a piece of code starts: made before it runs, TakeStarted() then holds on to every
// thread of the process that was not there before (and answers how many it holds), so a test
// can wait for them to end after the code that owns them has gone.
class ThreadWatch {
public:
    ThreadWatch();
    ~ThreadWatch();
    ThreadWatch(const ThreadWatch&) = delete;
    ThreadWatch& operator=(const ThreadWatch&) = delete;

    int TakeStarted();
    // Whether every thread taken has ended, each waited for at most `timeoutMs`.
    bool AllEnded(DWORD timeoutMs) const;

private:
    std::vector<DWORD> before_;
    std::vector<HANDLE> started_;
};

// Whether this process can show windows (a display is there).
bool CanShowWindows();

// Whether 32-bit Windows programs run under qemu's user-mode emulation here: the scripts set
// QORVI_I386_EMULATED then (scripts/i386-env). Processor faults reach Windows code with other
// codes there (an access violation as an illegal instruction) and a stack overflow may end the
// process, so tests of those skip (QORVI_SKIP_WHEN_EMULATED).
bool RunsEmulated();

// A visible dialog box of this process with the given caption, or null. UI tests run side by
// side on one display, and their dialogs have the same captions.
HWND FindOwnDialog(const std::wstring& caption);

// A message box another thread showed, as DismissBox found it.
struct ShownBox {
    bool found = false;
    std::wstring text;
    RECT rect{};
    DWORD thread = 0;  // the thread that showed it
};
// Waits (for about `attempts` × 10 ms) for the box captioned `caption` to show and, when `owner`
// is given, to be placed centred over it (the activation hook moves it while it is shown); reads
// it, dismisses it with OK and waits for it to be gone.
ShownBox DismissBox(const std::wstring& caption, HWND owner = nullptr, int attempts = 500);

// selfhost.spi, loaded from `path`: a plug-in that hosts children itself, as qorvi.spi does.
class SelfHost {
public:
    explicit SelfHost(const std::string& path);
    ~SelfHost();
    SelfHost(const SelfHost&) = delete;
    SelfHost& operator=(const SelfHost&) = delete;

    // Makes the host load `folder`'s children afresh (letting go of those it had); returns how
    // many it kept, their file names joined by "," in `names`.
    int LoadFolder(const std::string& folder, std::string* names = nullptr) const;

private:
    HMODULE module_;
};

}  // namespace qorvi::test

// Skips the current test under emulation, saying what only real hardware does.
#define QORVI_SKIP_WHEN_EMULATED(what) \
    if (::qorvi::test::RunsEmulated()) \
    GTEST_SKIP() << "32-bit programs run emulated here: " << (what)
