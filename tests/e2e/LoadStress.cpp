// A host that loads and unloads a plug-in over and over while another of its threads keeps the
// window system busy, as a viewer's window thread does: it enumerates the windows, creates and
// destroys one, pumps its messages and answers any warning box with OK. Each round prints
// "loading N", loads the plug-in, asks it for its first format pattern (which needs its
// children; not with "load-only"), unloads it and prints "loaded N" and the pattern; at the end
// "done" and how many warning boxes it answered. The test that runs it ends it from outside
// when a round never ends.
//
//   qorvi_load_stress PLUGIN ROUNDS [load-only]
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

std::atomic<bool> Stop{false};
// The warning boxes answered, each counted once however often it is seen before it goes.
int Answered = 0;
HWND LastAnswered = nullptr;

BOOL CALLBACK AnswerWarning(HWND window, LPARAM) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != GetCurrentProcessId()) return TRUE;
    wchar_t className[16] = {}, caption[16] = {};
    GetClassNameW(window, className, 16);
    if (lstrcmpW(className, L"#32770") != 0) return TRUE;
    // Asks the box's thread for the caption: bounded, so that a thread that stopped taking
    // messages does not stop this one.
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, 16, reinterpret_cast<LPARAM>(caption), SMTO_BLOCK, 100,
                        &copied);
    if (lstrcmpW(caption, L"警告") != 0) return TRUE;
    PostMessageW(window, WM_COMMAND, IDOK, 0);
    if (window != LastAnswered) ++Answered;
    LastAnswered = window;
    return TRUE;
}

void KeepWindowSystemBusy() {
    while (!Stop.load()) {
        EnumWindows(AnswerWarning, 0);
        HWND window = CreateWindowExW(0, L"STATIC", L"busy", WS_OVERLAPPED, 0, 0, 10, 10, nullptr,
                                      nullptr, nullptr, nullptr);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
        if (window != nullptr) DestroyWindow(window);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: qorvi_load_stress PLUGIN ROUNDS [load-only]\n");
        return 2;
    }
    const int rounds = std::atoi(argv[2]);
    const bool call = argc == 3;
    std::printf("started\n");
    std::fflush(stdout);
    std::thread busy(KeepWindowSystemBusy);
    int result = 0;
    for (int round = 1; round <= rounds; ++round) {
        std::printf("loading %d\n", round);
        std::fflush(stdout);
        HMODULE plugin = LoadLibraryA(argv[1]);
        if (plugin == nullptr) {
            std::printf("load %d failed: %lu\n", round, GetLastError());
            result = 1;
            break;
        }
        using GetPluginInfoEntry = int(__stdcall*)(int, LPSTR, int);
        const auto info = reinterpret_cast<GetPluginInfoEntry>(
            reinterpret_cast<void*>(GetProcAddress(plugin, "GetPluginInfo")));
        char pattern[64] = {};
        if (call && info != nullptr) info(2, pattern, sizeof pattern);
        FreeLibrary(plugin);
        std::printf("loaded %d %s\n", round, pattern);
        std::fflush(stdout);
    }
    Stop = true;
    busy.join();
    if (result == 0) std::printf("done, %d boxes answered\n", Answered);
    return result;
}
