// Reads the running program's window from outside, as another program sees it, for the window test:
//   tamberly_window_probe status     the status line's text
//   tamberly_window_probe rows       the number of rows in the proxy list
//   tamberly_window_probe selected   the selected row, -1 when none
// Exits 1 when no window of the program is there.
#include "app_win32/main_window.h"
#include "app_win32/resource.h"
#include "platform/windows/wide_text.h"

#include <cstdio>
#include <string>

#include <windows.h>

int main(int argc, char** argv) {
    const std::string what = argc == 2 ? argv[1] : "";
    if (what != "status" && what != "rows" && what != "selected") {
        std::fprintf(stderr, "usage: tamberly_window_probe status|rows|selected\n");
        return 2;
    }
    const HWND window = ::FindWindowW(tamberly::win32::MainWindow::kWindowClass, nullptr);
    if (!window) {
        std::fprintf(stderr, "no window of the program\n");
        return 1;
    }
    if (what == "status") {
        // WM_GETTEXT, which the system carries across processes (GetWindowText would not ask the control).
        const HWND status = ::GetDlgItem(window, IDC_STATUS);
        std::wstring text(static_cast<std::size_t>(::SendMessageW(status, WM_GETTEXTLENGTH, 0, 0)) + 1, L'\0');
        text.resize(static_cast<std::size_t>(
            ::SendMessageW(status, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()))));
        const std::string utf8 = tamberly::narrow(text);
        std::fwrite(utf8.data(), 1, utf8.size(), stdout);
        return 0;
    }
    const HWND list = ::GetDlgItem(window, IDC_PROXY_LIST);
    const LRESULT value = ::SendMessageW(list, what == "rows" ? LB_GETCOUNT : LB_GETCURSEL, 0, 0);
    std::printf("%d", static_cast<int>(value == LB_ERR ? -1 : value));
    return 0;
}
