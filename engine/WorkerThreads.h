// The engine's worker group: the one transforms split their rows over (ColorEngine.h), made and
// ended by the exports CreateWorkerThread and TerminateWorkerThread.
//
// CreateWorkerThreads(n) gives n-way parallelism: a group (base/MultiThread.h) of n - 1 threads
// beside the calling thread, which takes a share itself; it replaces any group there is, and a
// count below 2 leaves the calling thread alone at work. It returns once the threads run, so it
// must not be called under the loader lock.
//
// StopWorkerThreads may be called under the loader lock (qorvi.spi stops the workers from its own
// unload, and qorvi.dll from its own): it waits for each worker's last signal, after which the
// worker runs only system code, so qorvi.dll may be unmapped as soon as it returns. It holds no
// reference to the library. On process exit, when the workers are gone already, it is not called:
// the group is left to the system.
#pragma once

#include <cstdint>

namespace qorvi::engine {

void CreateWorkerThreads(int32_t count) noexcept;
void StopWorkerThreads() noexcept;

}  // namespace qorvi::engine
