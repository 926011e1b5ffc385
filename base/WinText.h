// Conversions between the system's ANSI code page (file names, child plug-in texts, the INI
// file) and the wide strings the user interface is shown in, and the code page's lead-byte test
// for the platform-free text helpers (base/DelimitedText.h).
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace qorvi {

// True when `byte` starts a two-byte character in the system's code page.
inline bool SystemLeadByte(unsigned char byte) { return IsDBCSLeadByte(byte) != FALSE; }

inline std::wstring WidenAnsi(std::string_view text) {
    if (text.empty()) return std::wstring();
    const int size = static_cast<int>(text.size());
    const int count = MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
    if (count <= 0) return std::wstring();
    std::wstring wide(static_cast<size_t>(count), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), size, wide.data(), count);
    return wide;
}

inline std::string NarrowToAnsi(std::wstring_view text) {
    if (text.empty()) return std::string();
    const int size = static_cast<int>(text.size());
    const int count =
        WideCharToMultiByte(CP_ACP, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    if (count <= 0) return std::string();
    std::string narrow(static_cast<size_t>(count), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), size, narrow.data(), count, nullptr, nullptr);
    return narrow;
}

}  // namespace qorvi
