// The WinHTTP proxy check's figure under Wine: checks every entry of a file against a test URL, as "Check proxies"
// would, and prints "check SECONDS WORKING TOTAL" for bench/run.
//   tamberly_bench_wincheck URL ENTRIES_FILE   (one entry a line; the URL answers "tamberly-check-ok")
#include "net/proxy_check.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: tamberly_bench_wincheck URL ENTRIES_FILE\n");
        return 2;
    }
    std::vector<std::string> entries;
    std::ifstream file(argv[2]);
    for (std::string line; std::getline(file, line);)
        entries.push_back(line);
    if (entries.empty()) {
        std::fprintf(stderr, "no entries in %s\n", argv[2]);
        return 2;
    }
    tamberly::TestPage page;
    page.url = argv[1];
    page.expect = "tamberly-check-ok";
    tamberly::ProxyCheck check(page);
    const auto start = std::chrono::steady_clock::now();
    const auto outcome = check.run(entries);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!outcome.ok) {
        std::fprintf(stderr, "the check failed: %s\n", outcome.error.c_str());
        return 1;
    }
    std::size_t working = 0;
    for (const auto& result : outcome.results)
        working += result.verdict == tamberly::Verdict::Works ? 1 : 0;
    std::printf("check %.3f %zu %zu\n", seconds, working, entries.size());
    return 0;
}
