// A KDE program's write of one of its configuration files, slowed down: takes the file's lock with Qt's QLockFile
// (as KConfig does), reads the file, creates FILE.held to say it holds the lock, waits, then sets one key in
// [General] and replaces the file. A writer that does not wait for the lock loses its change to this one.
//
//   kde_lock_holder FILE MILLISECONDS KEY VALUE
#include <QByteArray>
#include <QFile>
#include <QLockFile>
#include <QSaveFile>
#include <QThread>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: kde_lock_holder FILE MILLISECONDS KEY VALUE\n");
        return 2;
    }
    const QString path = QString::fromLocal8Bit(argv[1]);
    QLockFile lock(path + ".lock");
    if (!lock.lock())
        return 1;
    QFile in(path);
    QByteArray text = in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
    QFile held(path + ".held");
    if (!held.open(QIODevice::WriteOnly))
        return 1;
    held.close();
    QThread::msleep(std::strtoul(argv[2], nullptr, 10));

    const QByteArray line = QByteArray(argv[3]) + "=" + argv[4] + "\n";
    const int group = text.indexOf("[General]\n");
    if (group >= 0)
        text.insert(group + 10, line);
    else
        text.append("[General]\n" + line);
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(text) != text.size() || !out.commit())
        return 1;
    lock.unlock();
    return 0;
}
