// Conversions between the system's ANSI code page (child plug-in texts, the INI file, the names
// ANSI interfaces take), UTF-8 (what a console host prints) and the wide strings the user
// interface and the file system work in, the code page's lead-byte test for the platform-free
// text helpers (base/DelimitedText.h), and a module's own path.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace qorvi {

// True when `byte` starts a two-byte character in the system's code page.
inline bool SystemLeadByte(unsigned char byte) { return IsDBCSLeadByte(byte) != FALSE; }

// Text in `codePage` (CP_ACP, CP_UTF8, ...) and wide text, both ways.
inline std::wstring Widen(UINT codePage, std::string_view text) {
    if (text.empty()) return std::wstring();
    const int size = static_cast<int>(text.size());
    const int count = MultiByteToWideChar(codePage, 0, text.data(), size, nullptr, 0);
    if (count <= 0) return std::wstring();
    std::wstring wide(static_cast<size_t>(count), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), size, wide.data(), count);
    return wide;
}

// `flags` and `missing` (the default character) as WideCharToMultiByte takes them.
inline std::string Narrow(UINT codePage, std::wstring_view text, DWORD flags = 0,
                          const char* missing = nullptr) {
    if (text.empty()) return std::string();
    const int size = static_cast<int>(text.size());
    const int count =
        WideCharToMultiByte(codePage, flags, text.data(), size, nullptr, 0, missing, nullptr);
    if (count <= 0) return std::string();
    std::string narrow(static_cast<size_t>(count), '\0');
    WideCharToMultiByte(codePage, flags, text.data(), size, narrow.data(), count, missing, nullptr);
    return narrow;
}

inline std::wstring WidenAnsi(std::string_view text) { return Widen(CP_ACP, text); }
inline std::string NarrowToAnsi(std::wstring_view text) { return Narrow(CP_ACP, text); }

// A wide file name as an ANSI interface takes it: each character the system's code page lacks
// becomes "?", which no file name holds, rather than a look-alike that may name another file.
inline std::string AnsiFileName(std::wstring_view name) {
    // The UTF-8 code page lacks no character, and takes neither flags nor a default character.
    if (GetACP() == CP_UTF8) return Narrow(CP_ACP, name);
    return Narrow(CP_ACP, name, WC_NO_BEST_FIT_CHARS, "?");
}

// The full path of `module` (null: the executable), however long; empty when the system
// cannot tell it.
inline std::wstring ModulePath(HMODULE module) {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD size = static_cast<DWORD>(path.size());
        const DWORD length = GetModuleFileNameW(module, path.data(), size);
        if (length == 0) return std::wstring();
        // A path that fills the buffer may have been cut: ask again with room to spare, up to
        // the longest path the system has.
        if (length < size || size >= 32768) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

}  // namespace qorvi
