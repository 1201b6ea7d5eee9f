#pragma once

// Ends a start-up measurement: the program ends as soon as its window has been exposed and painted once. It ends
// at once, without tearing anything down, so what is timed is the start-up alone.

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <cstdio>
#include <cstdlib>

namespace tamberly::bench {

class QuitOnFirstExpose final : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* window = qobject_cast<QWindow*>(watched);
        if (event->type() == QEvent::Expose && window && window->isExposed() && !m_seen) {
            m_seen = true;
            // Queued: the expose is handled (the window painted and flushed) first.
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [] {
                    std::fflush(nullptr);
                    std::_Exit(0);
                },
                Qt::QueuedConnection);
        }
        return false;
    }

private:
    bool m_seen = false;
};

/// Shows window and ends the program once it has been painted; a window never shown ends it with exit code 3
/// after limitMs.
inline void showThenQuit(QWidget& window, int limitMs = 20'000) {
    window.winId(); // creates the platform window, so the filter sees its first expose
    auto* probe = new QuitOnFirstExpose(&window);
    window.windowHandle()->installEventFilter(probe);
    QTimer::singleShot(limitMs, QCoreApplication::instance(), [] {
        std::fputs("the window was never shown\n", stderr);
        QCoreApplication::exit(3);
    });
    window.show();
}

} // namespace tamberly::bench
