#include "base/Mutex.h"

#include <windows.h>

namespace qorvi {

static_assert(sizeof(SRWLOCK) == sizeof(void*), "Mutex holds the SRWLOCK in one pointer");

void Mutex::lock() noexcept { AcquireSRWLockExclusive(reinterpret_cast<SRWLOCK*>(&lock_)); }

void Mutex::unlock() noexcept { ReleaseSRWLockExclusive(reinterpret_cast<SRWLOCK*>(&lock_)); }

}  // namespace qorvi
