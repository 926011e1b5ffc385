// Small owners for Win32 resources. Each is move-only and releases exactly the handle it holds;
// the empty value is the one the kind of handle uses for "none" (INVALID_HANDLE_VALUE for files
// and find handles, null for everything else).
#pragma once

#include <windows.h>

#include <utility>

namespace qorvi {

template <class Handle, Handle Empty, class Closer>
class UniqueResource {
public:
    UniqueResource() noexcept = default;
    explicit UniqueResource(Handle handle) noexcept : handle_(handle) {}
    ~UniqueResource() { reset(); }

    UniqueResource(UniqueResource&& other) noexcept : handle_(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;

    Handle get() const noexcept { return handle_; }
    explicit operator bool() const noexcept { return handle_ != Empty; }

    Handle release() noexcept { return std::exchange(handle_, Empty); }
    void reset(Handle handle = Empty) noexcept {
        Handle old = std::exchange(handle_, handle);
        if (old != Empty) Closer{}(old);
    }

private:
    Handle handle_ = Empty;
};

struct ModuleCloser { void operator()(HMODULE module) const noexcept { FreeLibrary(module); } };
struct HandleCloser { void operator()(HANDLE handle) const noexcept { CloseHandle(handle); } };
struct FindCloser { void operator()(HANDLE handle) const noexcept { FindClose(handle); } };
struct LocalCloser { void operator()(HLOCAL block) const noexcept { LocalFree(block); } };
struct HookCloser { void operator()(HHOOK hook) const noexcept { UnhookWindowsHookEx(hook); } };

using UniqueModule = UniqueResource<HMODULE, nullptr, ModuleCloser>;
using UniqueHandle = UniqueResource<HANDLE, nullptr, HandleCloser>;
using UniqueLocal = UniqueResource<HLOCAL, nullptr, LocalCloser>;
using UniqueHook = UniqueResource<HHOOK, nullptr, HookCloser>;

// File and find handles use INVALID_HANDLE_VALUE for "none"; it is not a constant expression,
// so these two carry their own small class.
template <class Closer>
class UniqueInvalidHandle {
public:
    UniqueInvalidHandle() noexcept = default;
    explicit UniqueInvalidHandle(HANDLE handle) noexcept : handle_(handle) {}
    ~UniqueInvalidHandle() { reset(); }
    UniqueInvalidHandle(UniqueInvalidHandle&& other) noexcept : handle_(other.release()) {}
    UniqueInvalidHandle& operator=(UniqueInvalidHandle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueInvalidHandle(const UniqueInvalidHandle&) = delete;
    UniqueInvalidHandle& operator=(const UniqueInvalidHandle&) = delete;

    HANDLE get() const noexcept { return handle_; }
    explicit operator bool() const noexcept { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE release() noexcept { return std::exchange(handle_, INVALID_HANDLE_VALUE); }
    void reset(HANDLE handle = INVALID_HANDLE_VALUE) noexcept {
        HANDLE old = std::exchange(handle_, handle);
        if (old != INVALID_HANDLE_VALUE) Closer{}(old);
    }

private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

using UniqueFile = UniqueInvalidHandle<HandleCloser>;
using UniqueFind = UniqueInvalidHandle<FindCloser>;

// A critical section that lives as long as its owner. Enter it through CriticalSectionGuard.
class CriticalSection {
public:
    CriticalSection() noexcept { InitializeCriticalSection(&section_); }
    ~CriticalSection() { DeleteCriticalSection(&section_); }
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

    void enter() noexcept { EnterCriticalSection(&section_); }
    void leave() noexcept { LeaveCriticalSection(&section_); }
    bool tryEnter() noexcept { return TryEnterCriticalSection(&section_) != FALSE; }

private:
    CRITICAL_SECTION section_;
};

// Holds a critical section for one scope. Constructed with `engage` false it holds nothing, so a
// caller that decides at run time whether to lock still leaves exactly what it entered.
class [[nodiscard]] CriticalSectionGuard {
public:
    explicit CriticalSectionGuard(CriticalSection& section, bool engage = true) noexcept
        : section_(engage ? &section : nullptr) {
        if (section_) section_->enter();
    }
    ~CriticalSectionGuard() {
        if (section_) section_->leave();
    }
    CriticalSectionGuard(const CriticalSectionGuard&) = delete;
    CriticalSectionGuard& operator=(const CriticalSectionGuard&) = delete;

    bool engaged() const noexcept { return section_ != nullptr; }

private:
    CriticalSection* section_;
};

}  // namespace qorvi
