#include "app/run_tamberly.h"

#include "app/app.h"
#include "app/event_loop_wait.h"
#include "app/single_instance.h"
#include "app/tray_icon.h"
#include "core/settings.h"
#include "net/curl_http_transfer.h"
#include "platform/linux/instance_lock.h"
#include "platform/linux/user_paths.h"
#include "platform/platform.h"

#include <QApplication>

#include <cstdio>
#include <string_view>

namespace tamberly {

int runTamberly(int& argc, char** argv, const std::function<void(QWidget&)>& show) {
    // Read before anything starts; every other argument is Qt's (-platform, ...).
    bool hidden = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--hidden") {
            hidden = true;
        } else if (argument == "--help" || argument == "-h") {
            std::fputs("Usage: tamberly [--hidden]\n"
                       "Switches the web proxy from a list of proxy servers.\n\n"
                       "  --hidden  Start in the notification area, with no window shown.\n"
                       "  --help    Show this help and end.\n",
                       stdout);
            return 0;
        }
    }

    // One program per settings folder: a later start brings the running window forward and ends there.
    InstanceLock instance(configDir(), runtimeDir());
    if (instance.role() == InstanceLock::Role::Second) {
        // A session start finds the program running already: it stays as it is.
        return hidden ? 0 : showRunningInstance(instance, configDir());
    }

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tamberly"));
    QApplication::setApplicationDisplayName(QStringLiteral("Tamberly"));
    QApplication::setDesktopFileName(QStringLiteral("org.tamberly.Tamberly"));
    // Hidden to the notification area the window is not closed; only the program's own Quit ends it.
    QApplication::setQuitOnLastWindowClosed(false);

    // The program's pieces, chosen here and nowhere else; prefs.ini is read once for all of start-up.
    const std::string folder = configDir();
    Settings settings(folder + "/prefs.ini");
    // The requests run on libcurl's thread while the window's event loop waits for them, so the window keeps
    // answering.
    const std::unique_ptr<Platform> platform = createPlatform(
        {folder, settings.leaveDesktopAlone(), std::make_unique<CurlHttpTransfer>(EventLoopWait::factory())});
    QtTrayIcon tray;
    App app(settings, *platform, tray, [] { QApplication::exit(0); });
    ShowRequests showRequests(instance, [&app] { app.window().restore(); });
    QApplication::setWindowIcon(app.window().windowIcon());
    if (hidden)
        app.window().startHidden();
    else
        show(app.window());
    return QApplication::exec();
}

} // namespace tamberly
