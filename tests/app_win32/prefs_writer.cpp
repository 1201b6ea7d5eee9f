// Writes a settings file the way the classic program left it (CRLF line ends, the list scrambled) for the window
// tests: tamberly_prefs_writer INI SERVER_URL BROWSER ENTRY...
#include "storage/ini_file.h"
#include "storage/proxy_list_store.h"

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
    if (!tamberly::SaveList(list, ini) || !tamberly::WriteINI("Path", "IE", argv[3], ini) ||
        !tamberly::WriteINI("Server", "URL", argv[2], ini)) {
        std::fprintf(stderr, "cannot write %s\n", ini.c_str());
        return 1;
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
    if (tamberly::LoadList(ini) != list) {
        std::fprintf(stderr, "the list does not survive CRLF line ends\n");
        return 1;
    }
    return 0;
}
