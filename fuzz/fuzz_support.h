#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#include <unistd.h>

namespace tamberly::fuzz {

/// Stops the run with a message when a property does not hold; libFuzzer then saves the input.
inline void require(bool holds, const char* what) {
    if (holds)
        return;
    std::fprintf(stderr, "property failed: %s\n", what);
    std::abort();
}

/// As above; explain() gives the details, and runs only on failure, so it costs nothing while the property holds.
template <typename Explain> void require(bool holds, const char* what, Explain&& explain) {
    if (holds)
        return;
    const std::string detail = explain();
    std::fprintf(stderr, "property failed: %s\n  %s\n", what, detail.c_str());
    std::abort();
}

/// Printable form of a byte string for failure messages.
inline std::string shown(std::string_view bytes) {
    std::string out = "\"";
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out + "\"";
}

/// One folder per process for the files a target writes, in memory (/dev/shm) where there is one, removed at exit
/// (a crash skips that).
class ScratchDir {
public:
    ScratchDir() {
        std::error_code ec;
        const std::string base = std::filesystem::is_directory("/dev/shm", ec) ? "/dev/shm" : "/tmp";
        // The process id in the name lets fuzz/run clear what a crashed run left behind.
        std::string pattern = base + "/tamberly-fuzz-" + std::to_string(::getpid()) + "-XXXXXX";
        if (!::mkdtemp(pattern.data())) {
            std::perror("cannot create a scratch folder");
            std::abort();
        }
        m_path = pattern;
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    std::string file(const std::string& name) const { return m_path + "/" + name; }

    /// Puts exactly these bytes in the file, replacing it.
    void write(const std::string& name, std::string_view bytes) const {
        std::FILE* f = std::fopen(file(name).c_str(), "wb");
        if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() || std::fclose(f) != 0) {
            std::perror("cannot write a scratch file");
            std::abort();
        }
    }

    /// The file's bytes; empty when it is missing.
    std::string read(const std::string& name) const {
        std::string data;
        std::FILE* f = std::fopen(file(name).c_str(), "rb");
        if (!f)
            return data;
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
            data.append(buffer, n);
        std::fclose(f);
        return data;
    }

private:
    std::string m_path;
};

} // namespace tamberly::fuzz
