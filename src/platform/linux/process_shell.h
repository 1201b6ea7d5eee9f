#pragma once

#include "platform/registry.h"
#include "platform/shell.h"

#include <optional>

#include <string>
#include <vector>

namespace tamberly {

/// Starts programs as detached processes in a session of their own, the way the desktop shell does:
/// Tamberly never waits for them and never leaves a zombie behind.
/// With a registry given, every program it starts gets the proxy in force in its environment (http_proxy and
/// friends, which browsers off GNOME and KDE follow), and none of those variables when the proxy is off.
class ProcessShell final : public Shell {
public:
    explicit ProcessShell(Registry* proxyInForce = nullptr) : m_proxyInForce(proxyInForce) {}

    /// There is no desktop window to own a new process here; always 0.
    std::uintptr_t GetDesktopWindow() override { return 0; }
    /// Verb "open" (any case) or empty starts file with the parameters as its arguments; any other verb has no
    /// handler (31). Returns a value above 32 on success, otherwise the shell's code for the failure.
    long ShellExecute(std::uintptr_t owner, const std::string& verb, const std::string& file,
                      const std::string& parameters, const std::string& directory, int showCommand) override;

    /// The parameters text as an argument list: split on blanks, double quotes group and are removed.
    static std::vector<std::string> splitParameters(const std::string& parameters);
    /// The shell's failure code for an errno of a failed start.
    static long codeForErrno(int error, const std::string& file);
    /// The environment for a started program: base without the proxy variables, then those of the proxy in force;
    /// nullopt (keep base as it is) when the proxy state cannot be read.
    static std::optional<std::vector<std::string>> launchEnvironment(Registry& registry, char** base);

private:
    Registry* m_proxyInForce;
};

} // namespace tamberly
