#include "app_win32/win32_controls.h"

#include "app_win32/resource.h"
#include "platform/windows/wide_text.h"

namespace tamberly::win32 {

void Win32ListBox::AddItem(const std::string& text) {
    ::SendMessageW(m_box, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(widen(text).c_str()));
}

template <typename Rows> void Win32ListBox::addAll(const Rows& rows) {
    std::size_t chars = 0;
    for (const auto& row : rows)
        chars += row.size() + 1;
    ::SendMessageW(m_box, LB_INITSTORAGE, rows.size(), static_cast<LPARAM>(chars * sizeof(wchar_t)));
    ::SendMessageW(m_box, WM_SETREDRAW, FALSE, 0);
    std::wstring wide;
    for (const auto& row : rows) {
        wide = widen(std::string(row));
        ::SendMessageW(m_box, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide.c_str()));
    }
    ::SendMessageW(m_box, WM_SETREDRAW, TRUE, 0);
    ::InvalidateRect(m_box, nullptr, TRUE);
}

void Win32ListBox::AddItems(const std::vector<std::string>& rows) {
    addAll(rows);
}

void Win32ListBox::AddItemViews(const std::vector<std::string_view>& rows) {
    addAll(rows);
}

void Win32ListBox::Clear() {
    ::SendMessageW(m_box, LB_RESETCONTENT, 0, 0);
}

int Win32ListBox::ListIndex() const {
    const LRESULT index = ::SendMessageW(m_box, LB_GETCURSEL, 0, 0);
    return index == LB_ERR ? -1 : static_cast<int>(index);
}

int Win32ListBox::ListCount() const {
    return static_cast<int>(::SendMessageW(m_box, LB_GETCOUNT, 0, 0));
}

std::string Win32ListBox::List(int i) const {
    const LRESULT length = ::SendMessageW(m_box, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0);
    if (i < 0 || length == LB_ERR)
        return {};
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const LRESULT got =
        ::SendMessageW(m_box, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text.data()));
    text.resize(got == LB_ERR ? 0 : static_cast<std::size_t>(got));
    return narrow(text);
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
