#include "app/run_tamberly.h"

#include "app/tamberly.h"
#include "platform/linux/browser_lookup.h"
#include "platform/clock_random_source.h"
#include "platform/linux/desktop_proxy_page.h"
#include "platform/linux/desktop_registry.h"
#include "platform/linux/process_shell.h"
#include "platform/linux/registry_file.h"
#include "platform/linux/user_paths.h"
#include "storage/ini_file.h"

#include <QApplication>

namespace tamberly {

int runTamberly(int& argc, char** argv, const std::function<void(QWidget&)>& show) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tamberly"));
    QApplication::setApplicationDisplayName(QStringLiteral("Tamberly"));
    QApplication::setDesktopFileName(QStringLiteral("tamberly"));
    // Hidden to the notification area the window is not closed; only the program's own Quit ends it.
    QApplication::setQuitOnLastWindowClosed(false);

    RegistryFile registryFile(configDir() + "/registry.reg");
    // [Desktop] LeaveAlone=1 in prefs.ini keeps the desktop's proxy setting out of it: registry.reg only.
    const bool leaveDesktopAlone = ReadINI("Desktop", "LeaveAlone", configDir() + "/prefs.ini") == "1";
    DesktopRegistry registry(registryFile,
                             leaveDesktopAlone ? DesktopProxyOptions{} : DesktopProxyOptions::fromEnvironment());
    ProcessShell shell(&registry);
    BrowserLookup browserLookup;
    ClockRandomSource random;
    TamberlyServices services{registry, shell, browserLookup, random};
    if (!leaveDesktopAlone) {
        services.writtenSettings = registry.writtenSettings();
        services.openDesktopProxyPage = [&shell] { return openDesktopProxyPage(shell); };
    }
    Tamberly window(services);
    registry.setReporter([&window](const std::string& problem) { window.reportDesktopProblem(problem); });
    QApplication::setWindowIcon(window.windowIcon());
    show(window);
    return QApplication::exec();
}

} // namespace tamberly
