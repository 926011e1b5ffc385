// The lock of process-wide objects in a library that hosts load and unload again and again.
// std::mutex on Windows comes from the runtime's thread library, which allocates a lock's state at
// its first use and gives it back only when the lock is destroyed; a std::mutex destructor does
// nothing there, so every load of the library would lose the state of every lock it used. Mutex
// is a slim reader/writer lock on Windows instead, which needs neither; elsewhere it is std::mutex.
// Both are locked with std::lock_guard.
#pragma once

#ifdef _WIN32
namespace qorvi {

class Mutex {
public:
    constexpr Mutex() noexcept = default;
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    void lock() noexcept;
    void unlock() noexcept;

private:
    void* lock_ = nullptr;  // the SRWLOCK itself: one pointer, unlocked when null
};

}  // namespace qorvi
#else
#include <mutex>

namespace qorvi {
using Mutex = std::mutex;
}  // namespace qorvi
#endif
