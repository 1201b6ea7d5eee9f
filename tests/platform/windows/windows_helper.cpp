// A small program the Windows platform tests start as a real process:
//   windows_helper count FILE N      adds 1 to the number in FILE N times, each through the file store
//   windows_helper record FILE ...   writes its command line, its working folder and how its window was to be shown
//                                    (the number of SW_SHOWNORMAL and the like, -1 when not said), one a line, to FILE
//   windows_helper [ANYTHING]        the same, to started.txt beside the program: a browser that records how it was
//                                    started (copied under a name of the test's own, so tests never share the file)
#include "core/file_store.h"
#include "platform/windows/program_folder.h"
#include "platform/windows/wide_text.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include <windows.h>

#include <shellapi.h>

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "count" && argc == 4) {
        const int times = std::atoi(argv[3]);
        for (int i = 0; i < times; ++i) {
            const std::string why = tamberly::file_store::update(argv[2], [](const std::optional<std::string>& old) {
                return std::to_string((old ? std::atoi(old->c_str()) : 0) + 1);
            });
            if (!why.empty()) {
                std::fprintf(stderr, "%s\n", why.c_str());
                return 1;
            }
        }
        return 0;
    }
    if (mode == "count") {
        std::fprintf(stderr, "usage: windows_helper count FILE N | record FILE [ARGS...] | [ARGS...]\n");
        return 2;
    }
    wchar_t folder[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, folder);
    STARTUPINFOW startup{};
    ::GetStartupInfoW(&startup);
    const int show = startup.dwFlags & STARTF_USESHOWWINDOW ? startup.wShowWindow : -1;
    const std::string record =
        tamberly::narrow(::GetCommandLineW()) + "\n" + tamberly::narrow(folder) + "\n" + std::to_string(show);
    // The record file's name comes from the command line as the system splits it, in UTF-16.
    int count = 0;
    wchar_t** arguments = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    const std::wstring target = mode == "record" && count > 2
                                    ? std::wstring(arguments[2])
                                    : tamberly::widen(tamberly::programFolder()) + L"\\started.txt";
    ::LocalFree(arguments);
    // Whole or not at all, for the test that waits for it.
    const std::wstring temp = target + L".part";
    FILE* out = ::_wfopen(temp.c_str(), L"wb");
    if (!out)
        return 1;
    std::fwrite(record.data(), 1, record.size(), out);
    std::fclose(out);
    return ::MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : 1;
}
