#include "base/GuardedCall.h"
#include "tests/unit/TestSupport.h"

#include <gtest/gtest.h>

#include <float.h>

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <stdexcept>
#include <thread>
#include <vector>

namespace qorvi {
namespace {

// The head of this thread's exception chain, the first field of its thread information block.
// x64 has no chain (handlers are found through the unwind tables): there it is always null.
EXCEPTION_REGISTRATION_RECORD* ChainHead() {
#ifdef _WIN64
    return nullptr;
#else
    EXCEPTION_REGISTRATION_RECORD* head;
    static_assert(offsetof(NT_TIB, ExceptionList) == 0);
    asm volatile("movl %%fs:0, %0" : "=r"(head));
    return head;
#endif
}

// Faults as children raise them. Each is reached through volatile data so the compiler keeps
// the faulting instruction as written.
// Not a write through null: Wine run as root may have the lowest page mapped, so that write
// does not always fault. A reserved page with no access always does.
int* NoAccessPage() {
    static int* page =
        static_cast<int*>(VirtualAlloc(nullptr, 4096, MEM_RESERVE | MEM_COMMIT, PAGE_NOACCESS));
    return page;
}

__attribute__((noinline)) void WriteToNoAccessPage() {
    int* volatile pointer = NoAccessPage();
    *pointer = 1;
}

__attribute__((noinline)) void DivideByZero() {
    volatile int numerator = 1;
    volatile int zero = 0;
    volatile int quotient = numerator / zero;
    (void)quotient;
}

__attribute__((noinline)) void RaiseCustom() { RaiseException(0xE0000001, 0, 0, nullptr); }

__attribute__((noinline)) void RaiseMsvcThrow() {
    // What MSVC's _CxxThrowException raises: magic number, thrown object, throw information.
    static int thrownObject = 42;
    static int throwInfo[4] = {};
    ULONG_PTR arguments[3] = {0x19930520, reinterpret_cast<ULONG_PTR>(&thrownObject),
                              reinterpret_cast<ULONG_PTR>(throwInfo)};
    RaiseException(0xE06D7363, EXCEPTION_NONCONTINUABLE, 3, arguments);
}

__attribute__((noinline)) void RaiseDelphi() {
    // Delphi raises its exceptions with 7 parameters, the object among them.
    ULONG_PTR arguments[7] = {};
    RaiseException(0x0EEDFADE, EXCEPTION_NONCONTINUABLE, 7, arguments);
}

struct FaultCase {
    const char* name;
    void (*fault)();
    DWORD code;
};

const FaultCase kFaults[] = {
    {"access", WriteToNoAccessPage, EXCEPTION_ACCESS_VIOLATION},
    {"divide", DivideByZero, EXCEPTION_INT_DIVIDE_BY_ZERO},
    {"raise", RaiseCustom, 0xE0000001},
    {"msvc", RaiseMsvcThrow, 0xE06D7363},
    {"delphi", RaiseDelphi, 0x0EEDFADE},
};

TEST(GuardedCall, ContainsEachKindOfFaultAndRestoresTheChain) {
    QORVI_SKIP_WHEN_EMULATED("processor faults arrive with other codes");
    for (const FaultCase& c : kFaults) {
        SCOPED_TRACE(c.name);
        EXCEPTION_REGISTRATION_RECORD* before = ChainHead();
        int reached = 0;
        auto body = [&] {
            reached = 1;
            c.fault();
            reached = 2;
        };
        GuardResult result = RunGuarded(body);
        EXPECT_FALSE(result.completed);
        EXPECT_EQ(result.exceptionCode, c.code);
        EXPECT_EQ(reached, 1) << "side effects before the fault are kept, nothing after it runs";
        EXPECT_EQ(ChainHead(), before);
    }
}

// Never cleared: it only hides from the compiler that the recursion has no end.
volatile bool KeepRecursing = true;

__attribute__((noinline)) int RecurseWithoutEnd(int depth) {
    volatile char frame[512];
    frame[0] = static_cast<char>(depth);
    if (!KeepRecursing) return 0;
    return RecurseWithoutEnd(depth + 1) + frame[0];
}

// An overflow uses up the stack's guard page; unless the guard puts it back, the second
// overflow on the same thread ends the process instead of reaching the guard.
TEST(GuardedCall, RepeatedStackOverflowsAreContained) {
    QORVI_SKIP_WHEN_EMULATED("a stack overflow may end the process");
    auto overflowThreeTimes = [] {
        for (int round = 0; round < 3; ++round) {
            SCOPED_TRACE(round);
            EXCEPTION_REGISTRATION_RECORD* before = ChainHead();
            auto body = [] { RecurseWithoutEnd(0); };
            GuardResult result = RunGuarded(body);
            EXPECT_FALSE(result.completed);
            EXPECT_EQ(result.exceptionCode, static_cast<DWORD>(EXCEPTION_STACK_OVERFLOW));
            EXPECT_EQ(ChainHead(), before);
        }
        int value = 0;
        auto ordinary = [&] { value = 7; };
        EXPECT_TRUE(RunGuarded(ordinary).completed);
        EXPECT_EQ(value, 7);
    };
    overflowThreeTimes();                    // the main thread's stack
    std::thread(overflowThreeTimes).join();  // and a thread's of its own
}

// abort() inside a guarded call (how an uncaught C++ exception ends in a MinGW-built child) is
// contained; outside one it still ends the process as the C runtime's abort does.
TEST(GuardedCall, AbortIsContainedOnlyInsideTheGuard) {
    for (int round = 0; round < 2; ++round) {
        auto body = [] { std::abort(); };
        GuardResult result = RunGuarded(body);
        EXPECT_FALSE(result.completed);
        EXPECT_EQ(result.exceptionCode, GuardAbortCode);
    }
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            auto body = [] {};
            (void)RunGuarded(body);
            std::abort();
        },
        ::testing::ExitedWithCode(3), "");
}

