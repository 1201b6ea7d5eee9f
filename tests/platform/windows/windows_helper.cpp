// A small program the Windows platform tests start as a real process:
//   windows_helper count FILE N   adds 1 to the number in FILE N times, each through the file store
//   windows_helper record FILE    writes its own command line to FILE (a browser that records how it was started)
//   windows_helper                the same, to started.txt beside the program (a browser started with no arguments)
#include "core/file_store.h"
#include "platform/windows/program_folder.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include <windows.h>

int main(int argc, char** argv) {
    const std::string mode = argc > 2 ? argv[1] : argc == 1 ? "record" : "";
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
    if (mode == "record") {
        const std::wstring commandLine = ::GetCommandLineW();
        const int size = ::WideCharToMultiByte(CP_UTF8, 0, commandLine.c_str(), -1, nullptr, 0, nullptr, nullptr);
        std::string utf8(static_cast<std::size_t>(size), '\0');
        ::WideCharToMultiByte(CP_UTF8, 0, commandLine.c_str(), -1, utf8.data(), size, nullptr, nullptr);
        utf8.resize(utf8.size() - 1);
        const std::string target = argc > 2 ? std::string(argv[2]) : tamberly::programFolder() + "\\started.txt";
        const std::string temp = target + ".part";
        if (FILE* out = std::fopen(temp.c_str(), "wb")) {
            std::fwrite(utf8.data(), 1, utf8.size(), out);
            std::fclose(out);
            // Whole or not at all, for the test that waits for it.
            return ::MoveFileExA(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : 1;
        }
        return 1;
    }
    std::fprintf(stderr, "usage: windows_helper count FILE N | record FILE [ARGS...]\n");
    return 2;
}
