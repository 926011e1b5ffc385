#include "tests/unit/TestSupport.h"

#include <tlhelp32.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace qorvi {
namespace {

int ThreadsOfThisProcess() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return -1;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++count;
    CloseHandle(snapshot);
    return count;
}

// The fixture's export as the compiler names it: x86 decorates stdcall names, x64 does not.
#ifdef _WIN64
constexpr const char* StdcallName = "ResizeWithThreads";
#else
constexpr const char* StdcallName = "ResizeWithThreads@4";
#endif

// Unloading ends the group from under the loader lock: the workers must let the unload finish,
// then end without running any more of the unloaded library (which would crash this process).
TEST(ThreadGroupUnload, EndsTheWorkersWithoutDeadlockOrCodeLeftRunning) {
    const int before = ThreadsOfThisProcess();
    ASSERT_GT(before, 0);
    for (int round = 0; round < 3; ++round) {
        HMODULE library = LoadLibraryA(test::FixturePath("resizer_user.dll").c_str());
        ASSERT_NE(library, nullptr);
        using Resize = int(__stdcall*)(int);
        auto resize =
            reinterpret_cast<Resize>(reinterpret_cast<void*>(GetProcAddress(library, StdcallName)));
        ASSERT_NE(resize, nullptr);
        EXPECT_EQ(resize(4), 4);
        EXPECT_EQ(resize(4), 4);  // the group is made once
        EXPECT_EQ(ThreadsOfThisProcess(), before + 4);
        ASSERT_TRUE(FreeLibrary(library));
        // The workers end once the loader lock is free again; wait for that, with a deadline.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (ThreadsOfThisProcess() != before && std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
        EXPECT_EQ(ThreadsOfThisProcess(), before) << round;
    }
}

}  // namespace
}  // namespace qorvi
