// The guarded call: runs a body that calls into a child plug-in and contains any fault the child
// raises, so that no fault of a child ever leaves qorvi.spi towards the host.
//
// On x86, RunGuarded registers a frame of its own on the thread's structured-exception chain
// (fs:[0]), calls the body and removes the frame again. When anything raised above it reaches the
// frame (an access violation, an integer division by zero, RaiseException with any code, MSVC's C++
// throw 0xE06D7363, Delphi's 0x0EEDFADE), its handler records the code, lets every frame above
// it (the child's own) run its unwind handlers through RtlUnwind, so that the child's destructors
// and finally blocks run, and resumes in RunGuarded, which restores the chain, clears the
// floating-point exception status the child may have left set and reports
// {completed = false, exceptionCode}. A body that returns gives {true, 0}. A C++ exception that
// reaches our own frames as a C++ exception (thrown by our code inside the body) is caught too
// and reported as GuardCxxExceptionCode.
//
// On x64, where handlers are found through each function's unwind information, the body is called
// from a small function written in assembly whose unwind information names the guard's handler.
// A fault that no frame of the child takes reaches that handler in the first pass; it records the
// code and calls RtlUnwindEx to its own frame, which runs the unwind handlers of every frame above
// (the child's destructors, finally blocks and GCC cleanups) and resumes the function with its
// registers as they were at the call. A C++ exception is a structured exception there (GCC's
// 0x20474343, MSVC's 0xE06D7363) and is taken the same way, whichever module threw it; a GCC one
// is released after the unwind, and is reported as GuardCxxExceptionCode, as on x86.
//
// Rules for a guarded region (the body):
//  - No `return`, `goto`, `break` or longjmp out of it: the frame must be removed by RunGuarded.
//  - No object with a destructor may be alive across a call that can fault: after a fault control
//    jumps straight back into RunGuarded and such destructors never run. Write the body so that
//    it only calls the child and stores plain results (ints, pointers) in the caller's variables.
//  - Side effects made before the fault stay made: results written before the fault are kept.
//  - Locks are taken outside, by RAII (CriticalSectionGuard), so they are left on every path.
//  - x86: RunGuarded is never inlined and is built with a frame pointer: the long jump back into
//    it restores the ebp and esp that __builtin_setjmp saved, and its locals are found through ebp.
//  - Guards nest: a fault is taken by the innermost guard; the outer one goes on undisturbed.
//  - A stack overflow inside the child is contained like any fault, and the guard page it used
//    up is put back, so a later overflow is contained too. On x64 the overflow is dispatched and
//    unwound on the overflowing stack itself: the guard raises the calling thread's stack
//    guarantee to 64 KB (never lowers it) so that the overflow comes with that much room, and
//    puts the guard page back above it. Out of scope: a fault raised by the child's own unwind
//    handlers while they unwind.
//  - x86: a C++ `throw` that a MinGW-built child (GCC, DWARF-2 unwinding) does not catch never
//    reaches us as an exception: the child's unwinder knows only its own module's frames and
//    ends in std::terminate and abort() inside the child. abort() raises SIGABRT through the
//    C runtime MinGW modules share (msvcrt.dll), and the guard's SIGABRT handler (installed once,
//    process-wide, at the first guarded call) turns it into a structured exception on the
//    child's stack when the thread is inside a guarded call, reported as GuardAbortCode.
//    Elsewhere abort behaves as before: the handler found at installation is called, or the
//    default action ends the process. A child whose runtime is another C library (UCRT, a
//    static one) and that ends itself with abort() cannot be contained.
#pragma once

#include <windows.h>

namespace qorvi {

struct GuardResult {
    bool completed;       // the body returned normally
    DWORD exceptionCode;  // the code of the contained fault; 0 when completed
};

// Reported for a C++ exception caught in our own frames (the code GCC's SEH unwinder uses).
constexpr DWORD GuardCxxExceptionCode = 0x20474343;
// Reported when the body called abort() through the shared C runtime (an uncaught C++
// exception in a MinGW-built child ends that way).
constexpr DWORD GuardAbortCode = 0xE0414254;

using GuardedBody = void (*)(void* context);

// Calls body(context) under the guard. Never lets a fault or exception escape.
GuardResult RunGuarded(GuardedBody body, void* context) noexcept;

// Convenience: calls `callable()` under the guard. The callable is taken by reference and must
// follow the rules above (it typically is a lambda capturing the results by reference).
template <class Callable>
GuardResult RunGuarded(Callable& callable) noexcept {
    return RunGuarded([](void* context) { (*static_cast<Callable*>(context))(); },
                      static_cast<void*>(&callable));
}

// Clears the x87 and SSE exception flags: a fault or a foreign module may leave them set, and a
// later unmasked check in our own code would then fault on its account.
void ClearFloatingPointStatus() noexcept;

}  // namespace qorvi
