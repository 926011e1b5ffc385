// The guard's frame and handler. Built with a frame pointer (see hostplugins/CMakeLists.txt):
// __builtin_setjmp/__builtin_longjmp resume RunGuarded through its saved ebp and esp.
#include "base/GuardedCall.h"

#include "base/ProcessorFeatures.h"

#include <float.h>

#include <csignal>

#include <cstddef>
#include <cstdint>

namespace qorvi {
namespace {

// Laid out so that the address on the chain is the address of the whole frame: the handler
// receives it back as its establisher frame and finds the jump buffer and the code beside it.
struct GuardFrame {
    EXCEPTION_REGISTRATION_RECORD record;  // must stay first
    void* jump[5];                         // __builtin_setjmp's buffer
    DWORD code;
};
static_assert(offsetof(GuardFrame, record) == 0, "the chain points at the frame itself");

EXCEPTION_REGISTRATION_RECORD* ChainHead() noexcept {
    EXCEPTION_REGISTRATION_RECORD* head;
    asm volatile("movl %%fs:0, %0" : "=r"(head));
    return head;
}

void SetChainHead(EXCEPTION_REGISTRATION_RECORD* head) noexcept {
    asm volatile("movl %0, %%fs:0" : : "r"(head) : "memory");
}

extern "C" EXCEPTION_DISPOSITION __cdecl GuardHandler(EXCEPTION_RECORD* record,
                                                      void* establisherFrame, CONTEXT*, void*) {
    // During an unwind we are only being told that frames above us go away; the fault that
    // started it is someone else's to take (a nested guard, or our own RtlUnwind below).
    if (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND))
        return ExceptionContinueSearch;

    // RtlUnwind on i386 does not preserve ebx, esi and edi: keep the frame where the compiler
    // must read it back from memory (our own stack slot, addressed through ebp).
    GuardFrame* volatile frame = static_cast<GuardFrame*>(establisherFrame);
    frame->code = record->ExceptionCode;
    // Let the child's own frames above ours run their unwind handlers (MSVC destructors, Delphi
    // finally blocks) and take them off the chain; our record is left at its head.
    RtlUnwind(establisherFrame, nullptr, record, nullptr);
    __builtin_longjmp(frame->jump, 1);
}

// The C++ part of the guard, apart from the function that holds the setjmp buffer.
__attribute__((noinline)) DWORD CallBody(GuardedBody body, void* context) noexcept {
    try {
        body(context);
    } catch (...) {
        return GuardCxxExceptionCode;
    }
    return 0;
}

// A stack overflow uses up the guard page at the bottom of the thread's committed stack; without
// it the next overflow would find no guard and end the process. Puts the guard back on the
// lowest accessible page, as the C runtime's _resetstkoflw does. The stack's reservation starts
// with pages no one may touch (reserved on Windows, no-access under Wine); the first committed,
// accessible page above them is where the guard belongs.
void RearmStackGuard() noexcept {
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    const uintptr_t page = system.dwPageSize;
    volatile char probe = 0;
    const uintptr_t stackPointer = reinterpret_cast<uintptr_t>(&probe);

    MEMORY_BASIC_INFORMATION region;
    if (VirtualQuery(const_cast<char*>(&probe), &region, sizeof region) == 0) return;
    uintptr_t at = reinterpret_cast<uintptr_t>(region.AllocationBase);
    while (at < stackPointer) {
        if (VirtualQuery(reinterpret_cast<void*>(at), &region, sizeof region) == 0) return;
        const bool accessible = region.State == MEM_COMMIT && (region.Protect & PAGE_NOACCESS) == 0;
        if (accessible) {
            if (region.Protect & PAGE_GUARD) return;  // still armed
            // Never guard the pages we stand on: keep the guard well below the stack pointer.
            if (at + 2 * page > stackPointer) return;
            DWORD previous = 0;
            VirtualProtect(reinterpret_cast<void*>(at), page, PAGE_READWRITE | PAGE_GUARD,
                           &previous);
            return;
        }
        at = reinterpret_cast<uintptr_t>(region.BaseAddress) + region.RegionSize;
    }
}

// How deep this thread is inside guarded calls.
thread_local int tGuardDepth = 0;

using SignalHandler = void(__cdecl*)(int);
SignalHandler gAbortHandlerBefore = SIG_DFL;

// A C++ exception that a MinGW-built child does not catch ends, inside the child's own runtime,
// in std::terminate and abort(). That runtime's abort raises SIGABRT through the C runtime all
// MinGW modules share (msvcrt), so the signal reaches us before the process ends: inside a
// guarded call it becomes a structured exception on the child's stack, which the guard contains
// like any other fault. Outside a guarded call abort behaves as it did before we came.
void __cdecl AbortInsideGuard(int signal) {
    std::signal(SIGABRT, AbortInsideGuard);  // the runtime resets the action before calling us
    if (tGuardDepth > 0) RaiseException(GuardAbortCode, EXCEPTION_NONCONTINUABLE, 0, nullptr);

    const SignalHandler before = gAbortHandlerBefore;
    if (before == SIG_IGN) return;
    if (before != SIG_DFL && before != SIG_ERR && before != nullptr) {
        before(signal);
        return;
    }
    std::signal(SIGABRT, SIG_DFL);
    std::raise(SIGABRT);
}

// Installed once, at the first guarded call; taken out again when this module is unloaded (the
// static's destructor runs then), for a handler left in the shared runtime would point into
// freed code. Only our own handler is taken out: one installed after us stays.
class AbortBridge {
public:
    AbortBridge() noexcept {
        const SignalHandler before = std::signal(SIGABRT, AbortInsideGuard);
        if (before != SIG_ERR && before != AbortInsideGuard) gAbortHandlerBefore = before;
    }
    ~AbortBridge() {
        const SignalHandler current = std::signal(SIGABRT, gAbortHandlerBefore);
        if (current != AbortInsideGuard && current != SIG_ERR) std::signal(SIGABRT, current);
    }
    AbortBridge(const AbortBridge&) = delete;
    AbortBridge& operator=(const AbortBridge&) = delete;
};

void InstallAbortBridge() noexcept { static AbortBridge bridge; }

}  // namespace

