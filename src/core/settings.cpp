#include "core/settings.h"

#include "text/ascii_text.h"

#include <utility>

namespace tamberly {

Settings::Settings(std::string path) : m_path(std::move(path)) {
    read();
}

void Settings::read() {
    file_store::Stamp stamp;
    std::optional<std::string> data = file_store::read(m_path, &stamp);
    m_file = IniFile(data ? std::move(*data) : std::string());
    m_stamp = data ? std::optional<file_store::Stamp>(stamp) : std::nullopt;
}

void Settings::reload() {
    const auto now = file_store::stamp(m_path);
    if (now && m_stamp && *now == *m_stamp)
        return;
    read();
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

std::string Settings::checkExpect() const {
    const std::string expect = m_file.value("Check", "Expect");
    if (!expect.empty())
        return expect;
    return m_file.value("Check", "URL").empty() ? kCheckBody : std::string();
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
    // The bytes held stand for the file while it keeps their stamp: no second read of a stored list under the lock.
    file_store::Version version{m_stamp.value_or(file_store::Stamp{}), m_file.takeText()};
    const std::string why = IniFile::write(version, m_path, section, key, value);
    m_file = IniFile(std::move(version.bytes));
    if (why.empty())
        m_stamp = version.stamp;
    return why;
}

} // namespace tamberly
