// The worker thread group on Windows: threads of CreateThread and auto-reset events.
#include "base/MultiThread.h"

#include <windows.h>

namespace qorvi {

class TWorkerThread;

struct TWorkerSlot {
    volatile LONG Running = -1;  // 0 asks the worker to leave
    int32_t Index = 0;
    int32_t Count = 0;
    TWorkerProc Proc = nullptr;
    void* Data = nullptr;
    HANDLE StartEvent = nullptr;
    HANDLE DoneEvent = nullptr;  // once per job, and once more on leaving
    TWorkerThread* Thread = nullptr;
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
        "pushl $0\n\t"   // ExitThread's exit code
        "pushl $0\n\t"   // ExitThread's return address: it never returns
        "pushl %0\n\t"   // SetEvent's argument
        "pushl %1\n\t"   // SetEvent's return address
        "jmp *%2"
        :
        : "r"(event), "r"(exitThread), "r"(setEvent)
        : "memory");
    __builtin_unreachable();
}

}  // namespace

// One worker: created running, frees itself when it leaves.
class TWorkerThread {
public:
    // False when the thread cannot be had; nothing is left behind then.
    static bool Start(TWorkerSlot& slot) {
        auto* thread = new TWorkerThread(slot);
        HANDLE handle = CreateThread(nullptr, 0, &TWorkerThread::Execute, thread, 0, nullptr);
        if (handle == nullptr) {
            delete thread;
            return false;
        }
        slot.Thread = thread;
        CloseHandle(handle);
        return true;
    }

private:
    explicit TWorkerThread(TWorkerSlot& slot) : slot_(slot) {}

    // Reached from the system with its stack alignment: jobs may use SSE.
    __attribute__((force_align_arg_pointer)) static DWORD WINAPI Execute(void* parameter) {
        auto* self = static_cast<TWorkerThread*>(parameter);
        TWorkerSlot& slot = self->slot_;
        while (slot.Running != 0) {
            WaitForSingleObject(slot.StartEvent, INFINITE);
            if (slot.Running == 0) break;
            slot.Proc(slot.Index, slot.Count, slot.Data);
            SetEvent(slot.DoneEvent);
        }
        HANDLE done = slot.DoneEvent;
        slot.Thread = nullptr;
        delete self;
        SignalAndExitThread(done);
    }

    TWorkerSlot& slot_;
};

TMultiThread::TMultiThread(int32_t count) {
    for (int32_t i = 0; i < count; ++i) {
        auto slot = std::make_unique<TWorkerSlot>();
        slot->Index = static_cast<int32_t>(Slots.size());
        slot->StartEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        slot->DoneEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        if (slot->StartEvent == nullptr || slot->DoneEvent == nullptr) {
            if (slot->StartEvent != nullptr) CloseHandle(slot->StartEvent);
            if (slot->DoneEvent != nullptr) CloseHandle(slot->DoneEvent);
            break;
        }
        Slots.push_back(std::move(slot));
    }
    // Every worker learns the group's size before the first one starts.
    for (auto& slot : Slots) slot->Count = static_cast<int32_t>(Slots.size());
    size_t started = 0;
    while (started < Slots.size() && TWorkerThread::Start(*Slots[started])) ++started;
    // A worker that could not be started: the group is the ones before it.
    for (size_t i = started; i < Slots.size(); ++i) {
        CloseHandle(Slots[i]->StartEvent);
        CloseHandle(Slots[i]->DoneEvent);
    }
    if (started < Slots.size()) {
        Slots.resize(started);
        // The running workers read Count only in Run, which has not happened yet.
        for (auto& slot : Slots) slot->Count = static_cast<int32_t>(started);
    }
}

TMultiThread::~TMultiThread() {
    for (auto& slot : Slots) {
        slot->Running = 0;
        SetEvent(slot->StartEvent);
    }
    for (auto& slot : Slots) WaitForSingleObject(slot->DoneEvent, INFINITE);
    for (auto& slot : Slots) {
        CloseHandle(slot->StartEvent);
        CloseHandle(slot->DoneEvent);
    }
}

void TMultiThread::Run(TWorkerProc proc, void* data) {
    if (Slots.empty()) {
        proc(0, 1, data);
        return;
    }
    for (auto& slot : Slots) {
        slot->Proc = proc;
        slot->Data = data;
        SetEvent(slot->StartEvent);
    }
    for (auto& slot : Slots) WaitForSingleObject(slot->DoneEvent, INFINITE);
}

}  // namespace qorvi