// Every module that holds the guard installs its abort handler once; when such a module is
// unloaded (a host unloading qorvi.spi) its handler must leave the shared runtime with it, or the
// next abort() anywhere jumps into freed code.
TEST(GuardedCall, UnloadedModuleTakesItsAbortHandlerAlong) {
    {
        auto first = [] {};
        (void)RunGuarded(first);  // ours is installed first
        test::TempPluginFolder folder;
        folder.AddChild("selfhost.spi", "host.spi");
        folder.AddChild("fixture.spi", "child.spi", "children");
        test::SelfHost host(folder.Path() + test::ForBuild("\\host.spi"));
        // Its guard runs (loading the child), so its handler goes in; then its list lets go of
        // the child, and the host is unloaded.
        ASSERT_EQ(host.LoadFolder(folder.Path() + "\\children"), 1);
        host.LoadFolder(folder.Path());
    }
    auto body = [] { std::abort(); };
    GuardResult result = RunGuarded(body);
    EXPECT_FALSE(result.completed);
    EXPECT_EQ(result.exceptionCode, GuardAbortCode);
}

TEST(GuardedCall, BodyThatReturnsCompletes) {
    EXCEPTION_REGISTRATION_RECORD* before = ChainHead();
    int value = 0;
    auto body = [&] { value = 7; };
    GuardResult result = RunGuarded(body);
    EXPECT_TRUE(result.completed);
    EXPECT_EQ(result.exceptionCode, 0u);
    EXPECT_EQ(value, 7);
    EXPECT_EQ(ChainHead(), before);
}

__attribute__((noinline)) int FaultDeep(int depth, volatile int* trail) {
    trail[depth] = depth;
    if (depth == 0) {
        WriteToNoAccessPage();
        return 0;
    }
    return FaultDeep(depth - 1, trail) + 1;  // not a tail call: every frame stays on the stack
}

