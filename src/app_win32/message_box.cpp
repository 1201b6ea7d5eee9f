#include "app_win32/message_box.h"

#include "app_win32/resource.h"
#include "platform/windows/wide_text.h"

namespace tamberly::win32 {
namespace {

int messageBox(HWND owner, const std::string& text, const std::string& title, UINT buttons) {
    const std::wstring caption = title.empty() ? std::wstring(kApplicationTitle) : widen(title);
    // In front even when the window is hidden in the notification area and the command came from the icon.
    return ::MessageBoxW(owner, widen(text).c_str(), caption.c_str(), buttons | MB_SETFOREGROUND);
}

struct AskTextState {
    std::wstring prompt;
    std::wstring title;
    std::string answer;
};

INT_PTR CALLBACK askTextProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* state = reinterpret_cast<AskTextState*>(::GetWindowLongPtrW(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG:
        state = reinterpret_cast<AskTextState*>(lParam);
        ::SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        ::SetWindowTextW(dialog, state->title.c_str());
        ::SetDlgItemTextW(dialog, IDC_PROMPT, state->prompt.c_str());
        ::SetFocus(::GetDlgItem(dialog, IDC_ANSWER));
        ::SetForegroundWindow(dialog);
        return FALSE; // the focus is set
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            state->answer = windowText(::GetDlgItem(dialog, IDC_ANSWER));
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

void showMessage(HWND owner, const std::string& text, const std::string& title) {
    messageBox(owner, text, title, MB_OK);
}

View::Answer askQuestion(HWND owner, const std::string& question, const std::string& title) {
    return messageBox(owner, question, title, MB_YESNO | MB_DEFBUTTON1) == IDYES ? View::Answer::Yes : View::Answer::No;
}

std::optional<std::string> askForText(HINSTANCE instance, HWND owner, const std::string& prompt,
                                      const std::string& title) {
    AskTextState state{widen(prompt), title.empty() ? std::wstring(kApplicationTitle) : widen(title), {}};
    const INT_PTR result = ::DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_ASK_TEXT), owner, askTextProc,
                                             reinterpret_cast<LPARAM>(&state));
    if (result != IDOK)
        return std::nullopt;
    return state.answer;
}

std::string windowText(HWND window) {
    std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(::GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return narrow(text);
}

} // namespace tamberly::win32
