#include "base/DelimitedText.h"

#include <cstddef>

namespace qorvi {
namespace {

constexpr char Quote = '"';

// Codes 1..32 separate entries. Bytes are compared unsigned: a byte of 0x80 or more is part of
// a name in the system code page, never a blank.
bool IsBlank(char c) {
    const auto code = static_cast<unsigned char>(c);
    return code >= 1 && code <= 32;
}

bool EndsEntry(char c, char delimiter) {
    return static_cast<unsigned char>(c) <= 32 || c == delimiter;
}

// Reads a quoted entry starting at text[pos] == '"'; leaves pos after the closing quote, or at
// the end of the text when the quote is never closed.
std::string ReadQuoted(std::string_view text, size_t& pos) {
    std::string entry;
    ++pos;
    while (pos < text.size()) {
        const char c = text[pos++];
        if (c != Quote) {
            entry.push_back(c);
            continue;
        }
        if (pos < text.size() && text[pos] == Quote) {
            entry.push_back(Quote);
            ++pos;
            continue;
        }
        break;
    }
    return entry;
}

void SkipBlanks(std::string_view text, size_t& pos) {
    while (pos < text.size() && IsBlank(text[pos])) ++pos;
}

// The path operations, for ANSI text (with the code page's lead-byte test) and for UTF-16 text
// (without: no UTF-16 unit of a character outside ASCII equals a delimiter or a dot).
template <class Char>
bool IsLeadAt(std::basic_string_view<Char> text, size_t pos, LeadByteTest isLeadByte) {
    if constexpr (sizeof(Char) == 1)
        return isLeadByte != nullptr && isLeadByte(static_cast<unsigned char>(text[pos]));
    else
        return false;
}

template <class Char>
bool IsPathDelimiterOf(Char c) {
    return c == Char('\\') || c == Char('/');
}

// The text up to its first zero: the stored and reported texts are C strings.
template <class Char>
std::basic_string_view<Char> UpToZeroOf(std::basic_string_view<Char> text) {
    const size_t zero = text.find(Char(0));
    return zero == std::basic_string_view<Char>::npos ? text : text.substr(0, zero);
}

template <class Char>
std::basic_string<Char> FileExtensionOf(std::basic_string_view<Char> fileName,
                                        LeadByteTest isLeadByte) {
    fileName = UpToZeroOf(fileName);
    size_t dot = std::basic_string_view<Char>::npos;
    for (size_t pos = 0; pos < fileName.size(); ++pos) {
        const Char c = fileName[pos];
        // A trail byte may be 0x5C ('\\'); step over both bytes of a double-byte character.
        if (IsLeadAt(fileName, pos, isLeadByte)) {
            ++pos;
            continue;
        }
        if (c == Char('.')) {
            dot = pos;
        } else if (IsPathDelimiterOf(c) || c == Char(':')) {
            dot = std::basic_string_view<Char>::npos;
        }
    }
    if (dot == std::basic_string_view<Char>::npos) return {};
    return std::basic_string<Char>(fileName.substr(dot));
}

template <class Char>
bool EndsWithPathDelimiterOf(std::basic_string_view<Char> path, LeadByteTest isLeadByte) {
    path = UpToZeroOf(path);
    bool delimiterLast = false;
    for (size_t pos = 0; pos < path.size(); ++pos) {
        if (IsLeadAt(path, pos, isLeadByte)) {
            delimiterLast = false;
            ++pos;
            continue;
        }
        delimiterLast = IsPathDelimiterOf(path[pos]);
    }
    return delimiterLast;
}

template <class Char>
size_t FileNameStartOf(std::basic_string_view<Char> path, LeadByteTest isLeadByte) {
    size_t start = 0;
    for (size_t i = 0; i < path.size(); ++i) {
        if (IsLeadAt(path, i, isLeadByte) && i + 1 < path.size()) {
            ++i;  // the trail byte may be 0x5C and is still part of the character
            continue;
        }
        if (IsPathDelimiterOf(path[i]) || path[i] == Char(':')) start = i + 1;
    }
    return start;
}

template <class Char>
std::basic_string<Char> ChangeFileExtensionOf(std::basic_string_view<Char> path,
                                              std::basic_string_view<Char> extension,
                                              LeadByteTest isLeadByte) {
    const size_t nameStart = FileNameStartOf(path, isLeadByte);
    // A "." inside a double-byte character cannot occur: trail bytes start at 0x40.
    size_t dot = path.rfind(Char('.'));
    if (dot == std::basic_string_view<Char>::npos || dot < nameStart) dot = path.size();
    std::basic_string<Char> result(path.substr(0, dot));
    result += extension;
    return result;
}

}  // namespace

std::vector<std::string> SplitDelimitedText(std::string_view text, char delimiter) {
    text = UpToZeroOf(text);
    std::vector<std::string> entries;
    size_t pos = 0;
    SkipBlanks(text, pos);
    while (pos < text.size()) {
        if (text[pos] == Quote) {
            entries.push_back(ReadQuoted(text, pos));
        } else {
            const size_t start = pos;
            while (pos < text.size() && !EndsEntry(text[pos], delimiter)) ++pos;
            entries.emplace_back(text.substr(start, pos - start));
        }
        SkipBlanks(text, pos);
        if (pos < text.size() && text[pos] == delimiter) {
            if (pos + 1 == text.size()) entries.emplace_back();
            ++pos;
            SkipBlanks(text, pos);
        }
    }
    return entries;
}

std::string FileExtension(std::string_view fileName, LeadByteTest isLeadByte) {
    return FileExtensionOf(fileName, isLeadByte);
}

bool EndsWithPathDelimiter(std::string_view path, LeadByteTest isLeadByte) {
    return EndsWithPathDelimiterOf(path, isLeadByte);
}

size_t FileNameStart(std::string_view path, LeadByteTest isLeadByte) {
    return FileNameStartOf(path, isLeadByte);
}

std::string ChangeFileExtension(std::string_view path, std::string_view extension,
                                LeadByteTest isLeadByte) {
    return ChangeFileExtensionOf(path, extension, isLeadByte);
}

std::wstring FileExtension(std::wstring_view fileName) {
    return FileExtensionOf(fileName, nullptr);
}

bool EndsWithPathDelimiter(std::wstring_view path) {
    return EndsWithPathDelimiterOf(path, nullptr);
}

size_t FileNameStart(std::wstring_view path) { return FileNameStartOf(path, nullptr); }

std::wstring ChangeFileExtension(std::wstring_view path, std::wstring_view extension) {
    return ChangeFileExtensionOf(path, extension, nullptr);
}

}  // namespace qorvi
