// Writes the benchmark inputs: a list text file, or a settings file holding a stored list (through SaveList,
// as a download stores it) and a browser, so the program starts without looking for one.

#include "bench_support.h"

#include "storage/ini_file.h"
#include "storage/proxy_list_store.h"

#include <cstdlib>
#include <iostream>
#include <string>

int main(int argc, char* argv[]) {
    const std::string usage = "usage: tamberly_bench_fixture list|prefs ENTRIES FILE\n";
    if (argc != 4) {
        std::cerr << usage;
        return 2;
    }
    const std::string what = argv[1];
    char* end = nullptr;
    const unsigned long entries = std::strtoul(argv[2], &end, 10);
    const std::string file = argv[3];
    if (*end != '\0' || (what != "list" && what != "prefs")) {
        std::cerr << usage;
        return 2;
    }
    const std::string text = tamberly::bench::makeListText(entries);
    try {
        if (what == "list") {
            tamberly::bench::writeFile(file, text);
            return 0;
        }
        std::string why;
        if (!tamberly::SaveList(text, file, why) || !tamberly::WriteINI("Path", "IE", "/bin/true", file, why)) {
            std::cerr << why << "\n";
            return 1;
        }
    } catch (const std::exception& e) {
        std::cerr << e.what() << "\n";
        return 1;
    }
    return 0;
}
