// The worker thread group on Windows: threads of CreateThread and auto-reset events.
#include "base/MultiThread.h"

#include "base/WinHandles.h"

#include <atomic>

namespace qorvi {

struct TWorkerSlot {
    std::atomic<bool> Running{true};  // false asks the worker to leave
    int32_t Index = 0;
    int32_t Count = 0;
    TWorkerProc Proc = nullptr;
    void* Data = nullptr;
    UniqueHandle StartEvent;
    UniqueHandle DoneEvent;  // once on starting, once per job, and once more on leaving
};

// A worker's last act signals its DoneEvent and ends the thread without returning into this
// library: once the event is set the thread runs only system code, so whoever waited for it may
// unload us at once, even under the loader lock, where the thread's own end has to wait.
namespace {

// Runs one worker until the group lets it go; returns the event to signal last (the group closes
// it after that signal).
HANDLE RunWorker(TWorkerSlot& slot) {
    SetEvent(slot.DoneEvent.get());  // running: the group may now be ended under the loader lock
    for (;;) {
        WaitForSingleObject(slot.StartEvent.get(), INFINITE);
        if (!slot.Running.load(std::memory_order_acquire)) break;
        slot.Proc(slot.Index, slot.Count, slot.Data);
        SetEvent(slot.DoneEvent.get());
    }
    return slot.DoneEvent.get();
}

}  // namespace

#ifdef _WIN64
// The thread's entry: SetEvent is reached by a tail jump, so it returns straight into the system
// code that started the thread, which ends it. The stack is as the system gave it, aligned.
extern "C" HANDLE QorviRunWorker(void* slot) { return RunWorker(*static_cast<TWorkerSlot*>(slot)); }
extern "C" DWORD WINAPI QorviWorkerEntry(void* slot);
asm(R"(
    .text
    .globl QorviWorkerEntry
    .def QorviWorkerEntry; .scl 2; .type 32; .endef
    .seh_proc QorviWorkerEntry
QorviWorkerEntry:
    subq $40, %rsp
    .seh_stackalloc 40
    .seh_endprologue
    call QorviRunWorker
    addq $40, %rsp
    movq %rax, %rcx
    rex.W jmp *__imp_SetEvent(%rip)
    .seh_endproc
)");
namespace {
LPTHREAD_START_ROUTINE WorkerEntry() { return &QorviWorkerEntry; }
}  // namespace
#else
namespace {
// SetEvent returns straight into ExitThread(0).
[[noreturn]] void SignalAndExitThread(HANDLE event) {
    void* const exitThread = reinterpret_cast<void*>(&ExitThread);
    void* const setEvent = reinterpret_cast<void*>(&SetEvent);
    asm volatile(
        "pushl $0\n\t"  // ExitThread's exit code
        "pushl $0\n\t"  // ExitThread's return address: it never returns
        "pushl %0\n\t"  // SetEvent's argument
        "pushl %1\n\t"  // SetEvent's return address
        "jmp *%2"
        :
        : "r"(event), "r"(exitThread), "r"(setEvent)
        : "memory");
    __builtin_unreachable();
}

// Reached from the system with its stack alignment: jobs may use SSE.
__attribute__((force_align_arg_pointer)) DWORD WINAPI ExecuteWorker(void* slot) {
    SignalAndExitThread(RunWorker(*static_cast<TWorkerSlot*>(slot)));
}
LPTHREAD_START_ROUTINE WorkerEntry() { return &ExecuteWorker; }
}  // namespace
#endif

namespace {
// False when the thread cannot be had.
bool StartWorker(TWorkerSlot& slot) {
    // The thread's own handle is not needed: its slot's events say all there is to know.
    const UniqueHandle thread(CreateThread(nullptr, 0, WorkerEntry(), &slot, 0, nullptr));
    return static_cast<bool>(thread);
}
}  // namespace

TMultiThread::TMultiThread(int32_t count, CallingThread caller) {
    const int32_t threads = caller == CallingThread::Works ? count - 1 : count;
    // Every allocation comes before the first thread: a throw leaves no worker behind.
    for (int32_t i = 0; i < threads; ++i) Slots.push_back(std::make_unique<TWorkerSlot>());
    size_t started = 0;
    for (; started < Slots.size(); ++started) {
        TWorkerSlot& slot = *Slots[started];
        slot.StartEvent.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
        slot.DoneEvent.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
        if (!slot.StartEvent || !slot.DoneEvent || !StartWorker(slot)) break;
    }
    Slots.resize(started);
    for (auto& slot : Slots) WaitForSingleObject(slot->DoneEvent.get(), INFINITE);
    NumberMembers(Slots, caller);
}

TMultiThread::~TMultiThread() {
    for (auto& slot : Slots) {
        slot->Running.store(false, std::memory_order_release);
        SetEvent(slot->StartEvent.get());
    }
    for (auto& slot : Slots) WaitForSingleObject(slot->DoneEvent.get(), INFINITE);
}

void TMultiThread::Run(TWorkerProc proc, void* data) {
    for (auto& slot : Slots) {
        slot->Proc = proc;
        slot->Data = data;
        SetEvent(slot->StartEvent.get());
    }
    if (CallerIsMember) proc(0, Count_, data);
    for (auto& slot : Slots) WaitForSingleObject(slot->DoneEvent.get(), INFINITE);
}

}  // namespace qorvi
