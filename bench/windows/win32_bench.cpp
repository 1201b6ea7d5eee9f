// The Windows window's figures under Wine, printed as "name milliseconds" lines (medians of 5), the names bench/run
// reads:
//   filllist  a list text of 100,000 entries split and shown in the window's list box, repainted
//   split     the baseline: the same list text split at each "*" into strings
#include "app_win32/main_window.h"
#include "app_win32/resource.h"
#include "core/proxy_list_store.h"
#include "core/settings.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include <windows.h>

namespace {

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

int main() try {
    constexpr int kRows = 100'000;
    std::string text;
    for (int i = 0; i < kRows; ++i)
        text += "10." + std::to_string(i / 65536) + "." + std::to_string(i / 256 % 256) + "." +
                std::to_string(i % 256) + ":" + std::to_string(1024 + i % 50000) + "*";

    // The program's own window, shown, with commands that do nothing and no settings file (it opens at its first
    // size and is never resized, so nothing is written).
    tamberly::Settings settings("");
    tamberly::win32::MainWindow window(
        ::GetModuleHandleW(nullptr), settings, [](tamberly::Command) {}, [] {});
    window.show();
    const HWND list = ::GetDlgItem(window.handle(), IDC_PROXY_LIST);
    const double fill = medianMs([&] {
        window.showEntries(tamberly::splitListText(text));
        ::UpdateWindow(list);
    });
    if (window.entryCount() != kRows || ::SendMessageW(list, LB_GETCOUNT, 0, 0) != kRows) {
        std::fprintf(stderr, "the list box holds %d rows\n", window.entryCount());
        return 1;
    }
    const double split = medianMs([&] {
        std::vector<std::string> rows;
        for (std::size_t start = 0, star; (star = text.find('*', start)) != std::string::npos; start = star + 1)
            rows.emplace_back(text, start, star - start);
    });
    std::printf("filllist %.2f\nsplit %.2f\n", fill, split);
    return 0;
} catch (const std::runtime_error& error) {
    std::fprintf(stderr, "%s\n", error.what());
    return 1;
}
