// The guard's frame and handler. Built with a frame pointer (see hostplugins/CMakeLists.txt):
// __builtin_setjmp/__builtin_longjmp resume RunGuarded through its saved ebp and esp.
#include "base/GuardedCall.h"

#include "base/ProcessorFeatures.h"
#include "base/ThreadValue.h"

#include <float.h>

#include <csignal>

#include <cstddef>
#include <cstdint>

namespace qorvi {
namespace {

#ifndef _WIN64
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

#else
// x64 finds handlers through the unwind tables, not through a chain: the frame that catches is
// QorviGuardedInvoke below, written in assembly so that its unwind information and its handler are
// exactly what we say. Its frame keeps the GuardState pointer 32 bytes above the establisher frame
// (its stack pointer after the prologue), over the callee's home area.
struct GuardState {
    DWORD code;
    void* gccException;  // a GCC exception object the guard took, to be released after
};

// GCC's exception object on x64 (unwind-generic.h, SEH targets): private_[1] and [2] are the frame
// and address _Unwind_Resume goes on to once a cleanup in a frame between has run.
struct GccUnwindException {
    uint64_t exceptionClass;
    void (*cleanup)(int reason, GccUnwindException* exception);
    uintptr_t privateWords[6];
};
constexpr DWORD GccThrowCode = 0x20474343;    // GCC's RaiseException code for a C++ throw
constexpr int GccForeignExceptionCaught = 1;  // _URC_FOREIGN_EXCEPTION_CAUGHT

extern "C" int QorviGuardedInvoke(GuardedBody body, void* context, GuardState* state);
extern "C" char QorviGuardResume[];
asm(R"(
    .text
    .globl QorviGuardedInvoke
    .globl QorviGuardResume
    .def QorviGuardedInvoke; .scl 2; .type 32; .endef
    .seh_proc QorviGuardedInvoke
    .seh_handler QorviGuardHandler, @except
QorviGuardedInvoke:
    pushq %rbp
    .seh_pushreg %rbp
    subq $48, %rsp
    .seh_stackalloc 48
    .seh_endprologue
    movq %r8, 32(%rsp)
    movq %rcx, %rax
    movq %rdx, %rcx
    call *%rax
    xorl %eax, %eax
QorviGuardResume:
    addq $48, %rsp
    popq %rbp
    ret
    .seh_endproc
)");

// The first pass found no handler in the child's frames: take the fault. RtlUnwindEx calls the
// unwind handlers of every frame above ours (the child's destructors and finally blocks), then
// resumes QorviGuardedInvoke at QorviGuardResume with its stack and registers as they were at the
// call, and 1 in eax.
extern "C" EXCEPTION_DISPOSITION QorviGuardHandler(EXCEPTION_RECORD* record, void* establisherFrame,
                                                   CONTEXT* context,
                                                   DISPATCHER_CONTEXT* dispatcher) {
    if (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND))
        return ExceptionContinueSearch;
    GuardState* state = *reinterpret_cast<GuardState**>(static_cast<char*>(establisherFrame) + 32);
    state->code = record->ExceptionCode;
    if (record->ExceptionCode == GccThrowCode && record->NumberParameters >= 1) {
        // A GCC-built module's C++ exception that nothing above caught: a cleanup between it and
        // us ends in _Unwind_Resume, which goes on to where the exception says; make that here.
        auto* exception = reinterpret_cast<GccUnwindException*>(record->ExceptionInformation[0]);
        exception->privateWords[1] = reinterpret_cast<uintptr_t>(establisherFrame);
        exception->privateWords[2] = reinterpret_cast<uintptr_t>(QorviGuardResume);
        state->gccException = exception;
    }
    RtlUnwindEx(establisherFrame, QorviGuardResume, record, reinterpret_cast<void*>(1), context,
                dispatcher->HistoryTable);
    return ExceptionContinueSearch;  // not reached
}
#endif

#ifdef _WIN64
// x64 dispatches a stack overflow on the overflowing stack itself, and the unwind back to the
// guard's frame needs a few KB more there (contexts of the dispatcher and of RtlUnwindEx, the
// child's cleanups): without room the process ends. The thread's stack guarantee is that room:
// the overflow is raised while this much is still free below. Raised, never lowered, for the
// calling thread.
constexpr ULONG StackGuarantee = 64 * 1024;

ULONG CurrentStackGuarantee() noexcept {
    ULONG size = 0;  // 0 asks and changes nothing
    return SetThreadStackGuarantee(&size) ? size : 0;
}
#endif

// A stack overflow uses up the guard page at the bottom of the thread's committed stack; without
// it the next overflow would find no guard and end the process. Puts the guard back, as the C
// runtime's _resetstkoflw does. The stack's reservation starts with pages no one may touch
// (reserved on Windows, no-access under Wine); the guard belongs on the first committed,
// accessible page above them, or (x64) above the thread's stack guarantee, which must stay free
// for the next overflow's dispatch.
void RearmStackGuard() noexcept {
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    const uintptr_t page = system.dwPageSize;
    volatile char probe = 0;
    const uintptr_t stackPointer = reinterpret_cast<uintptr_t>(&probe);
#ifdef _WIN64
    const uintptr_t reserve = (CurrentStackGuarantee() + page - 1) / page * page;
#else
    const uintptr_t reserve = 0;
#endif

    MEMORY_BASIC_INFORMATION region;
    if (VirtualQuery(const_cast<char*>(&probe), &region, sizeof region) == 0) return;
    uintptr_t at = reinterpret_cast<uintptr_t>(region.AllocationBase);
    while (at < stackPointer) {
        if (VirtualQuery(reinterpret_cast<void*>(at), &region, sizeof region) == 0) return;
        const bool accessible = region.State == MEM_COMMIT && (region.Protect & PAGE_NOACCESS) == 0;
        if (accessible) {
            const uintptr_t guard = at + reserve;
            // Never guard the pages we stand on: keep the guard well below the stack pointer.
            if (guard + 2 * page > stackPointer) return;
            if (VirtualQuery(reinterpret_cast<void*>(guard), &region, sizeof region) == 0) return;
            // Not committed yet: the stack's own guard lies above and comes down by itself.
            if (region.State != MEM_COMMIT || (region.Protect & PAGE_GUARD)) return;
            DWORD previous = 0;
            VirtualProtect(reinterpret_cast<void*>(guard), page, PAGE_READWRITE | PAGE_GUARD,
                           &previous);
            return;
        }
        at = reinterpret_cast<uintptr_t>(region.BaseAddress) + region.RegionSize;
    }
}

#ifdef _WIN64
// Raises the calling thread's guarantee and, on a stack committed that far already (a main
// thread's often is), puts a guard above it, so that the first overflow comes with the room too.
void EnsureStackGuarantee() noexcept {
    if (CurrentStackGuarantee() >= StackGuarantee) return;
    ULONG size = StackGuarantee;
    if (SetThreadStackGuarantee(&size)) RearmStackGuard();
}
#endif

// The C++ part of the guard on x86, apart from the function that holds the setjmp buffer. (On
// x64 a C++ exception is a structured exception like any other, taken by the guard's handler.)
#ifndef _WIN64
__attribute__((noinline)) DWORD CallBody(GuardedBody body, void* context) noexcept {
    try {
        body(context);
    } catch (...) {
        return GuardCxxExceptionCode;
    }
    return 0;
}
#endif

// How deep this thread is inside guarded calls.
ThreadValue<int> tGuardDepth;

using SignalHandler = void(__cdecl*)(int);
SignalHandler gAbortHandlerBefore = SIG_DFL;

// A C++ exception that a MinGW-built child does not catch ends, inside the child's own runtime,
// in std::terminate and abort(). That runtime's abort raises SIGABRT through the C runtime all
// MinGW modules share (msvcrt), so the signal reaches us before the process ends: inside a
// guarded call it becomes a structured exception on the child's stack, which the guard contains
// like any other fault. Outside a guarded call abort behaves as it did before we came.
void __cdecl AbortInsideGuard(int signal) {
    std::signal(SIGABRT, AbortInsideGuard);  // the runtime resets the action before calling us
    if (tGuardDepth.get() > 0) RaiseException(GuardAbortCode, EXCEPTION_NONCONTINUABLE, 0, nullptr);

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
#ifdef _WIN64
    // The 64-bit runtime's _clearfp looks at SSE only; the x87 unit is still there and a child
    // may have used it.
    asm volatile("fnclex");
#endif
    if (GetCpuFeatures() & CpuSSE) {
        unsigned csr;
        asm volatile("stmxcsr %0" : "=m"(csr));
        csr &= ~0x3Fu;  // the six sticky exception flags
        asm volatile("ldmxcsr %0" : : "m"(csr));
    }
}

#ifndef _WIN64
__attribute__((noinline)) GuardResult RunGuarded(GuardedBody body, void* context) noexcept {
    GuardFrame frame;
    // Accessed through a volatile pointer: after the long jump the compiler must not trust any
    // value it held in a register across the body.
    GuardFrame* volatile self = &frame;
    self->code = 0;
    self->record.Next = ChainHead();
    self->record.Handler = reinterpret_cast<PEXCEPTION_ROUTINE>(&GuardHandler);
    InstallAbortBridge();
    const int depth = tGuardDepth.get();

    if (__builtin_setjmp(self->jump) == 0) {
        SetChainHead(&self->record);
        tGuardDepth.set(depth + 1);
        DWORD cxxCode = CallBody(body, context);
        tGuardDepth.set(depth);
        SetChainHead(self->record.Next);
        if (cxxCode != 0) return GuardResult{false, cxxCode};
        return GuardResult{true, 0};
    }

    // Resumed by the handler: RtlUnwind left our record at the head of the chain.
    tGuardDepth.set(depth);
    SetChainHead(self->record.Next);
    ClearFloatingPointStatus();
    if (self->code == EXCEPTION_STACK_OVERFLOW) RearmStackGuard();
    return GuardResult{false, self->code};
}

#else
GuardResult RunGuarded(GuardedBody body, void* context) noexcept {
    InstallAbortBridge();
    EnsureStackGuarantee();
    GuardState state{0, nullptr};
    const int depth = tGuardDepth.get();
    tGuardDepth.set(depth + 1);
    const int faulted = QorviGuardedInvoke(body, context, &state);
    tGuardDepth.set(depth);
    if (!faulted) return GuardResult{true, 0};

    ClearFloatingPointStatus();
    if (state.code == EXCEPTION_STACK_OVERFLOW) RearmStackGuard();
    auto* exception = static_cast<GccUnwindException*>(state.gccException);
    if (exception && exception->cleanup) exception->cleanup(GccForeignExceptionCaught, exception);
    return GuardResult{false, state.code};
}
#endif

}  // namespace qorvi
