// Option values: the text forms of settings as they stand in qorvi.ini, and the small text
// operations around the file (its path, the host's section name, the two size lists).
//
// Platform-free: nothing here touches the file or the system. Parsers never fail loudly: a text
// that is not a value gives "no value" (std::nullopt) or, in the ...Or forms, the caller's
// default, so a damaged file only ever falls back to what the record already holds.
//
// Path operations work on ANSI paths in the system's code page. In a double-byte code page
// (Shift-JIS) the trail byte of a character can be 0x5C, the byte of "\"; a caller on such a
// system passes a lead-byte test so that such a byte is not taken for a folder delimiter.
#pragma once

#include "base/DelimitedText.h"  // LeadByteTest

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qorvi {

// Integer value: decimal with an optional sign, or hexadecimal after "$", "0x" or "0X" (as
// many digits as fit in 32 bits, taken as the bit pattern of a signed value, so "$FFFFFFFF" is
// -1 like a Windows colour value). Empty text, words, trailing characters and decimal values
// outside the signed 32-bit range are no value.
std::optional<int32_t> ParseOptionInteger(std::string_view text);
int32_t ParseOptionIntegerOr(std::string_view text, int32_t defaultValue);
// Boolean value through the integer parser: 0 is false, any other integer true.
bool ParseOptionBooleanOr(std::string_view text, bool defaultValue);

// The forms WritePluginOption stores: decimal integers, "1" and "0".
std::string FormatOptionInteger(int32_t value);
std::string FormatOptionBoolean(bool value);

// The profile reader strips one pair of enclosing quotes from a stored order string, and an
// order string always begins with a double quote: a non-empty text that does not is given one
// pair back.
std::string WrapOrderString(std::string orderString);

// qorvi.ini beside the library: the library path with the extension ".ini".
std::string IniPathFromLibraryPath(std::string_view libraryPath, LeadByteTest isLeadByte = nullptr);
// The host's section: its executable's file name without folder and extension
// ("C:\Tools\viewer.exe" gives "viewer").
std::string HostSectionNameFromPath(std::string_view executablePath,
                                    LeadByteTest isLeadByte = nullptr);
// The same for paths in UTF-16, as the plug-in takes its own and the executable's.
std::wstring IniPathFromLibraryPath(std::wstring_view libraryPath);
std::wstring HostSectionNameFromPath(std::wstring_view executablePath);

// Size lists ("800x600,1024x768"): entries of width, lower-case "x" and height, joined by ",".
// The settings dialog keeps its two lists in the order these operations give: sorted by width,
// then height, without duplicates (compared ignoring case) or entries that are no valid size.
struct SizeValue {
    int32_t Width;
    int32_t Height;
    friend bool operator==(const SizeValue&, const SizeValue&) = default;
};

// Splits at "," the way every delimited text of the plug-in is split (SplitDelimitedText).
std::vector<std::string> SplitSizeList(std::string_view text);
// The two decimal numbers around the first lower-case "x" (not the first character). A side
// that is no integer counts as -1; unless both are 0 or more the defaults are returned.
SizeValue ParseSize(std::string_view text, int32_t defaultWidth, int32_t defaultHeight);
// "%dx%d".
std::string FormatSize(int32_t width, int32_t height);
// Returns the index of an item equal to `text` ignoring case; otherwise, when `text` is a size
// above 0 x 0, inserts it before the first item wider than it or as wide and at least as high,
// and returns its index; otherwise adds nothing and returns -1. Items that are no size count as
// 0 x 0.
int FindOrInsertSize(std::vector<std::string>& items, std::string_view text);
// Every entry of `text` through FindOrInsertSize, in order.
std::vector<std::string> SortedSizeList(std::string_view text);
// The items joined by "," (empty for no items).
std::string JoinSizeList(const std::vector<std::string>& items);

}  // namespace qorvi
