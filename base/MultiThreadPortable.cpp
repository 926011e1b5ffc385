// The worker thread group where there is no Win32 (the native build of the platform-free code):
// standard threads and binary semaphores, which behave as auto-reset events.
#include "base/MultiThread.h"

#include <atomic>
#include <semaphore>
#include <system_error>
#include <thread>

namespace qorvi {

struct TWorkerSlot {
    std::atomic<bool> Running{true};
    int32_t Index = 0;
    int32_t Count = 0;
    TWorkerProc Proc = nullptr;
    void* Data = nullptr;
    std::binary_semaphore StartEvent{0};
    std::binary_semaphore DoneEvent{0};  // once on starting, once per job, and once more on leaving
    std::thread Thread;  // joined: without a loader lock a thread's end can be waited for
};

namespace {

void Execute(TWorkerSlot& slot) {
    slot.DoneEvent.release();
    for (;;) {
        slot.StartEvent.acquire();
        if (!slot.Running) break;
        slot.Proc(slot.Index, slot.Count, slot.Data);
        slot.DoneEvent.release();
    }
    slot.DoneEvent.release();
}

}  // namespace

TMultiThread::TMultiThread(int32_t count, CallingThread caller) {
    const int32_t threads = caller == CallingThread::Works ? count - 1 : count;
    // Every allocation comes before the first thread: a throw leaves no worker behind.
    for (int32_t i = 0; i < threads; ++i) Slots.push_back(std::make_unique<TWorkerSlot>());
    size_t started = 0;
    try {
        for (; started < Slots.size(); ++started)
            Slots[started]->Thread = std::thread(Execute, std::ref(*Slots[started]));
    } catch (const std::system_error&) {
        // The group is the workers that did start.
    }
    Slots.resize(started);
    for (auto& slot : Slots) slot->DoneEvent.acquire();
    NumberMembers(Slots, caller);
}

TMultiThread::~TMultiThread() {
    for (auto& slot : Slots) {
        slot->Running = false;
        slot->StartEvent.release();
    }
    for (auto& slot : Slots) {
        slot->DoneEvent.acquire();
        slot->Thread.join();
    }
}

void TMultiThread::Run(TWorkerProc proc, void* data) {
    for (auto& slot : Slots) {
        slot->Proc = proc;
        slot->Data = data;
        slot->StartEvent.release();
    }
    if (CallerIsMember) proc(0, Count_, data);
    for (auto& slot : Slots) slot->DoneEvent.acquire();
}

}  // namespace qorvi
