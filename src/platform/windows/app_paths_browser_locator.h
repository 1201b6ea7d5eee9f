#pragma once

#include "platform/browser_locator.h"

#include <string>

namespace tamberly {

class Registry;

/// Finds the browser the way the program always has: the folder in Internet Explorer's "App Paths" entry (its last
/// character, the separator, dropped) followed by "\IEXPLORE.EXE". Where that entry is missing or empty, as on
/// current Windows, the program of the user's default browser for http (its UserChoice ProgId's open command).
class AppPathsBrowserLocator final : public BrowserLocator {
public:
    static constexpr const char* kAppPathsValue =
        "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\IEXPLORE.EXE\\Path";
    static constexpr const char* kUserChoiceValue = "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\Shell\\"
                                                    "Associations\\UrlAssociations\\http\\UserChoice\\ProgId";

    explicit AppPathsBrowserLocator(Registry& registry);
    std::string findBrowser() override;

    /// The program of a shell open command: the quoted first word, or the text up to the first blank.
    static std::string commandProgram(const std::string& command);

private:
    std::string read(const std::string& fullName);
    Registry& m_registry;
};

} // namespace tamberly
