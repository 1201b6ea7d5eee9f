#include "platform/linux/autostart_entry.h"

#include "core/file_store.h"
#include "platform/linux/user_paths.h"
#include "text/ascii_text.h"

#include <cerrno>
#include <cstring>
#include <string_view>
#include <unistd.h>

namespace tamberly {
namespace {

// The characters the desktop-entry rules reserve in an Exec argument: an argument holding one is quoted.
constexpr std::string_view kReserved = " \t\"'\\><~|&;$*?#()`";

// One Exec argument: quoted where it must be, with the quoting's own escapes, then the string type's escape of the
// backslash and the field codes' escape of '%'. Empty when it cannot be written (a control character).
std::string execArgument(const std::string& argument) {
    std::string quoted;
    const bool needsQuotes = argument.empty() || argument.find_first_of(kReserved) != std::string::npos;
    for (const char c : argument) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            return {};
        if (needsQuotes && (c == '"' || c == '`' || c == '$' || c == '\\'))
            quoted += '\\';
        quoted += c;
    }
    if (needsQuotes)
        quoted = '"' + quoted + '"';
    std::string written;
    for (const char c : quoted) {
        if (c == '\\')
            written += "\\\\";
        else if (c == '%')
            written += "%%";
        else
            written += c;
    }
    return written;
}

} // namespace

AutostartEntry::AutostartEntry(std::string file, std::string program)
    : m_file(std::move(file)), m_program(std::move(program)) {}

std::string AutostartEntry::defaultPath() {
    const std::string config = xdgBaseDir("XDG_CONFIG_HOME", ".config");
    return config.empty() ? std::string() : config + "/autostart/org.tamberly.Tamberly.desktop";
}

std::string AutostartEntry::entryText(const std::string& program) {
    const std::string exec = execArgument(program);
    if (exec.empty())
        return {};
    // The keys the desktops read to start a tray program late enough: GNOME's delay, KDE's "after the panel" and
    // LXQt's "needs a tray".
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Tamberly\n"
           "GenericName=Proxy Switcher\n"
           "Comment=Switch your web proxy from a list of proxy servers\n"
           "Exec=" +
           exec +
           " --hidden\n"
           "Icon=org.tamberly.Tamberly\n"
           "Terminal=false\n"
           "StartupNotify=false\n"
           "X-GNOME-Autostart-enabled=true\n"
           "X-GNOME-Autostart-Delay=2\n"
           "X-KDE-autostart-after=panel\n"
           "X-LXQt-Need-Tray=true\n";
}

bool AutostartEntry::enabled() const {
    if (m_file.empty())
        return false;
    const std::optional<std::string> text = file_store::read(m_file);
    if (!text)
        return false;
    // A desktop's startup settings turn an entry off by writing one of these into it rather than removing it.
    for (const std::string_view line : splitList(*text, '\n')) {
        const std::string_view trimmed = trim(line);
        if (trimmed == "Hidden=true" || trimmed == "X-GNOME-Autostart-enabled=false")
            return false;
    }
    return true;
}

std::string AutostartEntry::setEnabled(bool on) {
    if (m_file.empty())
        return "the autostart folder is unknown: neither HOME nor the user's entry names a home folder";
    if (!on) {
        if (::unlink(m_file.c_str()) != 0 && errno != ENOENT)
            return m_file + ": " + std::strerror(errno);
        return {};
    }
    const std::string text = entryText(m_program);
    if (text.empty())
        return "the program's path cannot be written in an autostart entry: " + m_program;
    return file_store::update(m_file, [&](const std::optional<std::string>&) { return text; });
}

} // namespace tamberly
