#pragma once

// The transfer as the Qt program builds it, for the tests that run the commands against real servers: libcurl's
// client waiting in the window's event loop, inside the platform in memory; and a watcher that acts from inside
// that loop once the server has seen a request.

#include "app/event_loop_wait.h"
#include "net/curl_http_transfer.h"
#include "support/fake_platform.h"
#include "support/transfer_routes.h"

#include <QTimer>

#include <chrono>
#include <cstdint>
#include <functional>

namespace tamberly::test {

/// The platform in memory, but for the program's real HTTP client as the Qt program builds it.
class TransferPlatform final : public Platform {
public:
    explicit TransferPlatform(TransferLimits limits = {}) : http(EventLoopWait::factory(), limits) {}

    FakePlatform fakes;
    CurlHttpTransfer http;

    SystemProxy& systemProxy() override { return fakes.proxy; }
    Launcher& launcher() override { return fakes.launcher_; }
    HttpTransfer& transfer() override { return http; }
    RandomSource& random() override { return fakes.random_; }
    SessionStart& sessionStart() override { return fakes.sessionStart_; }
    std::string cacheFolder() override { return fakes.cache; }
};

/// Runs action once, from inside the event loop, as soon as ready() is true (looked at every few milliseconds).
class RequestWatcher {
public:
    RequestWatcher(std::function<bool()> ready, std::function<void()> action) {
        m_timer.callOnTimeout([this, ready = std::move(ready), action = std::move(action)] {
            if (!ready())
                return;
            m_timer.stop();
            action();
        });
        m_timer.start(5);
    }
    /// As soon as the server has received `count` requests.
    RequestWatcher(const HttpTestServer& server, std::size_t count, std::function<void()> action)
        : RequestWatcher([&server, count] { return server.requestCount() >= count; }, std::move(action)) {}

private:
    QTimer m_timer;
};

} // namespace tamberly::test