void ClearFloatingPointStatus() noexcept {
    // A child may leave x87 or SSE exception flags set; a later unmasked check in our own code
    // would then fault on the child's account.
    _clearfp();
    if (GetCpuFeatures() & CpuSSE) {
        unsigned csr;
        asm volatile("stmxcsr %0" : "=m"(csr));
        csr &= ~0x3Fu;  // the six sticky exception flags
        asm volatile("ldmxcsr %0" : : "m"(csr));
    }
}

__attribute__((noinline)) GuardResult RunGuarded(GuardedBody body, void* context) noexcept {
    GuardFrame frame;
    // Accessed through a volatile pointer: after the long jump the compiler must not trust any
    // value it held in a register across the body.
    GuardFrame* volatile self = &frame;
    self->code = 0;
    self->record.Next = ChainHead();
    self->record.Handler = reinterpret_cast<PEXCEPTION_ROUTINE>(&GuardHandler);
    InstallAbortBridge();
    const int depth = tGuardDepth;

    if (__builtin_setjmp(self->jump) == 0) {
        SetChainHead(&self->record);
        tGuardDepth = depth + 1;
        DWORD cxxCode = CallBody(body, context);
        tGuardDepth = depth;
        SetChainHead(self->record.Next);
        if (cxxCode != 0) return GuardResult{false, cxxCode};
        return GuardResult{true, 0};
    }

    // Resumed by the handler: RtlUnwind left our record at the head of the chain.
    tGuardDepth = depth;
    SetChainHead(self->record.Next);
    ClearFloatingPointStatus();
    if (self->code == EXCEPTION_STACK_OVERFLOW) RearmStackGuard();
    return GuardResult{false, self->code};
}

}  // namespace qorvi
