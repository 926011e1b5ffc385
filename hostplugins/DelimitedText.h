// Text handling of the plug-in list, free of any platform header so it builds and runs natively
// under the sanitizers.
//
// - SplitDelimitedText: the splitting of lists such as a child's FormatList ("*.jpg;*.jpeg") and
//   the stored order string ("a.spi=1","b.spi=0"); quoted entries may hold the delimiter and
//   blanks, a doubled quote inside standing for one quote.
// - FileExtension: the extension the plug-in list guesses a child by, "." included.
// - AppendOrderEntry / ParseOrderEntries: writing and reading the order string, one entry per
//   child, "<file name>=<1 or 0>" in double quotes, joined by ",".
//
// Texts are ANSI strings in the system code page. Where a double-byte character could hide a
// path delimiter in its trail byte, the caller passes a lead-byte test (IsDBCSLeadByte on
// Windows); without one every byte is a character of its own. Nothing here fails: every input
// text gives a result, and an embedded zero byte ends the text, as it does for the C strings
// these texts come from.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qorvi {

// True when `byte` starts a two-byte character in the text's code page.
using LeadByteTest = bool (*)(unsigned char byte);

// Splits `text` at `delimiter`:
// - characters 1..32 at the start are skipped;
// - an entry starting with '"' runs to the closing '"' (or to the end of the text when none
//   follows); a doubled '"' inside stands for one, and the quotes are removed;
// - any other entry ends at the delimiter or at the first character of code 32 or below;
// - after each entry, characters 1..32 are skipped and one delimiter is consumed, followed by any
//   further characters 1..32;
// - a delimiter that is the last character of the text adds one empty entry.
// Empty or blank text gives no entries.
std::vector<std::string> SplitDelimitedText(std::string_view text, char delimiter);

// The text from the last '.' that follows the last '\\', '/' or drive ':' of `fileName`, the '.'
// included; empty when there is no such '.'.
std::string FileExtension(std::string_view fileName, LeadByteTest isLeadByte = nullptr);

// True when the last character of `path` is '\\' or '/' (not the trail byte of a double-byte
// character).
bool EndsWithPathDelimiter(std::string_view path, LeadByteTest isLeadByte = nullptr);

// Appends one child to an order string: the first entry gives "\"name=1\"", each later one
// adds ",\"name=0\"" behind the text so far.
void AppendOrderEntry(std::string& order, std::string_view fileName, bool enabled);

struct OrderEntry {
    std::string name;   // text before the first '='
    std::string value;  // text after the first '='
};

// Splits `entry` at its first '='. An entry without '=' gives an empty name and value, so it
// matches no child.
OrderEntry ParseOrderEntry(std::string_view entry);

// Splits an order string at ',' (as SplitDelimitedText) and each entry at its first '='.
std::vector<OrderEntry> ParseOrderEntries(std::string_view order);

}  // namespace qorvi
