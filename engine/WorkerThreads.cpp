#include "engine/WorkerThreads.h"

#include "base/MultiThread.h"
#include "base/Mutex.h"
#include "engine/ColorEngine.h"

#include <mutex>
#include <new>

namespace qorvi::engine {

namespace {

Mutex WorkersLock;
// A plain pointer, not an owner with a destructor: on process exit the group must be left alone
// (its threads are gone, and ending it would wait for them for ever).
TMultiThread* Workers = nullptr;

}  // namespace

void CreateWorkerThreads(int32_t count) noexcept {
    std::lock_guard<Mutex> lock(WorkersLock);
    TMultiThread* started = nullptr;
    if (count > 1) {
        try {
            started = new TMultiThread(count, CallingThread::Works);
        } catch (const std::bad_alloc&) {
            // The calling thread works alone.
        }
    }
    // The group is swapped only between transforms (the core's lock), then the old one ends.
    SetWorkerGroup(started);
    delete Workers;
    Workers = started;
}

void StopWorkerThreads() noexcept {
    std::lock_guard<Mutex> lock(WorkersLock);
    SetWorkerGroup(nullptr);
    delete Workers;
    Workers = nullptr;
}

}  // namespace qorvi::engine
