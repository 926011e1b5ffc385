// A value of each thread, a pointer or a small integer, in a slot of the system's thread-local
// storage. A C++ thread_local goes through the runtime's emulated TLS and its thread library: for
// every thread that touches one they allocate blocks they give back only when the thread ends
// while the library is still loaded. A host thread that calls a library loaded and unloaded again
// and again would lose them at every unload.
//
// The slot is taken when the library loads, through the TlsAlloc that RuntimeMemory.cpp notes, and
// given back at its unload by ReleaseRuntimeMemory; the system forgets the values then. Reading
// leaves the thread's last error as it was. Without a slot (the process has none left) every
// thread reads the value as zero.
#pragma once

#include <windows.h>

#include <cstdint>
#include <type_traits>

namespace qorvi {

template <class T>
class ThreadValue {
    static_assert(std::is_pointer_v<T> || (std::is_integral_v<T> && sizeof(T) <= sizeof(void*)),
                  "a slot holds one pointer");

public:
    ThreadValue() noexcept : index_(TlsAlloc()) {}
    ThreadValue(const ThreadValue&) = delete;
    ThreadValue& operator=(const ThreadValue&) = delete;

    T get() const noexcept {
        const DWORD error = GetLastError();
        const uintptr_t value =
            index_ == TLS_OUT_OF_INDEXES ? 0 : reinterpret_cast<uintptr_t>(TlsGetValue(index_));
        SetLastError(error);
        if constexpr (std::is_pointer_v<T>)
            return reinterpret_cast<T>(value);
        else
            return static_cast<T>(value);
    }
    void set(T value) noexcept {
        if (index_ == TLS_OUT_OF_INDEXES) return;
        if constexpr (std::is_pointer_v<T>)
            TlsSetValue(index_, const_cast<void*>(static_cast<const void*>(value)));
        else
            TlsSetValue(index_, reinterpret_cast<void*>(static_cast<intptr_t>(value)));
    }

private:
    DWORD index_;
};

}  // namespace qorvi
