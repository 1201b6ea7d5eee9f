#include "bench_support.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace tamberly::bench {

std::string makeListText(std::size_t count) {
    std::string text;
    text.reserve(count * 21);
    // A fixed linear congruential sequence: the same list on every run and machine.
    std::uint64_t x = 0x5EED;
    const auto next = [&x] {
        x = x * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<std::uint32_t>(x >> 32);
    };
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t address = next();
        const std::uint32_t port = 1024 + next() % (65536 - 1024);
        text += std::to_string(address >> 24) + '.' + std::to_string((address >> 16) & 0xFF) + '.' +
                std::to_string((address >> 8) & 0xFF) + '.' + std::to_string(address & 0xFF) + ':' +
                std::to_string(port) + '*';
    }
    return text;
}

std::string makeListTextOfSize(std::size_t bytes) {
    std::string text = makeListText(bytes / 16 + 1);
    text.resize(bytes);
    return text;
}

std::string redirectUserHome(const std::string& folder) {
    const std::pair<const char*, const char*> places[] = {
        {"HOME", ""}, {"XDG_CONFIG_HOME", "/config"}, {"XDG_DATA_HOME", "/data"}, {"XDG_CACHE_HOME", "/cache"}};
    for (const auto& [variable, sub] : places) {
        const std::string path = folder + sub;
        std::filesystem::create_directories(path);
        ::setenv(variable, path.c_str(), 1);
    }
    return folder + "/config/tamberly";
}

} // namespace tamberly::bench
