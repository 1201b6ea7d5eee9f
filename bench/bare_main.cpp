// The baseline of start-up time and peak memory: a Qt program that shows an empty main window, then quits.
// With --text the window shows one line of text, so it loads the fonts as every window with words does.

#include "first_show.h"

#include <QApplication>
#include <QLabel>
#include <QMainWindow>

#include <cstring>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QMainWindow window;
    if (argc > 1 && std::strcmp(argv[1], "--text") == 0)
        window.setCentralWidget(new QLabel(QStringLiteral("Tamberly"), &window));
    tamberly::bench::showThenQuit(window);
    return QApplication::exec();
}
