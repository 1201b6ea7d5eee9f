// The Windows window's figures under Wine, printed as "name milliseconds" lines (medians of 5):
//   filllist  FillList of 100,000 entries into the window's list box, repainted
//   split     the baseline: the same list text split at each "*" into strings
#include "app_win32/win32_controls.h"
#include "storage/proxy_list_store.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include <windows.h>

namespace {

tamberly::win32::Win32ListBox* g_listBox = nullptr;

// The box's parent, drawing its rows as the program's window does.
LRESULT CALLBACK parentProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DRAWITEM && g_listBox) {
        g_listBox->draw(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        return TRUE;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

template <typename Work> double medianMs(Work work) {
    std::vector<double> times;
    for (int i = 0; i < 5; ++i) {
        const auto start = std::chrono::steady_clock::now();
        work();
        times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[2];
}

} // namespace

int main() {
    std::string text;
    for (int i = 0; i < 100'000; ++i)
        text += "10." + std::to_string(i / 65536) + "." + std::to_string(i / 256 % 256) + "." +
                std::to_string(i % 256) + ":" + std::to_string(1024 + i % 50000) + "*";

    const HINSTANCE instance = ::GetModuleHandleW(nullptr);
    WNDCLASSW parentClass{};
    parentClass.lpfnWndProc = parentProc;
    parentClass.hInstance = instance;
    parentClass.lpszClassName = L"TamberlyBench";
    ::RegisterClassW(&parentClass);
    const HWND window = ::CreateWindowExW(0, L"TamberlyBench", L"bench", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 320,
                                          260, nullptr, nullptr, instance, nullptr);
    const HWND box = ::CreateWindowExW(
        0, L"LISTBOX", L"", WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_BORDER | tamberly::win32::Win32ListBox::kStyle, 16,
        32, 265, 108, window, nullptr, instance, nullptr);
    tamberly::win32::Win32ListBox listBox(box);
    g_listBox = &listBox;
    const double fill = medianMs([&] {
        listBox.Clear();
        tamberly::FillList(text, listBox);
        ::UpdateWindow(box);
    });
    if (listBox.ListCount() != 100'000 || ::SendMessageW(box, LB_GETCOUNT, 0, 0) != 100'000) {
        std::fprintf(stderr, "the list box holds %d rows\n", listBox.ListCount());
        return 1;
    }
    const double split = medianMs([&] {
        std::vector<std::string> rows;
        for (std::size_t start = 0, star; (star = text.find('*', start)) != std::string::npos; start = star + 1)
            rows.emplace_back(text, start, star - start);
    });
    std::printf("filllist %.2f\nsplit %.2f\n", fill, split);
    return 0;
}
