#include "support/temp_dir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace tamberly::test {
namespace {
const char* const kVariables[3] = {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "HOME"};
}

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
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(m_path, ec);
}

ScopedUserHome::ScopedUserHome() {
    const std::string values[3] = {m_dir.path() + "/config", m_dir.path() + "/data", m_dir.path()};
    for (int i = 0; i < 3; ++i) {
        if (const char* old = std::getenv(kVariables[i])) {
            m_had[i] = true;
            m_saved[i] = old;
        }
        setenv(kVariables[i], values[i].c_str(), 1);
    }
}

ScopedUserHome::~ScopedUserHome() {
    for (int i = 0; i < 3; ++i) {
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
