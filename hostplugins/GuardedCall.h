// The guarded call: runs a body that calls into a child plug-in and contains any fault the child
// raises, so that no fault of a child ever leaves qorvi.spi towards the host.
//
// RunGuarded registers a frame of its own on the thread's structured-exception chain (fs:[0]),
// calls the body and removes the frame again. When anything raised above it reaches the frame
// (an access violation, an integer division by zero, RaiseException with any code, MSVC's C++
// throw 0xE06D7363, Delphi's 0x0EEDFADE), its handler records the code, lets every frame above
// it (the child's own) run its unwind handlers through RtlUnwind, so that the child's destructors
// and finally blocks run, and resumes in RunGuarded, which restores the chain, clears the
// floating-point exception status the child may have left set and reports
// {completed = false, exceptionCode}. A body that returns gives {true, 0}. A C++ exception that
// reaches our own frames as a C++ exception (thrown by our code inside the body) is caught too
// and reported as GuardCxxExceptionCode.
//
// Rules for a guarded region (the body):
//  - No `return`, `goto`, `break` or longjmp out of it: the frame must be removed by RunGuarded.
//  - No object with a destructor may be alive across a call that can fault: after a fault control
//    jumps straight back into RunGuarded and such destructors never run. Write the body so that
//    it only calls the child and stores plain results (ints, pointers) in the caller's variables.
//  - Side effects made before the fault stay made: results written before the fault are kept.
//  - Locks are taken outside, by RAII (CriticalSectionGuard), so they are left on every path.
//  - RunGuarded is never inlined and is built with a frame pointer: the long jump back into it
//    restores the ebp and esp that __builtin_setjmp saved, and its locals are found through ebp.
//  - Guards nest: a fault is taken by the innermost guard; the outer one goes on undisturbed.
//  - A stack overflow inside the child is contained like any fault, and the guard page it used
//    up is put back, so a later overflow is contained too. Out of scope: a fault raised by the
//    child's own unwind handlers while they unwind.
//  - A real GCC C++ `throw` out of a child built by MinGW with a static runtime (DWARF-2
//    unwinding) cannot be contained. Such a child's unwinder knows only the frames registered
//    in its own module; when it finds no handler there it calls std::terminate inside the child,
//    which ends the process (exit code 3) without ever raising a structured exception that
//    could reach this frame. SusiePluginTest records what we observed, as a death test.
#pragma once

#include <windows.h>

namespace qorvi {

struct GuardResult {
    bool completed;       // the body returned normally
    DWORD exceptionCode;  // the code of the contained fault; 0 when completed
};

// Reported for a C++ exception caught in our own frames (the code GCC's SEH unwinder uses).
constexpr DWORD GuardCxxExceptionCode = 0x20474343;

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

}  // namespace qorvi
