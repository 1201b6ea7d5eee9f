#include "app/run_tamberly.h"

#include "app/app.h"
#include "app/event_loop_wait.h"
#include "app/tray_icon.h"
#include "core/settings.h"
#include "net/curl_http_transfer.h"
#include "platform/linux/user_paths.h"
#include "platform/platform.h"

#include <QApplication>

namespace tamberly {

int runTamberly(int& argc, char** argv, const std::function<void(QWidget&)>& show) {
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
    QApplication::setWindowIcon(app.window().windowIcon());
    show(app.window());
    return QApplication::exec();
}

} // namespace tamberly
