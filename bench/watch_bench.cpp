// The watcher's figures over the real check engine and real proxies on 127.0.0.1, each proxy and the test page in a
// process of its own, so the watcher's CPU time is its own:
//   tamberly_bench_watch switch   the milliseconds from a proxy's death, just after a probe, to the switch
//   tamberly_bench_watch idle S   S seconds of watching a working proxy: probes, timer wake-ups, CPU milliseconds
// Both watch at the least interval, 15 s.

#include "commands/commands.h"
#include "commands/check_probe.h"
#include "core/proxy_list_store.h"
#include "core/settings.h"
#include "platform/watch_timer.h"
#include "support/fake_platform.h"
#include "support/fake_view.h"
#include "support/http_test_server.h"
#include "support/temp_dir.h"
#include "support/test_proxy.h"

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <string>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace std::chrono;
using namespace tamberly;

namespace {

// The window's thread in small: one timer and the tasks posted from other threads.
class Loop final : public WatchTimer {
public:
    int timerWakeups = 0;
    int posted = 0;

    void arm(milliseconds delay, std::function<void()> fire) override {
        m_due = steady_clock::now() + delay;
        m_fire = std::move(fire);
    }
    void disarm() override {
        m_due.reset();
        m_fire = nullptr;
    }
    milliseconds now() const override { return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()); }

    void post(std::function<void()> task) {
        std::lock_guard lock(m_mutex);
        m_tasks.push_back(std::move(task));
        m_wake.notify_one();
    }

    /// Runs timers and posted tasks until done() holds or the deadline passes; done()'s last answer.
    bool runUntil(const std::function<bool()>& done, steady_clock::time_point deadline) {
        while (!done()) {
            std::unique_lock lock(m_mutex);
            const auto wakeAt = m_due ? std::min(*m_due, deadline) : deadline;
            m_wake.wait_until(lock, wakeAt, [this] { return !m_tasks.empty(); });
            if (!m_tasks.empty()) {
                auto task = std::move(m_tasks.front());
                m_tasks.pop_front();
                lock.unlock();
                ++posted;
                task();
                continue;
            }
            lock.unlock();
            if (m_due && steady_clock::now() >= *m_due) {
                m_due.reset();
                auto fire = std::move(m_fire);
                ++timerWakeups;
                fire();
                continue;
            }
            if (steady_clock::now() >= deadline)
                return done();
        }
        return true;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_tasks;
    std::optional<steady_clock::time_point> m_due;
    std::function<void()> m_fire;
};

// A process serving on 127.0.0.1: a forwarding proxy, or the test page; its port.
struct Child {
    pid_t pid = -1;
    int port = 0;
};

Child startChild(bool page) {
    int ports[2];
    if (::pipe(ports) != 0)
        return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(ports[0]);
        std::optional<test::TestProxy> proxy;
        std::optional<test::HttpTestServer> server;
        int port = 0;
        if (page) {
            server.emplace();
            server->get(".*", [](const httplib::Request&, httplib::Response& res) {
                res.set_content("tamberly-bench-page", "text/plain");
            });
            server->start();
            port = server->port();
        } else {
            proxy.emplace(test::TestProxy::Mode::Forward);
            port = proxy->port();
        }
        if (::write(ports[1], &port, sizeof port) != sizeof port)
            ::_exit(1);
        for (;;)
            ::pause();
    }
    ::close(ports[1]);
    Child child{pid, 0};
    if (::read(ports[0], &child.port, sizeof child.port) != sizeof child.port)
        child.port = 0;
    ::close(ports[0]);
    return child;
}

void stopChild(Child& child) {
    if (child.pid > 0) {
        ::kill(child.pid, SIGKILL);
        ::waitpid(child.pid, nullptr, 0);
        child.pid = -1;
    }
}

double cpuMs() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec * 1e3 + usage.ru_utime.tv_usec / 1e3 + usage.ru_stime.tv_sec * 1e3 +
           usage.ru_stime.tv_usec / 1e3;
}

std::string entry(const Child& child) {
    return "127.0.0.1:" + std::to_string(child.port);
}

} // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode != "switch" && mode != "idle") {
        std::fprintf(stderr, "usage: tamberly_bench_watch switch | idle SECONDS\n");
        return 2;
    }
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 60;
    // The servers first, before this process has any thread of its own to lose in a fork.
    Child page = startChild(true);
    Child first = startChild(false);
    Child second = startChild(false);
    if (!page.port || !first.port || !second.port) {
        std::fprintf(stderr, "the servers did not start\n");
        return 1;
    }

    int result = 0;
    {
        test::TempDir dir;
        Settings settings(dir.file("prefs.ini"));
        settings.setValue("Check", "URL", "http://127.0.0.1:" + std::to_string(page.port) + "/check");
        settings.setValue("Watch", "Enabled", "1");
        settings.setValue("Watch", "Interval", "15");
        ProxyListStore(settings).save(entry(first) + "*" + entry(second) + "*");
        test::FakeView view;
        test::FakePlatform platform;
        platform.proxy.setting = ProxySetting::manual(*parseProxyServers(entry(first)).servers);
        Loop loop;
        CheckProbe probe(settings, [&loop](std::function<void()> task) { loop.post(std::move(task)); });
        Commands commands(view, platform, settings, {}, {&loop, &probe});
        commands.startUp();
        // The first probe loads the engine: the figures start after it.
        const auto measured = [&view] { return view.watchTip.find(" ms)") != std::string::npos; };
        if (!loop.runUntil(measured, steady_clock::now() + 30s)) {
            std::fprintf(stderr, "the first probe did not answer: %s\n", view.status.c_str());
            result = 1;
        } else if (mode == "switch") {
            stopChild(first);
            const auto died = steady_clock::now();
            if (loop.runUntil([&platform] { return !platform.proxy.applied.empty(); }, died + 60s))
                std::printf("switch %lld\n",
                            static_cast<long long>(duration_cast<milliseconds>(steady_clock::now() - died).count()));
            else
                result = 1;
            std::fprintf(stderr, "%s\n", view.status.c_str());
        } else {
            const double cpuBefore = cpuMs();
            const int wakeupsBefore = loop.timerWakeups;
            const int postedBefore = loop.posted;
            loop.runUntil([] { return false; }, steady_clock::now() + std::chrono::seconds(seconds));
            std::printf("seconds %d\nprobes %d\nwakeups %d\ncpu_ms %.3f\n", seconds, loop.posted - postedBefore,
                        loop.timerWakeups - wakeupsBefore, cpuMs() - cpuBefore);
        }
        commands.abandonCheck();
    }
    stopChild(first);
    stopChild(second);
    stopChild(page);
    return result;
}
