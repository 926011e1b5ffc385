#include "ui/FormDefinition.h"

#include <string>

namespace qorvi::form {

const ControlDefinition Controls[ControlCount] = {
#define QORVI_CONTROL(name, kind, parent, left, top, width, height, text) \
    {#name, ControlKind::kind, parent, left, top, width, height, text},
#include "resources/ConfigurationForm.inc"
#undef QORVI_CONTROL
};

int WindowIdOf(ControlId id) {
    switch (Controls[id].kind) {
    case ControlKind::OkButton: return OkWindowId;
    case ControlKind::CancelButton: return CancelWindowId;
    default: return FirstWindowId + int(id);
    }
}

ControlId ControlOfWindowId(int windowId) {
    for (int id = 0; id < ControlCount; ++id)
        if (WindowIdOf(ControlId(id)) == windowId) return ControlId(id);
    return Form;
}

std::wstring FormatCaption(std::wstring_view format, std::wstring_view value) {
    std::wstring caption(format);
    const size_t at = caption.find(L"%s");
    if (at != std::wstring::npos) caption.replace(at, 2, value);
    return caption;
}

std::vector<std::wstring> SplitLines(std::wstring_view text) {
    std::vector<std::wstring> lines;
    while (!text.empty()) {
        const size_t end = text.find(L'\n');
        lines.emplace_back(text.substr(0, end));
        if (end == std::wstring_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return lines;
}

}  // namespace qorvi::form
