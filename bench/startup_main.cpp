// The program as it starts for a user, quitting once its window has been shown: start-up time and peak memory.

#include "first_show.h"

#include "app/tamberly.h"
#include "platform/linux/browser_lookup.h"
#include "platform/linux/clock_random_source.h"
#include "platform/linux/process_shell.h"
#include "platform/linux/registry_file.h"
#include "platform/linux/user_paths.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tamberly"));
    QApplication::setApplicationDisplayName(QStringLiteral("Tamberly"));
    QApplication::setDesktopFileName(QStringLiteral("tamberly"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/tamberly.ico")));
    QApplication::setQuitOnLastWindowClosed(false);

    tamberly::RegistryFile registry(tamberly::configDir() + "/registry.reg");
    tamberly::ProcessShell shell;
    tamberly::BrowserLookup browserLookup;
    tamberly::ClockRandomSource random;
    tamberly::Tamberly window({registry, shell, browserLookup, random});
    tamberly::bench::showThenQuit(window);
    return QApplication::exec();
}
