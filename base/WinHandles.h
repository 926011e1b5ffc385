// Small owners for Win32 resources. Each is move-only and releases exactly the handle it holds;
// the empty value is the one the kind of handle uses for "none" (INVALID_HANDLE_VALUE for files
// and find handles, null for everything else).
#pragma once

#include <objbase.h>
#include <windows.h>

#include <utility>

namespace qorvi {

// Traits name the handle type, its "none" value and how to release it.
template <class Traits>
class UniqueResource {
public:
    using Handle = typename Traits::Handle;

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
    explicit operator bool() const noexcept { return handle_ != Traits::Empty(); }

    Handle release() noexcept { return std::exchange(handle_, Traits::Empty()); }
    void reset(Handle handle = Traits::Empty()) noexcept {
        Handle old = std::exchange(handle_, handle);
        if (old != Traits::Empty()) Traits::Close(old);
    }

private:
    Handle handle_ = Traits::Empty();
};

template <class HandleType, BOOL(WINAPI* Closer)(HandleType)>
struct NullEmptyTraits {
    using Handle = HandleType;
    static Handle Empty() noexcept { return nullptr; }
    static void Close(Handle handle) noexcept { Closer(handle); }
};

// File and find handles use INVALID_HANDLE_VALUE for "none".
template <BOOL(WINAPI* Closer)(HANDLE)>
struct InvalidEmptyTraits {
    using Handle = HANDLE;
    static Handle Empty() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Handle handle) noexcept { Closer(handle); }
};

inline BOOL WINAPI FreeLocal(HLOCAL block) { return LocalFree(block) == nullptr; }
inline BOOL WINAPI ReleaseVirtual(void* block) { return VirtualFree(block, 0, MEM_RELEASE); }

using UniqueModule = UniqueResource<NullEmptyTraits<HMODULE, FreeLibrary>>;
using UniqueHandle = UniqueResource<NullEmptyTraits<HANDLE, CloseHandle>>;
using UniqueLocal = UniqueResource<NullEmptyTraits<HLOCAL, FreeLocal>>;
using UniqueHook = UniqueResource<NullEmptyTraits<HHOOK, UnhookWindowsHookEx>>;
// A whole reservation from VirtualAlloc, released in one piece.
using UniqueVirtual = UniqueResource<NullEmptyTraits<void*, ReleaseVirtual>>;
using UniqueFile = UniqueResource<InvalidEmptyTraits<CloseHandle>>;
using UniqueFind = UniqueResource<InvalidEmptyTraits<FindClose>>;

template <class GdiObject>
inline BOOL WINAPI DeleteGdiObject(GdiObject object) {
    return DeleteObject(object);
}
// A GDI object we created (a font, a brush), deleted once it is no longer selected anywhere.
template <class GdiObject>
using UniqueGdiObject = UniqueResource<NullEmptyTraits<GdiObject, DeleteGdiObject<GdiObject>>>;
using UniqueFont = UniqueGdiObject<HFONT>;
using UniqueBrush = UniqueGdiObject<HBRUSH>;

// The device context of a window (null: the screen) for one scope, released to the same window.
class WindowDC {
public:
    explicit WindowDC(HWND window) noexcept : window_(window), dc_(GetDC(window)) {}
    ~WindowDC() {
        if (dc_ != nullptr) ReleaseDC(window_, dc_);
    }
    WindowDC(const WindowDC&) = delete;
    WindowDC& operator=(const WindowDC&) = delete;
    HDC get() const noexcept { return dc_; }
    explicit operator bool() const noexcept { return dc_ != nullptr; }

private:
    HWND window_;
    HDC dc_;
};

// A movable local block locked for one scope: LocalLock on entry, LocalUnlock when it ends. The
// block itself stays its owner's.
class [[nodiscard]] LocalLockScope {
public:
    explicit LocalLockScope(HLOCAL block) noexcept
        : block_(block), pointer_(block != nullptr ? LocalLock(block) : nullptr) {}
    ~LocalLockScope() {
        if (pointer_ != nullptr) LocalUnlock(block_);
    }
    LocalLockScope(const LocalLockScope&) = delete;
    LocalLockScope& operator=(const LocalLockScope&) = delete;

    // The locked bytes; null when the block could not be locked.
    template <class T = void>
    T* get() const noexcept {
        return static_cast<T*>(pointer_);
    }
    explicit operator bool() const noexcept { return pointer_ != nullptr; }

private:
    HLOCAL block_;
    void* pointer_;
};

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

// Joins the calling thread to the multithreaded COM apartment for one scope. A thread that already
// lives in another apartment (RPC_E_CHANGED_MODE) keeps it, and the imaging component works there
// too; only an initialisation made here is undone.
class ComApartment {
public:
    ComApartment() : result_(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
    ~ComApartment() {
        if (SUCCEEDED(result_)) CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    bool Usable() const { return SUCCEEDED(result_) || result_ == RPC_E_CHANGED_MODE; }

private:
    HRESULT result_;
};

// Holds one reference to a COM object.
template <class T>
class ComRef {
public:
    ComRef() = default;
    ~ComRef() { Reset(); }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    T* operator->() const { return object_; }
    T* Get() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }
    // For an out-parameter: releases what was held first.
    T** Put() {
        Reset();
        return &object_;
    }
    void** PutVoid() { return reinterpret_cast<void**>(Put()); }
    void Reset() {
        if (object_) std::exchange(object_, nullptr)->Release();
    }

private:
    T* object_ = nullptr;
};

}  // namespace qorvi
