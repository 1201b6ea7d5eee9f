#include "app_win32/proxy_settings_dialog.h"

#include "app_win32/message_box.h"
#include "app_win32/resource.h"
#include "platform/windows/wide_text.h"

#include <memory>

namespace tamberly::win32 {
namespace {

struct DialogState {
    std::string server;
    bool on = false;
    std::vector<std::string> places;
    View::SaveProxySetting save;
};

INT_PTR CALLBACK proxySettingsProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* state = reinterpret_cast<DialogState*>(::GetWindowLongPtrW(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG: {
        state = reinterpret_cast<DialogState*>(lParam);
        ::SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        ::CheckDlgButton(dialog, IDC_USE_PROXY, state->on ? BST_CHECKED : BST_UNCHECKED);
        ::SetDlgItemTextW(dialog, IDC_PROXY_SERVER, widen(state->server).c_str());
        std::string written;
        if (!state->places.empty()) {
            written = "A change is written to:";
            for (const auto& place : state->places)
                written += "\n\u2022 " + place;
        }
        ::SetDlgItemTextW(dialog, IDC_PLACES, widen(written).c_str());
        return TRUE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            const std::string why = state->save(windowText(::GetDlgItem(dialog, IDC_PROXY_SERVER)),
                                                ::IsDlgButtonChecked(dialog, IDC_USE_PROXY) == BST_CHECKED);
            if (!why.empty()) {
                showMessage(dialog, why);
                return TRUE;
            }
            ::DestroyWindow(dialog);
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            ::DestroyWindow(dialog);
            return TRUE;
        }
        break;
    case WM_NCDESTROY:
        delete state;
        ::SetWindowLongPtrW(dialog, DWLP_USER, 0);
        break;
    default:
        break;
    }
    return FALSE;
}

} // namespace

HWND openProxySettingsDialog(HINSTANCE instance, HWND owner, const std::string& server, bool on,
                             const std::vector<std::string>& places, View::SaveProxySetting save) {
    auto state = std::make_unique<DialogState>(DialogState{server, on, places, std::move(save)});
    const HWND dialog = ::CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_PROXY_SETTINGS), owner, proxySettingsProc,
                                             reinterpret_cast<LPARAM>(state.get()));
    if (!dialog)
        return nullptr;
    // The dialog owns its state from here on and frees it when it goes.
    state.release();
    ::ShowWindow(dialog, SW_SHOWNORMAL);
    return dialog;
}

} // namespace tamberly::win32
