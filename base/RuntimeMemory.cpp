#include "base/RuntimeMemory.h"

#include <windows.h>

#include <cxxabi.h>

#include <atomic>

namespace __gnu_cxx {
void __freeres() noexcept;  // libstdc++'s own release of what it keeps for the process
}

namespace {

// The indexes this library took: its runtime takes one, each ThreadValue one more.
constexpr int MostIndexes = 8;
std::atomic<DWORD> TakenIndexes[MostIndexes];
std::atomic<int> TakenCount{0};

using TlsAllocProc = DWORD(WINAPI*)();

// Bound on first use rather than imported: an import of TlsAlloc would bring kernel32's own import
// slot, which this library replaces below. No lock: two threads bind the same address.
DWORD WINAPI NotedTlsAlloc() {
    static std::atomic<TlsAllocProc> real{nullptr};
    TlsAllocProc alloc = real.load(std::memory_order_acquire);
    if (alloc == nullptr) {
        alloc = reinterpret_cast<TlsAllocProc>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "TlsAlloc")));
        if (alloc == nullptr) return TLS_OUT_OF_INDEXES;
        real.store(alloc, std::memory_order_release);
    }
    const DWORD index = alloc();
    if (index != TLS_OUT_OF_INDEXES) {
        const int slot = TakenCount.fetch_add(1);
        if (slot < MostIndexes) TakenIndexes[slot].store(index);
    }
    return index;
}

}  // namespace

// The import slot through which every call to TlsAlloc in this library goes (the runtime's thread
// library calls it as an import), defined here so that the linker takes it instead of kernel32's.
#if defined(_WIN64)
#define QORVI_TLSALLOC_IMPORT "__imp_TlsAlloc"
#else
#define QORVI_TLSALLOC_IMPORT "__imp__TlsAlloc@0"
#endif
extern "C" {
extern TlsAllocProc const ImportedTlsAlloc asm(QORVI_TLSALLOC_IMPORT);
TlsAllocProc const ImportedTlsAlloc = NotedTlsAlloc;
}

// The guards of function-local statics. The runtime's own take a lock and a condition of its thread
// library, and that library keeps a record of every thread that waits on a guard's once-only
// set-up: all three are allocated at their first use and never given back, so every load lost
// them. These take a slim lock and a condition variable of the system, which need neither. The
// guard's first byte says "done" (the compiler's inline check reads it), the second "running".
namespace {
SRWLOCK GuardLock = SRWLOCK_INIT;
CONDITION_VARIABLE GuardDone = CONDITION_VARIABLE_INIT;
}  // namespace

extern "C" {

int __cxa_guard_acquire(__cxxabiv1::__guard* guard) {
    auto* bytes = reinterpret_cast<unsigned char*>(guard);
    if (__atomic_load_n(&bytes[0], __ATOMIC_ACQUIRE) != 0) return 0;
    AcquireSRWLockExclusive(&GuardLock);
    // Another thread is running the initialisation: wait for it to finish or to give up.
    while (bytes[0] == 0 && bytes[1] != 0)
        SleepConditionVariableSRW(&GuardDone, &GuardLock, INFINITE, 0);
    const bool ours = bytes[0] == 0;
    if (ours) bytes[1] = 1;
    ReleaseSRWLockExclusive(&GuardLock);
    return ours ? 1 : 0;
}

void __cxa_guard_release(__cxxabiv1::__guard* guard) noexcept {
    auto* bytes = reinterpret_cast<unsigned char*>(guard);
    AcquireSRWLockExclusive(&GuardLock);
    bytes[1] = 0;
    __atomic_store_n(&bytes[0], 1, __ATOMIC_RELEASE);
    ReleaseSRWLockExclusive(&GuardLock);
    WakeAllConditionVariable(&GuardDone);
}

void __cxa_guard_abort(__cxxabiv1::__guard* guard) noexcept {
    auto* bytes = reinterpret_cast<unsigned char*>(guard);
    AcquireSRWLockExclusive(&GuardLock);
    bytes[1] = 0;
    ReleaseSRWLockExclusive(&GuardLock);
    WakeAllConditionVariable(&GuardDone);
}

}  // extern "C"

namespace qorvi {

void ReleaseRuntimeMemory() noexcept {
    __gnu_cxx::__freeres();
    const int count = TakenCount.load();
    for (int i = 0; i < count && i < MostIndexes; ++i) TlsFree(TakenIndexes[i].load());
}

}  // namespace qorvi
