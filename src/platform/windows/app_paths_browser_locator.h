#pragma once

#include "platform/windows/win32_registry_key.h"

#include <string>

namespace tamberly {

/// Finds the browser the way the program always has: the folder in Internet Explorer's "App Paths" entry (its last
/// character, the separator, dropped) followed by "\IEXPLORE.EXE". Where that entry is missing or empty, as on
/// current Windows, the program of the user's default browser for http (its UserChoice ProgId's open command).
class AppPathsBrowserLocator {
public:
    /// The keys it reads; other than the system's own only in tests.
    struct Keys {
        /// Value "Path": the folder of Internet Explorer.
        Win32RegistryKey appPaths;
        /// Value "ProgId": the class of the user's default http handler.
        Win32RegistryKey userChoice;
        /// Where the classes live: ProgId\shell\open\command holds the handler's command.
        Win32RegistryKey classes;
    };
    static Keys systemKeys();

    explicit AppPathsBrowserLocator(Keys keys = systemKeys());

    /// Full path of the browser's program; the empty text when none is found.
    std::string findBrowser() const;

    /// The program of a shell open command: the quoted first word, or the text up to the first blank.
    static std::string commandProgram(const std::string& command);

private:
    Keys m_keys;
};

} // namespace tamberly