TEST(GuardedCall, FaultDeepInNestedCalls) {
    QORVI_SKIP_WHEN_EMULATED("processor faults arrive with other codes");
    volatile int trail[200] = {};
    auto body = [&] { FaultDeep(199, trail); };
    GuardResult result = RunGuarded(body);
    EXPECT_FALSE(result.completed);
    EXPECT_EQ(result.exceptionCode, static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION));
    EXPECT_EQ(trail[0], 0);
    EXPECT_EQ(trail[199], 199);
}

TEST(GuardedCall, NestedGuardTakesTheInnerFaultAndTheOuterGoesOn) {
    QORVI_SKIP_WHEN_EMULATED("processor faults arrive with other codes");
    EXCEPTION_REGISTRATION_RECORD* before = ChainHead();
    GuardResult inner{};
    EXCEPTION_REGISTRATION_RECORD* outerHead = nullptr;
    EXCEPTION_REGISTRATION_RECORD* afterInner = nullptr;
    int afterwards = 0;
    auto innerBody = [] { DivideByZero(); };
    auto outerBody = [&] {
        outerHead = ChainHead();
        inner = RunGuarded(innerBody);
        afterInner = ChainHead();
        afterwards = 1;
    };
    GuardResult outer = RunGuarded(outerBody);
    EXPECT_TRUE(outer.completed);
    EXPECT_FALSE(inner.completed);
    EXPECT_EQ(inner.exceptionCode, static_cast<DWORD>(EXCEPTION_INT_DIVIDE_BY_ZERO));
    EXPECT_EQ(afterInner, outerHead) << "the inner guard restores the outer's record";
    EXPECT_EQ(afterwards, 1);
    EXPECT_EQ(ChainHead(), before);

    // The outer guard still takes a fault of its own after containing nothing in the inner one.
    auto outerFault = [&] {
        inner = RunGuarded(innerBody);
        RaiseCustom();
    };
    outer = RunGuarded(outerFault);
    EXPECT_FALSE(outer.completed);
    EXPECT_EQ(outer.exceptionCode, 0xE0000001u);
    EXPECT_EQ(ChainHead(), before);
}

TEST(GuardedCall, TenThousandFaultsLeaveTheChainAsItWas) {
    QORVI_SKIP_WHEN_EMULATED("processor faults arrive with other codes");
    EXCEPTION_REGISTRATION_RECORD* before = ChainHead();
    int contained = 0;
    for (int i = 0; i < 10000; ++i) {
        auto body = [&] { kFaults[i % std::size(kFaults)].fault(); };
        GuardResult result = RunGuarded(body);
        if (!result.completed && result.exceptionCode == kFaults[i % std::size(kFaults)].code)
            ++contained;
    }
    EXPECT_EQ(contained, 10000);
    EXPECT_EQ(ChainHead(), before);
}

