#include "ui/FormText.h"

namespace qorvi::form {

std::string ExtensionColumnText(std::string_view formatList) {
    std::string text;
    text.reserve(formatList.size());
    for (const char c : formatList) {
        if (c == '*' || c == '.') continue;
        text.push_back(c == ';' ? ',' : c);
    }
    return text;
}

bool IsProfileFileName(std::string_view fileName, LeadByteTest isLeadByte) {
    std::string extension = FileExtension(fileName, isLeadByte);
    for (char& c : extension)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return extension == ".icm" || extension == ".icc";
}

std::string ProfileDisplayName(std::string_view fileName, LeadByteTest isLeadByte) {
    const size_t extension = FileExtension(fileName, isLeadByte).size();
    return std::string(fileName.substr(0, fileName.size() - extension));
}

std::wstring TrimBlanks(std::wstring_view text) {
    size_t begin = 0, end = text.size();
    while (begin < end && text[begin] <= L' ') ++begin;
    while (end > begin && text[end - 1] <= L' ') --end;
    return std::wstring(text.substr(begin, end - begin));
}

}  // namespace qorvi::form
