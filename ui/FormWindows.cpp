#include "ui/FormWindows.h"

#include "base/SystemLibrary.h"
#include "base/WinHandles.h"
#include "base/WindowPlacement.h"

#include <commctrl.h>

#include <algorithm>

namespace qorvi::form {

static_assert(OkWindowId == IDOK && CancelWindowId == IDCANCEL);

namespace {

constexpr const wchar_t* ContainerClass = L"QorviFormContainer";
constexpr const wchar_t* SwatchClass = L"QorviColorSwatch";

// A drop-down list's height as created is that of its open list; this many pixels leave room
// for every item the dialog's lists hold without a scroll bar for the short ones.
constexpr int DroppedListHeight = 240;

// Between a check box's box and its text, and after the text.
constexpr int CheckBoxTextGap = 6;

// Tab sheets and panels: they paint the button face and hand what their controls tell them to
// the dialog.
LRESULT CALLBACK ContainerProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
    case WM_NOTIFY: return SendMessageW(GetAncestor(window, GA_ROOT), message, wParam, lParam);
    default: return DefWindowProcW(window, message, wParam, lParam);
    }
}

LRESULT CALLBACK SwatchProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_PAINT) return DefWindowProcW(window, message, wParam, lParam);
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT rect;
    GetClientRect(window, &rect);
    DrawEdge(dc, &rect, BDR_SUNKENOUTER, BF_RECT | BF_ADJUST);
    const UniqueBrush brush(CreateSolidBrush(SwatchColor(window)));
    FillRect(dc, &rect, brush.get());
    EndPaint(window, &paint);
    return 0;
}

void RegisterClasses() {
    static const bool registered = [] {
        WNDCLASSEXW container{};
        container.cbSize = sizeof container;
        container.lpfnWndProc = ContainerProcedure;
        container.hInstance = OwnInstance();
        container.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
        container.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        container.lpszClassName = ContainerClass;
        RegisterClassExW(&container);
        WNDCLASSEXW swatch = container;
        swatch.lpfnWndProc = SwatchProcedure;
        swatch.lpszClassName = SwatchClass;
        RegisterClassExW(&swatch);
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_TAB_CLASSES};
        const auto initialize = SystemFunction<decltype(&InitCommonControlsEx)>(
            L"comctl32.dll", "InitCommonControlsEx");
        if (initialize != nullptr) initialize(&controls);
        return true;
    }();
    (void)registered;
}

bool HasClass(HWND window, const wchar_t* name) {
    wchar_t actual[64] = {};
    GetClassNameW(window, actual, 64);
    return lstrcmpiW(actual, name) == 0;
}

SIZE TextSize(HWND window, HFONT font, const wchar_t* text) {
    WindowDC dc(window);
    HGDIOBJ previous = SelectObject(dc.get(), font);
    SIZE size{};
    GetTextExtentPoint32W(dc.get(), text, lstrlenW(text), &size);
    SelectObject(dc.get(), previous);
    return size;
}

int CALLBACK NoteFontFound(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
    *reinterpret_cast<bool*>(found) = true;
    return 0;
}

bool FontInstalled(const wchar_t* face) {
    LOGFONTW wanted{};
    wanted.lfCharSet = DEFAULT_CHARSET;
    lstrcpynW(wanted.lfFaceName, face, LF_FACESIZE);
    bool found = false;
    WindowDC screen(nullptr);
    EnumFontFamiliesExW(screen.get(), &wanted, NoteFontFound, reinterpret_cast<LPARAM>(&found), 0);
    return found;
}

struct WindowStyle {
    const wchar_t* windowClass;
    DWORD style;
    DWORD exStyle;
};

WindowStyle StyleOf(ControlKind kind) {
    constexpr DWORD child = WS_CHILD | WS_VISIBLE;
    switch (kind) {
    case ControlKind::PageControl:
        return {WC_TABCONTROLW, child | WS_TABSTOP | WS_CLIPCHILDREN | WS_CLIPSIBLINGS,
                WS_EX_CONTROLPARENT};
    case ControlKind::TabSheet:
    case ControlKind::Panel: return {ContainerClass, child, WS_EX_CONTROLPARENT};
    case ControlKind::Label: return {L"STATIC", child | SS_LEFT | SS_NOPREFIX, 0};
    case ControlKind::CheckBox: return {L"BUTTON", child | WS_TABSTOP | BS_AUTOCHECKBOX, 0};
    case ControlKind::Button:
    case ControlKind::OkButton:
    case ControlKind::CancelButton: return {L"BUTTON", child | WS_TABSTOP | BS_PUSHBUTTON, 0};
    case ControlKind::ComboList:
        return {L"COMBOBOX", child | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST, 0};
    case ControlKind::ColorSwatch: return {SwatchClass, child, 0};
    case ControlKind::ListView:
        return {
            WC_LISTVIEWW,
            child | WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_NOSORTHEADER,
            WS_EX_CLIENTEDGE};
    }
    return {L"STATIC", child, 0};
}

