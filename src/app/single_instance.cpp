#include "app/single_instance.h"

#include "platform/linux/instance_lock.h"

#include <QSocketNotifier>

#include <cstdio>
#include <cstdlib>

namespace tamberly {

ShowRequests::ShowRequests(InstanceLock& lock, std::function<void()> show) : m_lock(lock), m_show(std::move(show)) {
    if (m_lock.listener() < 0)
        return;
    m_notifier = new QSocketNotifier(m_lock.listener(), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        const auto token = m_lock.takeRequest();
        if (!token)
            return;
        // A window may take the focus on Wayland only with the token of the launch the user just made; Qt reads it
        // from the environment when the window asks for the focus. X11's startup notification goes the same way.
        if (!token->empty()) {
            qputenv("XDG_ACTIVATION_TOKEN", QByteArray::fromStdString(*token));
            qputenv("DESKTOP_STARTUP_ID", QByteArray::fromStdString(*token));
        }
        m_show();
    });
}

int showRunningInstance(InstanceLock& lock, const std::string& settingsFolder) {
    const char* token = std::getenv("XDG_ACTIVATION_TOKEN");
    if (!token || !*token)
        token = std::getenv("DESKTOP_STARTUP_ID");
    if (lock.askFirstToShow(token ? token : ""))
        return 0;
    std::fprintf(stderr, "Tamberly is already running for the settings in %s, but %s.\n", settingsFolder.c_str(),
                 lock.why().c_str());
    return 1;
}

} // namespace tamberly
