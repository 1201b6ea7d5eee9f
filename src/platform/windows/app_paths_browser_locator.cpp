#include "platform/windows/app_paths_browser_locator.h"

#include <utility>

namespace tamberly {
namespace {

// The value's text; a missing or unreadable value reads as no text, and so as no browser.
std::string textOf(const RegistryKey& key, const std::string& name) {
    const RegistryRead value = key.read(name);
    const auto* text = value.data ? std::get_if<std::string>(&*value.data) : nullptr;
    return text ? *text : std::string();
}

} // namespace

AppPathsBrowserLocator::Keys AppPathsBrowserLocator::systemKeys() {
    return {
        Win32RegistryKey(RegistryRoot::LocalMachine,
                         "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\IEXPLORE.EXE"),
        Win32RegistryKey(RegistryRoot::CurrentUser,
                         "Software\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations\\http\\UserChoice"),
        Win32RegistryKey(RegistryRoot::ClassesRoot, ""),
    };
}

AppPathsBrowserLocator::AppPathsBrowserLocator(Keys keys) : m_keys(std::move(keys)) {}

std::string AppPathsBrowserLocator::commandProgram(const std::string& command) {
    const auto start = command.find_first_not_of(' ');
    if (start == std::string::npos)
        return {};
    if (command[start] == '"') {
        const auto end = command.find('"', start + 1);
        return end == std::string::npos ? command.substr(start + 1) : command.substr(start + 1, end - start - 1);
    }
    const auto end = command.find(' ', start);
    return command.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

std::string AppPathsBrowserLocator::findBrowser() const {
    const std::string folder = textOf(m_keys.appPaths, "Path");
    if (!folder.empty())
        return folder.substr(0, folder.size() - 1) + "\\IEXPLORE.EXE";
    const std::string progId = textOf(m_keys.userChoice, "ProgId");
    if (progId.empty() || progId.find('\\') != std::string::npos)
        return {};
    return commandProgram(textOf(m_keys.classes.subKey(progId + "\\shell\\open\\command"), ""));
}

} // namespace tamberly