// What a control needs beyond its window: items, columns, the selection field's height.
void Complete(HWND window, const ControlDefinition& control) {
    switch (control.kind) {
    case ControlKind::ComboList: {
        for (const std::wstring& item : SplitLines(control.text))
            SendMessageW(window, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
        // The designed height is that of the closed control: the selection field takes the rest.
        RECT rect;
        GetWindowRect(window, &rect);
        const LRESULT field = SendMessageW(window, CB_GETITEMHEIGHT, WPARAM(-1), 0);
        const LRESULT wanted = field + control.height - (rect.bottom - rect.top);
        if (field > 0 && wanted > 0) SendMessageW(window, CB_SETITEMHEIGHT, WPARAM(-1), wanted);
        break;
    }
    case ControlKind::ListView: {
        SendMessageW(window, LVM_SETEXTENDEDLISTVIEWSTYLE, 0,
                     LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
        int index = 0;
        for (const std::wstring& line : SplitLines(control.text)) {
            const size_t tab = line.find(L'\t');
            std::wstring caption = line.substr(0, tab);
            LVCOLUMNW column{};
            column.mask = LVCF_TEXT | LVCF_WIDTH;
            column.pszText = caption.data();
            column.cx = tab == std::wstring::npos ? 100 : _wtoi(line.c_str() + tab + 1);
            SendMessageW(window, LVM_INSERTCOLUMNW, WPARAM(index++),
                         reinterpret_cast<LPARAM>(&column));
        }
        break;
    }
    default: break;
    }
}

}  // namespace

HINSTANCE OwnInstance() {
    HMODULE module = nullptr;
    GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCWSTR>(&OwnInstance), &module);
    return module;
}

INT_PTR RunModalDialog(HWND owner, DLGPROC procedure, LPARAM param) {
    RegisterClasses();
    // The template holds only the frame: no menu, the standard class, no title and no controls.
    struct alignas(4) EmptyTemplate {
        DLGTEMPLATE frame;
        WORD menu, windowClass, title;
    } empty{};
    empty.frame.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
    empty.frame.dwExtendedStyle = WS_EX_CONTROLPARENT;
    return DialogBoxIndirectParamW(OwnInstance(), &empty.frame, owner, procedure, param);
}

