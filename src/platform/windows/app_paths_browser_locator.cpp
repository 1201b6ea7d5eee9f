#include "platform/windows/app_paths_browser_locator.h"

#include "platform/registry.h"

namespace tamberly {

AppPathsBrowserLocator::AppPathsBrowserLocator(Registry& registry) : m_registry(registry) {}

std::string AppPathsBrowserLocator::read(const std::string& fullName) {
    try {
        const auto value = m_registry.RegRead(fullName);
        return value ? regValueText(*value) : std::string();
    } catch (const RegistryError&) {
        return {};
    }
}

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

std::string AppPathsBrowserLocator::findBrowser() {
    const std::string folder = read(kAppPathsValue);
    if (!folder.empty())
        return folder.substr(0, folder.size() - 1) + "\\IEXPLORE.EXE";
    const std::string progId = read(kUserChoiceValue);
    if (progId.empty() || progId.find('\\') != std::string::npos)
        return {};
    return commandProgram(read("HKEY_CLASSES_ROOT\\" + progId + "\\shell\\open\\command\\"));
}

} // namespace tamberly
