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

std::string Settings::judgeUrl() const {
    std::string url = listServerUrl();
    if (equalsIgnoringCase(std::string_view(url).substr(0, 8), "https://"))
        url.replace(0, 8, "http://");
    return url + kJudgePath;
}

std::string Settings::tunnelHost() const {
    const std::string url = listServerUrl();
    const std::size_t scheme = url.find("://");
    std::string_view host = std::string_view(url).substr(scheme == std::string::npos ? 0 : scheme + 3);
    host = host.substr(0, host.find_first_of("/?#"));
    if (const std::size_t at = host.rfind('@'); at != std::string_view::npos)
        host.remove_prefix(at + 1);
    if (!host.empty() && host.front() == '[')
        return std::string(host.substr(1, host.find(']') - 1));
    return std::string(host.substr(0, host.find(':')));
}

bool Settings::leaveDesktopAlone() const {
    return m_file.value("Desktop", "LeaveAlone") == "1";
}

std::string Settings::scrambledList() const {
    return m_file.value("Proxy", "Proxylist");
}

std::optional<WindowSize> Settings::windowSize() const {
    const auto number = [this](std::string_view key) -> std::optional<int> {
        const std::string text = m_file.value("Window", key);
        if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos)
            return std::nullopt;
        const int n = std::stoi(text);
        return n >= 1 && n <= 100000 ? std::optional<int>(n) : std::nullopt;
    };
    const auto width = number("Width");
    const auto height = number("Height");
    if (!width || !height)
        return std::nullopt;
    return WindowSize{*width, *height};
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

std::string Settings::setWindowSize(WindowSize size) {
    const std::string width = std::to_string(size.width);
    const std::string height = std::to_string(size.height);
    // One replacement for both: a stored list makes each replacement megabytes long.
    return write([&](const std::optional<std::string>& text) {
        return IniFile::withValue(IniFile::withValue(text, "Window", "Width", width), "Window", "Height", height);
    });
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

std::string Settings::write(const std::function<std::string(const std::optional<std::string>&)>& change) {
    file_store::Version version{m_stamp.value_or(file_store::Stamp{}), m_file.takeText()};
    const std::string why = file_store::update(m_path, change, &version);
    m_file = IniFile(std::move(version.bytes));
    if (why.empty())
        m_stamp = version.stamp;
    return why;
}

} // namespace tamberly
