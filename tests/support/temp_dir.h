#pragma once

#include <string>

namespace tamberly::test {

/// A fresh folder under the system's temporary folder, removed with everything in it on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return m_path; }
    /// path() + "/" + name
    std::string file(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

/// Points XDG_CONFIG_HOME, XDG_DATA_HOME, HOME and XDG_RUNTIME_DIR at a TempDir for the object's lifetime, so a test
/// never touches the real user's files.
class ScopedUserHome {
public:
    ScopedUserHome();
    ~ScopedUserHome();
    ScopedUserHome(const ScopedUserHome&) = delete;
    ScopedUserHome& operator=(const ScopedUserHome&) = delete;
    const TempDir& dir() const { return m_dir; }
    /// The per-user program folder inside it ($XDG_CONFIG_HOME/tamberly).
    std::string configDir() const { return m_dir.path() + "/config/tamberly"; }

private:
    TempDir m_dir;
    std::string m_saved[4];
    bool m_had[4] = {};
};

/// Whole contents of a file; empty when it cannot be read.
std::string readFile(const std::string& path);
/// Writes a file whole (creating the folder); throws on failure.
void writeFile(const std::string& path, const std::string& data);

} // namespace tamberly::test
