#include "base/RuntimeMemory.h"

#include <windows.h>

#include <atomic>

namespace __gnu_cxx {
void __freeres() noexcept;  // libstdc++'s own release of what it keeps for the process
}

namespace {

// The indexes this library took. Its runtime takes one; the room is for a future runtime that
// takes a few more.
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

namespace qorvi {

void ReleaseRuntimeMemory() noexcept {
    __gnu_cxx::__freeres();
    const int count = TakenCount.load();
    for (int i = 0; i < count && i < MostIndexes; ++i) TlsFree(TakenIndexes[i].load());
}

}  // namespace qorvi
