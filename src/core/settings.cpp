#include "core/settings.h"

#include "text/ascii_text.h"

#include <utility>

namespace tamberly {

Settings::Settings(std::string path) : m_path(std::move(path)), m_file(IniFile::read(m_path)) {}

void Settings::reload() {
    m_file = IniFile::read(m_path);
}

std::string Settings::browserPath() const {
    return m_file.value("Path", "IE");
}

std::string Settings::listServerUrl() const {
    std::string url = m_file.value("Server", "URL");
    while (!url.empty() && url.back() == '/')
        url.pop_back();
    return url.empty() ? kDefaultListServerUrl : url;
}

std::string Settings::checkUrl() const {
    const std::string url = m_file.value("Check", "URL");
    return url.empty() ? listServerUrl() + kCheckPath : url;
}

bool Settings::leaveDesktopAlone() const {
    return m_file.value("Desktop", "LeaveAlone") == "1";
}

std::string Settings::scrambledList() const {
    return m_file.value("Proxy", "Proxylist");
}

std::string Settings::setBrowserPath(const std::string& path) {
    return setValue("Path", "IE", path);
}

std::string Settings::setScrambledList(std::string_view scrambled) {
    return setValue("Proxy", "Proxylist", scrambled);
}

std::string Settings::value(std::string_view section, std::string_view key) const {
    return m_file.value(section, key);
}

std::string Settings::setValue(std::string_view section, std::string_view key, std::string_view value) {
    std::string why;
    if (auto written = IniFile::write(m_path, section, key, value, why))
        m_file = IniFile(std::move(*written));
    return why;
}

} // namespace tamberly
