#include "app_win32/app.h"

#include "core/settings.h"
#include "platform/platform.h"
#include "platform/windows/wininet_transfer.h"

namespace tamberly::win32 {
namespace {

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

} // namespace

App::App(HINSTANCE instance, Settings& settings, bool hidden)
    : m_window(
          instance, settings, [this](Command command) { m_commands.run(command); },
          [this] {
              // A check still running is abandoned at once: quitting never waits for it. A request that waits gives
              // up when its loop sees the quit.
              m_commands.abandonCheck();
              ::PostQuitMessage(0);
          },
          [this](Command command) { return checked(command); }),
      // While a request waits, the window's keys still work.
      m_platform(createPlatform(
          {folderOf(settings.path()), settings.leaveDesktopAlone(),
           std::make_unique<WinInetTransfer>([this](MSG& message) { return m_window.preTranslate(message); })})),
      m_watchTimer(instance), m_probe(settings, m_window.post()),
      m_commands(m_window, *m_platform, settings, m_window.post(), {&m_watchTimer, &m_probe}) {
    m_commands.startUp();
    if (hidden)
        m_window.startHidden();
    else
        m_window.show();
}

App::~App() = default;

bool App::checked(Command command) const {
    switch (command) {
    case Command::ToggleStartWithSession:
        return m_commands.startsWithSession();
    case Command::ToggleSortByCheck:
        return m_commands.sortedByCheck();
    case Command::ToggleWatch:
        return m_commands.watching();
    default:
        return false;
    }
}

} // namespace tamberly::win32
