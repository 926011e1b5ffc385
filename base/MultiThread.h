// A fixed group of worker threads that runs one job on all of them at once.
//
// Run(proc, data) calls proc(index, count, data) on every worker, index 0 to count - 1, and
// returns when all of them have returned; the calling thread does no share. The group does not
// divide the work: the job takes its portions from state it shares through `data` (atomically).
// Threads are created once and park on an auto-reset start event between jobs; a job costs one
// start and one done signal per worker. Run calls must not overlap (the resizers hold ResizeLock).
//
// The destructor tells every worker to leave and waits for each one's last done signal, not for
// its thread to end: it may run under the loader lock, where no thread can end. After that last
// signal a worker runs no more of our code (on Windows it signals and ends in one call into the
// system), so the library may be unmapped at once. Workers that cannot be created are left out;
// with none at all, Run calls the job on the calling thread as the group's only member.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace qorvi {

using TWorkerProc = void (*)(int32_t index, int32_t count, void* data);

struct TWorkerSlot;

class TMultiThread {
public:
    explicit TMultiThread(int32_t count);
    ~TMultiThread();
    TMultiThread(const TMultiThread&) = delete;
    TMultiThread& operator=(const TMultiThread&) = delete;

    void Run(TWorkerProc proc, void* data);
    // The workers a job sees (1 when the calling thread stands in).
    int32_t Count() const { return Slots.empty() ? 1 : static_cast<int32_t>(Slots.size()); }

private:
    // Each slot stays where it is while its worker lives.
    std::vector<std::unique_ptr<TWorkerSlot>> Slots;
};

}  // namespace qorvi
