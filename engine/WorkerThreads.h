// The engine's own worker threads: the parallel runner transforms split their rows over.
//
// CreateWorkerThreads(n) gives n-way parallelism: n - 1 threads beside the calling thread, which
// runs a share itself. StopWorkerThreads may be called under the loader lock (qorvi.spi stops
// the workers from its own unload): it only tells the threads to end and waits for none. Each
// worker holds a reference to qorvi.dll and leaves through FreeLibraryAndExitThread, so the
// library stays mapped until the last worker has stopped running its code.
#pragma once

#include <cstdint>

namespace qorvi::engine {

// Replaces any threads there are. A count below 2 leaves the calling thread alone at work.
void CreateWorkerThreads(int32_t count) noexcept;
void StopWorkerThreads() noexcept;

}  // namespace qorvi::engine
