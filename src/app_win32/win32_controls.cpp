#include "app_win32/win32_controls.h"

#include "app_win32/resource.h"
#include "platform/windows/wide_text.h"

namespace tamberly::win32 {

Win32ListBox::Win32ListBox(HWND box) : m_box(box) {
    const HDC dc = ::GetDC(box);
    const auto font = reinterpret_cast<HFONT>(::SendMessageW(box, WM_GETFONT, 0, 0));
    const HGDIOBJ old = font ? ::SelectObject(dc, font) : nullptr;
    TEXTMETRICW metrics{};
    ::GetTextMetricsW(dc, &metrics);
    if (old)
        ::SelectObject(dc, old);
    ::ReleaseDC(box, dc);
    ::SendMessageW(box, LB_SETITEMHEIGHT, 0, metrics.tmHeight + 1);
}

void Win32ListBox::draw(const DRAWITEMSTRUCT& item) const {
    if (item.itemID == static_cast<UINT>(-1) || item.itemID >= m_rows.size()) {
        if (item.itemState & ODS_FOCUS)
            ::DrawFocusRect(item.hDC, &item.rcItem);
        return;
    }
    const bool selected = item.itemState & ODS_SELECTED;
    ::FillRect(item.hDC, &item.rcItem, ::GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
    ::SetBkMode(item.hDC, TRANSPARENT);
    ::SetTextColor(item.hDC, ::GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
    RECT text = item.rcItem;
    text.left += 2;
    const std::wstring row = widen(m_rows[item.itemID]);
    ::DrawTextW(item.hDC, row.c_str(), static_cast<int>(row.size()), &text,
                DT_SINGLELINE | DT_NOPREFIX | DT_VCENTER | DT_END_ELLIPSIS);
    if (item.itemState & ODS_FOCUS)
        ::DrawFocusRect(item.hDC, &item.rcItem);
}

void Win32ListBox::AddItem(const std::string& text) {
    m_rows.push_back(text);
    ::SendMessageW(m_box, LB_ADDSTRING, 0, 0);
}

template <typename Rows> void Win32ListBox::addAll(const Rows& rows) {
    if (rows.empty())
        return;
    m_rows.reserve(m_rows.size() + rows.size());
    for (const auto& row : rows)
        m_rows.emplace_back(row);
    ::SendMessageW(m_box, LB_SETCOUNT, m_rows.size(), 0);
}

void Win32ListBox::AddItems(const std::vector<std::string>& rows) {
    addAll(rows);
}

void Win32ListBox::AddItemViews(const std::vector<std::string_view>& rows) {
    addAll(rows);
}

void Win32ListBox::Clear() {
    m_rows.clear();
    ::SendMessageW(m_box, LB_RESETCONTENT, 0, 0);
}

int Win32ListBox::ListIndex() const {
    const LRESULT index = ::SendMessageW(m_box, LB_GETCURSEL, 0, 0);
    return index == LB_ERR ? -1 : static_cast<int>(index);
}

int Win32ListBox::ListCount() const {
    return static_cast<int>(m_rows.size());
}

std::string Win32ListBox::List(int i) const {
    return i >= 0 && static_cast<std::size_t>(i) < m_rows.size() ? m_rows[static_cast<std::size_t>(i)] : std::string();
}

void Win32StatusLine::setCaption(const std::string& text) {
    ::SetWindowTextW(m_label, widen(text).c_str());
}

std::string Win32StatusLine::caption() const {
    std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(m_label)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(::GetWindowTextW(m_label, text.data(), static_cast<int>(text.size()))));
    return narrow(text);
}

void Win32Timer::setEnabled(bool enabled) {
    if (enabled)
        ::SetTimer(m_window, m_id, m_interval, nullptr);
    else
        ::KillTimer(m_window, m_id);
    m_enabled = enabled;
}

int Win32Dialogs::MsgBox(const std::string& text, int buttons, const std::string& title) {
    const std::wstring caption = widen(title.empty() ? std::string("Tamberly") : title);
    const UINT type = (buttons == vbYesNo ? MB_YESNO : MB_OK) | MB_SETFOREGROUND;
    const int answer = ::MessageBoxW(m_owner, widen(text).c_str(), caption.c_str(), type);
    return answer == IDYES ? vbYes : answer == IDNO ? vbNo : vbOK;
}

namespace {

struct InputBoxState {
    std::wstring prompt;
    std::wstring title;
    std::wstring answer;
};

INT_PTR CALLBACK inputBoxProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* state = reinterpret_cast<InputBoxState*>(::GetWindowLongPtrW(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG:
        state = reinterpret_cast<InputBoxState*>(lParam);
        ::SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        ::SetWindowTextW(dialog, state->title.c_str());
        ::SetDlgItemTextW(dialog, IDC_PROMPT, state->prompt.c_str());
        ::SetFocus(::GetDlgItem(dialog, IDC_ANSWER));
        ::SetForegroundWindow(dialog);
        return FALSE; // the focus is set
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            const HWND edit = ::GetDlgItem(dialog, IDC_ANSWER);
            std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(edit)) + 1, L'\0');
            text.resize(static_cast<std::size_t>(::GetWindowTextW(edit, text.data(), static_cast<int>(text.size()))));
            state->answer = text;
            ::EndDialog(dialog, IDOK);
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            ::EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
        break;
    default:
        break;
    }
    return FALSE;
}

} // namespace

std::string Win32Dialogs::InputBox(const std::string& prompt, const std::string& title) {
    InputBoxState state{widen(prompt), widen(title.empty() ? std::string("Tamberly") : title), {}};
    const INT_PTR result = ::DialogBoxParamW(m_instance, MAKEINTRESOURCEW(IDD_INPUTBOX), m_owner, inputBoxProc,
                                             reinterpret_cast<LPARAM>(&state));
    return result == IDOK ? narrow(state.answer) : std::string();
}

} // namespace tamberly::win32
