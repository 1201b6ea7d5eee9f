// Writes a settings file the way the classic program left it (CRLF line ends, the list scrambled) for the window
// tests: tamberly_prefs_writer INI SERVER_URL BROWSER ENTRY...
#include "core/proxy_list_store.h"
#include "core/settings.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: tamberly_prefs_writer INI SERVER_URL BROWSER ENTRY...\n");
        return 2;
    }
    const std::string ini = argv[1];
    std::string list;
    for (int i = 4; i < argc; ++i)
        list += std::string(argv[i]) + "*";
    std::remove(ini.c_str());
    tamberly::Settings settings(ini);
    tamberly::ProxyListStore store(settings);
    for (const std::string& why :
         {store.save(list), settings.setBrowserPath(argv[3]), settings.setValue("Server", "URL", argv[2])}) {
        if (!why.empty()) {
            std::fprintf(stderr, "cannot write %s: %s\n", ini.c_str(), why.c_str());
            return 1;
        }
    }
    std::ifstream in(ini, std::ios::binary);
    std::stringstream data;
    data << in.rdbuf();
    in.close();
    std::string crlf;
    for (const char c : data.str()) {
        if (c == '\n' && (crlf.empty() || crlf.back() != '\r'))
            crlf += '\r';
        crlf += c;
    }
    std::ofstream(ini, std::ios::binary | std::ios::trunc) << crlf;
    settings.reload();
    if (store.load() != list) {
        std::fprintf(stderr, "the list does not survive CRLF line ends\n");
        return 1;
    }
    return 0;
}
