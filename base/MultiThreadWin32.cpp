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

namespace {

// Signals `event` and ends the calling thread without returning into this library: SetEvent
// returns straight into ExitThread(0). Once the event is set the thread runs only system code,
// so whoever waited for it may unload us at once, even under the loader lock, where the thread's
// own end has to wait.
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

}  // namespace

// The code of one worker: it lives in its slot, which the group keeps until the last signal.
class TWorkerThread {
public:
    // False when the thread cannot be had.
    static bool Start(TWorkerSlot& slot) {
        // The thread's own handle is not needed: its slot's events say all there is to know.
        const UniqueHandle thread(CreateThread(nullptr, 0, &Execute, &slot, 0, nullptr));
        return static_cast<bool>(thread);
    }

private:
    // Reached from the system with its stack alignment: jobs may use SSE.
    __attribute__((force_align_arg_pointer)) static DWORD WINAPI Execute(void* parameter) {
        TWorkerSlot& slot = *static_cast<TWorkerSlot*>(parameter);
        SetEvent(
            slot.DoneEvent.get());  // running: the group may now be ended under the loader lock
        for (;;) {
            WaitForSingleObject(slot.StartEvent.get(), INFINITE);
            if (!slot.Running.load(std::memory_order_acquire)) break;
            slot.Proc(slot.Index, slot.Count, slot.Data);
            SetEvent(slot.DoneEvent.get());
        }
        // The group closes the event, after this signal.
        SignalAndExitThread(slot.DoneEvent.get());
    }
};

TMultiThread::TMultiThread(int32_t count, CallingThread caller) {
    const int32_t threads = caller == CallingThread::Works ? count - 1 : count;
    // Every allocation comes before the first thread: a throw leaves no worker behind.
    for (int32_t i = 0; i < threads; ++i) Slots.push_back(std::make_unique<TWorkerSlot>());
    size_t started = 0;
    for (; started < Slots.size(); ++started) {
        TWorkerSlot& slot = *Slots[started];
        slot.StartEvent.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
        slot.DoneEvent.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
        if (!slot.StartEvent || !slot.DoneEvent || !TWorkerThread::Start(slot)) break;
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
