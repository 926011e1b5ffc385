#include "plugin/OptionValues.h"

#include "base/DelimitedText.h"

#include <limits>

namespace qorvi {

namespace {

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::optional<int32_t> ParseHexDigits(std::string_view digits) {
    if (digits.empty()) return std::nullopt;
    uint32_t value = 0;
    for (char c : digits) {
        int digit = HexDigitValue(c);
        if (digit < 0) return std::nullopt;
        // A ninth significant digit would shift bits out; such a value is no colour or size.
        if (value > (std::numeric_limits<uint32_t>::max() >> 4)) return std::nullopt;
        value = (value << 4) | static_cast<uint32_t>(digit);
    }
    // Colours are written by other tools as unsigned hex; keep the bit pattern.
    return static_cast<int32_t>(value);
}

std::optional<int32_t> ParseDecimal(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;
    // Accumulate in 64 bits and stop as soon as the magnitude leaves the 32-bit range, so a
    // long run of digits can never overflow the accumulator.
    constexpr int64_t limit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
    int64_t magnitude = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        magnitude = magnitude * 10 + (c - '0');
        if (magnitude > limit) return std::nullopt;
    }
    if (!negative && magnitude == limit) return std::nullopt;
    return static_cast<int32_t>(negative ? -magnitude : magnitude);
}

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

}  // namespace

std::optional<int32_t> ParseOptionInteger(std::string_view text) {
    if (!text.empty() && text[0] == '$') return ParseHexDigits(text.substr(1));
    if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        return ParseHexDigits(text.substr(2));
    return ParseDecimal(text);
}

int32_t ParseOptionIntegerOr(std::string_view text, int32_t defaultValue) {
    return ParseOptionInteger(text).value_or(defaultValue);
}

bool ParseOptionBooleanOr(std::string_view text, bool defaultValue) {
    std::optional<int32_t> value = ParseOptionInteger(text);
    return value ? *value != 0 : defaultValue;
}

std::string FormatOptionInteger(int32_t value) { return std::to_string(value); }

std::string FormatOptionBoolean(bool value) { return value ? "1" : "0"; }

std::string WrapOrderString(std::string orderString) {
    if (orderString.empty() || orderString[0] == '"') return orderString;
    return '"' + orderString + '"';
}

std::string IniPathFromLibraryPath(std::string_view libraryPath, LeadByteTest isLeadByte) {
    return ChangeFileExtension(libraryPath, ".ini", isLeadByte);
}

std::string HostSectionNameFromPath(std::string_view executablePath, LeadByteTest isLeadByte) {
    const size_t nameStart = FileNameStart(executablePath, isLeadByte);
    return ChangeFileExtension(executablePath.substr(nameStart), "", isLeadByte);
}

std::wstring IniPathFromLibraryPath(std::wstring_view libraryPath) {
    return ChangeFileExtension(libraryPath, L".ini");
}

std::wstring HostSectionNameFromPath(std::wstring_view executablePath) {
    return ChangeFileExtension(executablePath.substr(FileNameStart(executablePath)), L"");
}

std::vector<std::string> SplitSizeList(std::string_view text) {
    return SplitDelimitedText(text, ',');
}

SizeValue ParseSize(std::string_view text, int32_t defaultWidth, int32_t defaultHeight) {
    // Only a lower-case "x" separates; "800X600" is no size.
    size_t x = text.find('x');
    if (x == std::string_view::npos || x == 0) return {defaultWidth, defaultHeight};
    int32_t width = ParseDecimal(text.substr(0, x)).value_or(-1);
    int32_t height = ParseDecimal(text.substr(x + 1)).value_or(-1);
    if (width < 0 || height < 0) return {defaultWidth, defaultHeight};
    return {width, height};
}

std::string FormatSize(int32_t width, int32_t height) {
    return std::to_string(width) + 'x' + std::to_string(height);
}

int FindOrInsertSize(std::vector<std::string>& items, std::string_view text) {
    for (size_t i = 0; i < items.size(); ++i)
        if (EqualIgnoringCase(items[i], text)) return static_cast<int>(i);
    SizeValue size = ParseSize(text, 0, 0);
    if (size.Width <= 0 || size.Height <= 0) return -1;
    size_t index = 0;
    for (; index < items.size(); ++index) {
        SizeValue item = ParseSize(items[index], 0, 0);
        if (item.Width > size.Width || (item.Width == size.Width && item.Height >= size.Height))
            break;
    }
    items.insert(items.begin() + static_cast<std::ptrdiff_t>(index), std::string(text));
    return static_cast<int>(index);
}

std::vector<std::string> SortedSizeList(std::string_view text) {
    std::vector<std::string> items;
    for (const std::string& entry : SplitSizeList(text)) FindOrInsertSize(items, entry);
    return items;
}

std::string JoinSizeList(const std::vector<std::string>& items) {
    std::string result;
    for (size_t i = 0; i < items.size(); ++i) {
        if (i > 0) result += ',';
        result += items[i];
    }
    return result;
}

}  // namespace qorvi
