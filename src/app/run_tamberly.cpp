#include "app/run_tamberly.h"

#include "app/app.h"
#include "platform/linux/browser_lookup.h"
#include "platform/clock_random_source.h"
#include "platform/linux/desktop_proxy_page.h"
#include "platform/linux/desktop_registry.h"
#include "platform/linux/process_shell.h"
#include "platform/linux/registry_file.h"
#include "platform/linux/user_paths.h"
#include "platform/qt/qt_dialogs.h"
#include "platform/qt/qt_transfer_control.h"
#include "platform/qt/tray_icon.h"
#include "storage/ini_file.h"

#include <QApplication>

namespace tamberly {

int runTamberly(int& argc, char** argv, const std::function<void(QWidget&)>& show) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tamberly"));
    QApplication::setApplicationDisplayName(QStringLiteral("Tamberly"));
    QApplication::setDesktopFileName(QStringLiteral("tamberly"));
    // Hidden to the notification area the window is not closed; only the program's own Quit ends it.
    QApplication::setQuitOnLastWindowClosed(false);

    // The platform pieces, built here and nowhere else.
    RegistryFile registryFile(configDir() + "/registry.reg");
    // [Desktop] LeaveAlone=1 in prefs.ini keeps the desktop's proxy setting out of it: registry.reg only.
    const bool leaveDesktopAlone = ReadINI("Desktop", "LeaveAlone", configDir() + "/prefs.ini") == "1";
    DesktopRegistry registry(registryFile,
                             leaveDesktopAlone ? DesktopProxyOptions{} : DesktopProxyOptions::fromEnvironment());
    ProcessShell shell(&registry);
    BrowserLookup browserLookup;
    ClockRandomSource random;
    QtDialogs dialogs;
    QtTransferControl transfer;
    QtTrayIcon tray;
    AppPlatform platform{registry, shell,    browserLookup, random,
                         dialogs,  transfer, tray,          [] { QApplication::exit(0); }};
    if (!leaveDesktopAlone) {
        platform.writtenSettings = registry.writtenSettings();
        platform.openDesktopProxyPage = [&shell] { return openDesktopProxyPage(shell); };
    }

    App app(std::move(platform));
    Tamberly& window = app.window();
    dialogs.setParent(&window);
    registry.setReporter([&window](const std::string& problem) { window.reportDesktopProblem(problem); });
    QApplication::setWindowIcon(window.windowIcon());
    show(window);
    const int result = QApplication::exec();
    // The window goes before the registry that reports to it.
    registry.setReporter({});
    return result;
}

} // namespace tamberly