TEST(GuardedCall, FaultsOnSeveralThreadsAtOnce) {
    QORVI_SKIP_WHEN_EMULATED("processor faults arrive with other codes");
    constexpr int kThreads = 4;
    constexpr int kRounds = 2000;
    std::atomic<int> contained{0};
    std::atomic<int> chainsIntact{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            EXCEPTION_REGISTRATION_RECORD* before = ChainHead();
            for (int i = 0; i < kRounds; ++i) {
                const FaultCase& c = kFaults[(i + t) % std::size(kFaults)];
                auto body = [&] { c.fault(); };
                GuardResult result = RunGuarded(body);
                if (!result.completed && result.exceptionCode == c.code) ++contained;
            }
            if (ChainHead() == before) ++chainsIntact;
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(contained.load(), kThreads * kRounds);
    EXPECT_EQ(chainsIntact.load(), kThreads);
}

// A frame the body registers itself, as a child's compiler does for its own __try or destructor
// cleanup: it declines the fault and must then be called once more to unwind. The record lies on
// the body's stack (above the guard, as a child's does); the counts live in the test's frame.
struct ProbeCounts {
    int dispatched;
    int unwound;
};

#ifndef _WIN64
struct ProbeFrame {
    EXCEPTION_REGISTRATION_RECORD record;
    ProbeCounts* counts;
};

extern "C" EXCEPTION_DISPOSITION __cdecl DecliningHandler(EXCEPTION_RECORD* record, void* frame,
                                                          CONTEXT*, void*) {
    ProbeCounts* counts = static_cast<ProbeFrame*>(frame)->counts;
    if (record->ExceptionFlags & EXCEPTION_UNWINDING)
        ++counts->unwound;
    else
        ++counts->dispatched;
    return ExceptionContinueSearch;
}

__attribute__((noinline)) void FaultUnderOwnFrame(ProbeCounts* counts) {
    ProbeFrame probe;
    probe.counts = counts;
    probe.record.Next = ChainHead();
    probe.record.Handler = reinterpret_cast<PEXCEPTION_ROUTINE>(&DecliningHandler);
    asm volatile("movl %0, %%fs:0" : : "r"(&probe.record) : "memory");
    WriteToNoAccessPage();
}
#else
// On x64 the frame's handler is named in its unwind information, for both passes; the frame
// keeps the counts 32 bytes above its stack pointer.
extern "C" EXCEPTION_DISPOSITION DecliningHandler(EXCEPTION_RECORD* record, void* frame, CONTEXT*,
                                                  void*) {
    ProbeCounts* counts = *reinterpret_cast<ProbeCounts**>(static_cast<char*>(frame) + 32);
    if (record->ExceptionFlags & EXCEPTION_UNWINDING)
        ++counts->unwound;
    else
        ++counts->dispatched;
    return ExceptionContinueSearch;
}
extern "C" void CallUnderDecliningFrame(ProbeCounts* counts, void (*body)());
asm(R"(
    .text
    .def CallUnderDecliningFrame; .scl 2; .type 32; .endef
    .seh_proc CallUnderDecliningFrame
    .seh_handler DecliningHandler, @except, @unwind
CallUnderDecliningFrame:
    subq $56, %rsp
    .seh_stackalloc 56
    .seh_endprologue
    movq %rcx, 32(%rsp)
    call *%rdx
    nop
    addq $56, %rsp
    ret
    .seh_endproc
)");

void FaultUnderOwnFrame(ProbeCounts* counts) {
    CallUnderDecliningFrame(counts, [] { WriteToNoAccessPage(); });
}
#endif

TEST(GuardedCall, FramesRegisteredAboveTheGuardAreUnwound) {
    QORVI_SKIP_WHEN_EMULATED("processor faults arrive with other codes");
    EXCEPTION_REGISTRATION_RECORD* before = ChainHead();
    ProbeCounts counts{};
    auto body = [&] { FaultUnderOwnFrame(&counts); };
    GuardResult result = RunGuarded(body);
    EXPECT_FALSE(result.completed);
    EXPECT_EQ(result.exceptionCode, static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION));
    EXPECT_EQ(counts.dispatched, 1) << "the declining frame is asked first";
    EXPECT_EQ(counts.unwound, 1) << "and is called once with the unwinding flag";
    EXPECT_EQ(ChainHead(), before);
}

TEST(GuardedCall, CxxExceptionInOurOwnFramesIsContained) {
    EXCEPTION_REGISTRATION_RECORD* before = ChainHead();
    auto body = [] { throw std::runtime_error("from our own code"); };
    GuardResult result = RunGuarded(body);
    EXPECT_FALSE(result.completed);
    EXPECT_EQ(result.exceptionCode, GuardCxxExceptionCode);
    EXPECT_EQ(ChainHead(), before);
}

TEST(GuardedCall, ClearsFloatingPointStatusLeftByTheFault) {
    auto body = [] {
        volatile double zero = 0.0;
        volatile double infinity = 1.0 / zero;  // masked: only sets the zero-divide flag
        (void)infinity;
        RaiseCustom();
    };
    GuardResult result = RunGuarded(body);
    EXPECT_FALSE(result.completed);
    // _statusfp reports the status flags at the positions of the matching _EM_ masks.
    EXPECT_EQ(_statusfp() & (_EM_ZERODIVIDE | _EM_INVALID | _EM_OVERFLOW), 0u);
}

}  // namespace
}  // namespace qorvi
