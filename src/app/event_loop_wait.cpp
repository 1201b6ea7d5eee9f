#include "app/event_loop_wait.h"

#include <QMetaObject>

#include <memory>

namespace tamberly {

bool EventLoopWait::run() {
    // A wake-up that came first has already posted the quit, which the loop takes as soon as it runs. Once the
    // application quits, a new loop returns at once.
    if (!m_woken)
        m_loop.exec();
    return m_woken;
}

void EventLoopWait::wake() {
    m_woken = true;
    // Posted to the loop's own thread; posting is safe from any thread.
    QMetaObject::invokeMethod(&m_loop, &QEventLoop::quit, Qt::QueuedConnection);
}

TransferWaitFactory EventLoopWait::factory() {
    return [] { return std::make_unique<EventLoopWait>(); };
}

} // namespace tamberly
