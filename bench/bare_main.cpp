// The baselines of start-up time and peak memory: a Qt program that shows a window, then quits.
// No argument: an empty main window. --text: one line of text, so it loads the fonts as every window with words
// does. --widgets: the same widgets as Tamberly's window (menu bar with its menus, label, list view, button) with
// nothing loaded: the least a correct start-up must do.

#include "first_show.h"

#include <QApplication>
#include <QLabel>
#include <QListView>
#include <QMainWindow>
#include <QMenuBar>
#include <QPushButton>
#include <QStringListModel>
#include <QVBoxLayout>

#include <cstring>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QMainWindow window;
    const char* mode = argc > 1 ? argv[1] : "";
    if (std::strcmp(mode, "--text") == 0) {
        window.setCentralWidget(new QLabel(QStringLiteral("Tamberly"), &window));
    } else if (std::strcmp(mode, "--widgets") == 0) {
        QMenu* file = window.menuBar()->addMenu(QStringLiteral("File"));
        file->addAction(QStringLiteral("Exit"));
        QMenu* proxy = window.menuBar()->addMenu(QStringLiteral("Proxy"));
        proxy->addMenu(QStringLiteral("Internet Explorer"));
        auto* client = new QWidget(&window);
        auto* layout = new QVBoxLayout(client);
        layout->addWidget(new QLabel(QStringLiteral("Tamberly"), client));
        auto* view = new QListView(client);
        view->setModel(new QStringListModel(view));
        layout->addWidget(view);
        layout->addWidget(new QPushButton(QStringLiteral("Use and launch"), client));
        window.setCentralWidget(client);
    }
    tamberly::bench::showThenQuit(window);
    return QApplication::exec();
}
