// A fixed group of worker threads that runs one job on all of its members at once: the
// resizers' passes and the colour engine's transforms run on it.
//
// TMultiThread(count, caller) asks for `count` members. With CallingThread::Waits every member is
// a worker thread and the thread that calls Run only waits; with CallingThread::Works the calling
// thread is member 0 and count - 1 worker threads are made. Run(proc, data) calls
// proc(index, Count(), data) once on every member, index 0 to Count() - 1, and returns when all
// of them have returned. The group does not divide the work: the job takes its portions from
// state it shares through `data` (atomically), or by its index. Workers that cannot be created
// are left out and Count() is the members there are; with no worker thread at all the calling
// thread runs the job as the only member. Run calls must not overlap (the resizers hold
// ResizeLock, the engine its own lock).
//
// Threads are made once and park on an auto-reset start event between jobs; a job costs one start
// and one done signal per worker. The constructor returns once every worker is running its loop,
// so it must not be called under the loader lock (a new thread passes through the loader before
// it runs); the destructor may be.
//
// The destructor tells every worker to leave and waits for each one's last done signal, not for
// its thread to end: it may run under the loader lock, where no thread can end. After that last
// signal a worker runs no more of our code (on Windows it signals and ends in one call into the
// system), so the library holding this code may be unmapped at once. The group holds no reference
// to its library: whoever owns it destroys it before the library goes. On process exit, when the
// system has ended every other thread already, the destructor would wait for ever: the owner
// leaves the group to the system instead.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace qorvi {

using TWorkerProc = void (*)(int32_t index, int32_t count, void* data);

enum class CallingThread { Waits, Works };

struct TWorkerSlot;

class TMultiThread {
public:
    explicit TMultiThread(int32_t count, CallingThread caller = CallingThread::Waits);
    ~TMultiThread();
    TMultiThread(const TMultiThread&) = delete;
    TMultiThread& operator=(const TMultiThread&) = delete;

    void Run(TWorkerProc proc, void* data);
    // The members a job sees (1 when the calling thread works alone).
    int32_t Count() const { return Count_; }

private:
    // Once the workers run: the calling thread is member 0 when it works or when no worker
    // started, the workers follow. `slots` is Slots, whose type is complete only where the
    // platform's worker is defined.
    template <class SlotList>
    void NumberMembers(SlotList& slots, CallingThread caller) {
        CallerIsMember = caller == CallingThread::Works || slots.empty();
        Count_ = static_cast<int32_t>(slots.size()) + (CallerIsMember ? 1 : 0);
        int32_t index = CallerIsMember ? 1 : 0;
        for (auto& slot : slots) {
            slot->Index = index++;
            slot->Count = Count_;
        }
    }

    // Each slot stays where it is while its worker lives.
    std::vector<std::unique_ptr<TWorkerSlot>> Slots;
    // Member 0 is the calling thread: when it works, and when there is no worker to do it.
    bool CallerIsMember = true;
    int32_t Count_ = 1;
};

}  // namespace qorvi
