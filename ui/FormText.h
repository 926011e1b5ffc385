// The small text rules of the settings dialog, free of the platform: how a child's formats show
// in the plug-in list, which files of the colour folder are profiles and how they are named, and
// how a typed size is cleaned.
#pragma once

#include "base/DelimitedText.h"  // LeadByteTest

#include <string>
#include <string_view>

namespace qorvi::form {

// "*.jpg;*.jpeg" shows as "jpg,jpeg": every "*" and "." removed, every ";" made ",".
std::string ExtensionColumnText(std::string_view formatList);

// Whether `fileName` ends in ".icm" or ".icc", in any case.
bool IsProfileFileName(std::string_view fileName, LeadByteTest isLeadByte = nullptr);
// The file name without its extension: what the profile lists show.
std::string ProfileDisplayName(std::string_view fileName, LeadByteTest isLeadByte = nullptr);

// `text` without blanks and control characters (code 32 and below) at either end.
std::wstring TrimBlanks(std::wstring_view text);

}  // namespace qorvi::form
