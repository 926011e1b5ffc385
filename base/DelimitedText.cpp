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

// The text up to its first zero byte: the stored and reported texts are C strings.
std::string_view UpToZero(std::string_view text) {
    const size_t zero = text.find('\0');
    return zero == std::string_view::npos ? text : text.substr(0, zero);
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

bool IsPathDelimiter(char c) { return c == '\\' || c == '/'; }

}  // namespace

std::vector<std::string> SplitDelimitedText(std::string_view text, char delimiter) {
    text = UpToZero(text);
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
    fileName = UpToZero(fileName);
    size_t dot = std::string_view::npos;
    for (size_t pos = 0; pos < fileName.size(); ++pos) {
        const char c = fileName[pos];
        // A trail byte may be 0x5C ('\\'); step over both bytes of a double-byte character.
        if (isLeadByte && isLeadByte(static_cast<unsigned char>(c))) {
            ++pos;
            continue;
        }
        if (c == '.') {
            dot = pos;
        } else if (IsPathDelimiter(c) || c == ':') {
            dot = std::string_view::npos;
        }
    }
    return dot == std::string_view::npos ? std::string() : std::string(fileName.substr(dot));
}

bool EndsWithPathDelimiter(std::string_view path, LeadByteTest isLeadByte) {
    path = UpToZero(path);
    bool delimiterLast = false;
    for (size_t pos = 0; pos < path.size(); ++pos) {
        if (isLeadByte && isLeadByte(static_cast<unsigned char>(path[pos]))) {
            delimiterLast = false;
            ++pos;
            continue;
        }
        delimiterLast = IsPathDelimiter(path[pos]);
    }
    return delimiterLast;
}

size_t FileNameStart(std::string_view path, LeadByteTest isLeadByte) {
    size_t start = 0;
    for (size_t i = 0; i < path.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(path[i]);
        if (isLeadByte && isLeadByte(c) && i + 1 < path.size()) {
            ++i;  // the trail byte may be 0x5C and is still part of the character
            continue;
        }
        if (c == '\\' || c == '/' || c == ':') start = i + 1;
    }
    return start;
}

std::string ChangeFileExtension(std::string_view path, std::string_view extension,
                                LeadByteTest isLeadByte) {
    const size_t nameStart = FileNameStart(path, isLeadByte);
    // A "." inside a double-byte character cannot occur: trail bytes start at 0x40.
    size_t dot = path.rfind('.');
    if (dot == std::string_view::npos || dot < nameStart) dot = path.size();
    std::string result(path.substr(0, dot));
    result += extension;
    return result;
}

}  // namespace qorvi
