// Delimited text and paths, free of any platform header so it builds and runs natively under the
// sanitizers.
//
// - SplitDelimitedText: the splitting of lists such as a child's FormatList ("*.jpg;*.jpeg"),
//   the stored order string ("a.spi=1","b.spi=0") and the size lists; quoted entries may hold the
//   delimiter and blanks, a doubled quote inside standing for one quote.
// - FileExtension, FileNameStart, ChangeFileExtension, EndsWithPathDelimiter: the parts of a path.
//
// Texts are ANSI strings in the system code page, and paths also UTF-16 strings. Where a
// double-byte character could hide a path delimiter in its trail byte, the caller passes a
// lead-byte test (IsDBCSLeadByte on Windows); without one every byte is a character of its own.
// Nothing here fails: every input text gives a result, and an embedded zero byte ends the text, as
// it does for the C strings these texts come from.
#pragma once

#include <cstddef>
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

// Index just past the last "\\", "/" or ":" of `path` (0 when it has none).
size_t FileNameStart(std::string_view path, LeadByteTest isLeadByte = nullptr);
// `path` with its extension (the text from the last "." of the file name on) replaced by
// `extension`; a file name without "." gets `extension` appended.
std::string ChangeFileExtension(std::string_view path, std::string_view extension,
                                LeadByteTest isLeadByte = nullptr);

// The same for paths in UTF-16, where no character can hide a delimiter.
std::wstring FileExtension(std::wstring_view fileName);
bool EndsWithPathDelimiter(std::wstring_view path);
size_t FileNameStart(std::wstring_view path);
std::wstring ChangeFileExtension(std::wstring_view path, std::wstring_view extension);

}  // namespace qorvi
