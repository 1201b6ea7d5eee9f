#include "app/run_tamberly.h"

#include "app/tamberly.h"
#include "platform/linux/browser_lookup.h"
#include "platform/linux/clock_random_source.h"
#include "platform/linux/process_shell.h"
#include "platform/linux/registry_file.h"
#include "platform/linux/user_paths.h"

#include <QApplication>

namespace tamberly {

int runTamberly(int& argc, char** argv, const std::function<void(QWidget&)>& show) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tamberly"));
    QApplication::setApplicationDisplayName(QStringLiteral("Tamberly"));
    QApplication::setDesktopFileName(QStringLiteral("tamberly"));
    // Hidden to the notification area the window is not closed; only the program's own Quit ends it.
    QApplication::setQuitOnLastWindowClosed(false);

    RegistryFile registry(configDir() + "/registry.reg");
    ProcessShell shell;
    BrowserLookup browserLookup;
    ClockRandomSource random;
    Tamberly window({registry, shell, browserLookup, random});
    QApplication::setWindowIcon(window.windowIcon());
    show(window);
    return QApplication::exec();
}

} // namespace tamberly
