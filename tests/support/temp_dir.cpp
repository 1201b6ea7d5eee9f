#include "support/temp_dir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <random>
#include <stdexcept>

namespace tamberly::test {
namespace {
// The runtime folder too: the file store keeps its locks there.
const char* const kVariables[4] = {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "HOME", "XDG_RUNTIME_DIR"};

#ifdef _WIN32
// The C runtime's environment is the one getenv reads.
void setenv(const char* name, const char* value, int) {
    _putenv_s(name, value);
}
void unsetenv(const char* name) {
    _putenv_s(name, "");
}

char* mkdtemp(char* pattern) {
    std::random_device seed;
    std::mt19937 generator(seed());
    std::string path(pattern);
    for (int attempt = 0; attempt < 100; ++attempt) {
        for (auto i = path.size() - 6; i < path.size(); ++i)
            path[i] = "abcdefghijklmnopqrstuvwxyz0123456789"[generator() % 36];
        std::error_code ec;
        if (std::filesystem::create_directory(path, ec)) {
            path.copy(pattern, path.size());
            return pattern;
        }
    }
    return nullptr;
}
#endif
} // namespace

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tamberly-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create a temporary folder");
    m_path = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    // Tests may leave read-only folders behind; give write access back so everything can go.
    for (auto it = std::filesystem::recursive_directory_iterator(m_path, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                                     ec);
    std::filesystem::remove_all(m_path, ec);
}

ScopedUserHome::ScopedUserHome() {
    const std::string values[4] = {m_dir.path() + "/config", m_dir.path() + "/data", m_dir.path(), m_dir.path()};
    for (int i = 0; i < 4; ++i) {
        if (const char* old = std::getenv(kVariables[i])) {
            m_had[i] = true;
            m_saved[i] = old;
        }
        setenv(kVariables[i], values[i].c_str(), 1);
    }
}

ScopedUserHome::~ScopedUserHome() {
    for (int i = 0; i < 4; ++i) {
        if (m_had[i])
            setenv(kVariables[i], m_saved[i].c_str(), 1);
        else
            unsetenv(kVariables[i]);
    }
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void writeFile(const std::string& path, const std::string& data) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << data;
    if (!out.flush())
        throw std::runtime_error("cannot write " + path);
}

} // namespace tamberly::test