void PlaceDialog(HWND dialog, HWND owner, int width, int height) {
    RECT frame{0, 0, width, height};
    AdjustWindowRectEx(&frame, DWORD(GetWindowLongW(dialog, GWL_STYLE)), FALSE,
                       DWORD(GetWindowLongW(dialog, GWL_EXSTYLE)));
    const int outerWidth = frame.right - frame.left, outerHeight = frame.bottom - frame.top;
    const POINT at =
        CenterOverWindow(owner != nullptr ? owner : GetDesktopWindow(), outerWidth, outerHeight);
    SetWindowPos(dialog, nullptr, at.x, at.y, outerWidth, outerHeight,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

HFONT CreateFormFont() {
    const wchar_t* face = DesignedFont;
    for (const wchar_t* preferred : PreferredFonts) {
        if (FontInstalled(preferred)) {
            face = preferred;
            break;
        }
    }
    LOGFONTW font{};
    font.lfHeight = FontHeight;
    font.lfWeight = FW_NORMAL;
    font.lfCharSet = SHIFTJIS_CHARSET;
    lstrcpynW(font.lfFaceName, face, LF_FACESIZE);
    return CreateFontIndirectW(&font);
}

void FormWindows::Create(HWND dialog, HFONT font) {
    RegisterClasses();
    for (int id = 0; id < ControlCount; ++id) {
        const ControlDefinition& control = Controls[id];
        HWND parent = control.parent == Form ? dialog : windows_[size_t(control.parent)];
        const WindowStyle style = StyleOf(control.kind);
        RECT place{control.left, control.top, control.left + control.width,
                   control.top + control.height};
        DWORD visible = WS_VISIBLE;
        const wchar_t* text = control.text;
        if (control.kind == ControlKind::TabSheet) {
            TCITEMW tab{};
            tab.mask = TCIF_TEXT;
            tab.pszText = const_cast<wchar_t*>(control.text);
            const LRESULT index = SendMessageW(parent, TCM_GETITEMCOUNT, 0, 0);
            SendMessageW(parent, TCM_INSERTITEMW, WPARAM(index), reinterpret_cast<LPARAM>(&tab));
            GetClientRect(parent, &place);
            SendMessageW(parent, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&place));
            if (index > 0) visible = 0;
            text = L"";
        } else if (control.kind == ControlKind::Label && control.width == 0) {
            const SIZE size = TextSize(parent, font, control.text);
            place.right = place.left + size.cx;
            place.bottom = place.top + size.cy;
        } else if (control.kind == ControlKind::ComboList) {
            place.bottom = place.top + DroppedListHeight;
        } else if (control.kind == ControlKind::CheckBox) {
            // Japanese fonts are wider than the one the layout was drawn with: a check box grows
            // to show its whole text where its parent has room (in this layout no control
            // stands right of a check box within its text's reach).
            RECT room;
            GetClientRect(parent, &room);
            const int needed = TextSize(parent, font, control.text).cx +
                               GetSystemMetrics(SM_CXMENUCHECK) + CheckBoxTextGap;
            place.right =
                std::max<LONG>(place.right, std::min<LONG>(place.left + needed, room.right));
        }
        if (control.kind == ControlKind::ComboList || control.kind == ControlKind::ListView)
            text = L"";
        HWND window = CreateWindowExW(
            style.exStyle, style.windowClass, text, (style.style & ~WS_VISIBLE) | visible,
            place.left, place.top, place.right - place.left, place.bottom - place.top, parent,
            reinterpret_cast<HMENU>(INT_PTR(WindowIdOf(ControlId(id)))), OwnInstance(), nullptr);
        SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        Complete(window, control);
        windows_[size_t(id)] = window;
    }
}

void FormWindows::ShowPage(int index) {
    int page = 0;
    for (int id = 0; id < ControlCount; ++id) {
        if (Controls[id].kind != ControlKind::TabSheet) continue;
        ShowWindow(windows_[size_t(id)], page++ == index ? SW_SHOW : SW_HIDE);
    }
}

bool IsContainer(HWND window) { return HasClass(window, ContainerClass); }

COLORREF SwatchColor(HWND swatch) { return COLORREF(GetWindowLongPtrW(swatch, GWLP_USERDATA)); }

void SetSwatchColor(HWND swatch, COLORREF colour) {
    SetWindowLongPtrW(swatch, GWLP_USERDATA, LONG_PTR(colour));
    InvalidateRect(swatch, nullptr, TRUE);
}

namespace {

// The input prompt's layout, in pixels of its client area.
constexpr int QueryWidth = 250, QueryHeight = 96;

struct Query {
    HFONT font;
    const std::wstring& caption;
    const std::wstring& prompt;
    const std::wstring& value;
    std::wstring answer;
};

INT_PTR CALLBACK QueryProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* query = reinterpret_cast<Query*>(GetWindowLongPtrW(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG: {
        query = reinterpret_cast<Query*>(lParam);
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        SetWindowTextW(dialog, query->caption.c_str());
        struct Part {
            const wchar_t* windowClass;
            const wchar_t* text;
            DWORD style;
            DWORD exStyle;
            int id, left, top, width, height;
        };
        const Part parts[] = {
            {L"STATIC", query->prompt.c_str(), SS_LEFT | SS_NOPREFIX, 0, InputQueryPromptId, 8, 8,
             234, 16},
            {L"EDIT", query->value.c_str(), WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE,
             InputQueryEditId, 8, 28, 234, 21},
            {L"BUTTON", L"OK", WS_TABSTOP | BS_DEFPUSHBUTTON, 0, IDOK, 86, 62, 75, 25},
            {L"BUTTON", L"キャンセル", WS_TABSTOP | BS_PUSHBUTTON, 0, IDCANCEL, 167, 62, 75, 25},
        };
        for (const Part& part : parts) {
            HWND window = CreateWindowExW(
                part.exStyle, part.windowClass, part.text, WS_CHILD | WS_VISIBLE | part.style,
                part.left, part.top, part.width, part.height, dialog,
                reinterpret_cast<HMENU>(INT_PTR(part.id)), OwnInstance(), nullptr);
            SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(query->font), FALSE);
        }
        PlaceDialog(dialog, GetWindow(dialog, GW_OWNER), QueryWidth, QueryHeight);
        SetFocus(GetDlgItem(dialog, InputQueryEditId));
        return FALSE;  // the focus is set
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            HWND edit = GetDlgItem(dialog, InputQueryEditId);
            std::wstring text(size_t(GetWindowTextLengthW(edit)) + 1, L'\0');
            text.resize(size_t(GetWindowTextW(edit, text.data(), int(text.size()))));
            query->answer = std::move(text);
            EndDialog(dialog, IDOK);
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
        return FALSE;
    default: return FALSE;
    }
}

}  // namespace

std::optional<std::wstring> InputQuery(HWND owner, HFONT font, const std::wstring& caption,
                                       const std::wstring& prompt, const std::wstring& value) {
    Query query{font, caption, prompt, value, {}};
    if (RunModalDialog(owner, QueryProcedure, reinterpret_cast<LPARAM>(&query)) != IDOK)
        return std::nullopt;
    return std::move(query.answer);
}

}  // namespace qorvi::form
