#include "engine/WorkerThreads.h"

#include "engine/ColorEngine.h"

#include <windows.h>

#include <memory>
#include <mutex>
#include <vector>

namespace qorvi::engine {

namespace {

class TWorkerThreads;

// What one worker reads. After Stop the worker owns it and frees it on its way out, so nothing
// it touches then belongs to the pool.
struct TWorkerSlot {
    HANDLE Start = nullptr;  // auto-reset: one job, or the signal to end
    HMODULE Module = nullptr;
    TWorkerThreads* Pool = nullptr;
    const std::function<void(int)>* Job = nullptr;
    int Slice = 0;
    bool Quit = false;
};

class TWorkerThreads final : public TParallelRunner {
public:
    TWorkerThreads() : done_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}
    ~TWorkerThreads() override {
        Stop();
        if (done_ != nullptr) CloseHandle(done_);
    }
    TWorkerThreads(const TWorkerThreads&) = delete;
    TWorkerThreads& operator=(const TWorkerThreads&) = delete;

    // Starts up to `count` workers; fewer when the system refuses some.
    void Start(int32_t count);
    void Stop() noexcept;

    int SliceCount() const noexcept override { return static_cast<int>(slots_.size()) + 1; }
    void Run(const std::function<void(int slice)>& job) noexcept override;

    // A worker's report that its slice is done; the last one wakes the caller.
    void SliceDone() noexcept {
        if (InterlockedDecrement(&remaining_) == 0) SetEvent(done_);
    }

private:
    HANDLE done_;
    volatile LONG remaining_ = 0;
    std::vector<TWorkerSlot*> slots_;
};

DWORD WINAPI WorkerMain(void* parameter) {
    auto* slot = static_cast<TWorkerSlot*>(parameter);
    for (;;) {
        WaitForSingleObject(slot->Start, INFINITE);
        if (slot->Quit) break;
        (*slot->Job)(slot->Slice);
        slot->Pool->SliceDone();
    }
    // Our code must not run once the library is gone: the reference taken at the start is
    // dropped by the call that also ends the thread.
    const HMODULE module = slot->Module;
    CloseHandle(slot->Start);
    delete slot;
    FreeLibraryAndExitThread(module, 0);
}

void TWorkerThreads::Start(int32_t count) {
    if (done_ == nullptr) return;
    for (int32_t i = 1; i < count; ++i) {
        auto slot = std::make_unique<TWorkerSlot>();
        slot->Pool = this;
        slot->Start = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        if (slot->Start == nullptr) return;
        if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                                reinterpret_cast<LPCWSTR>(&WorkerMain), &slot->Module)) {
            CloseHandle(slot->Start);
            return;
        }
        HANDLE thread = CreateThread(nullptr, 0, WorkerMain, slot.get(), 0, nullptr);
        if (thread == nullptr) {
            FreeLibrary(slot->Module);
            CloseHandle(slot->Start);
            return;
        }
        CloseHandle(thread);
        slots_.push_back(slot.release());
    }
}

void TWorkerThreads::Stop() noexcept {
    for (TWorkerSlot* slot : slots_) {
        slot->Quit = true;
        SetEvent(slot->Start);
    }
    slots_.clear();
}

void TWorkerThreads::Run(const std::function<void(int slice)>& job) noexcept {
    remaining_ = static_cast<LONG>(slots_.size());
    for (size_t i = 0; i < slots_.size(); ++i) {
        slots_[i]->Job = &job;
        slots_[i]->Slice = static_cast<int>(i) + 1;
        SetEvent(slots_[i]->Start);
    }
    job(0);
    if (!slots_.empty()) WaitForSingleObject(done_, INFINITE);
}

std::mutex WorkersLock;
std::unique_ptr<TWorkerThreads> Workers;

}  // namespace

void CreateWorkerThreads(int32_t count) noexcept {
    std::lock_guard<std::mutex> lock(WorkersLock);
    std::unique_ptr<TWorkerThreads> started;
    if (count > 1) {
        try {
            started = std::make_unique<TWorkerThreads>();
            started->Start(count);
        } catch (...) {
            started.reset();
        }
    }
    // The runner is swapped only between transforms (the core's lock), then the old threads end.
    SetParallelRunner(started.get());
    Workers = std::move(started);
}

void StopWorkerThreads() noexcept {
    std::lock_guard<std::mutex> lock(WorkersLock);
    SetParallelRunner(nullptr);
    Workers.reset();
}

}  // namespace qorvi::engine
