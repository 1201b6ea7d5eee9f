#pragma once

// The watcher's clock, timer and probe in memory: time passes only when a test says so, and each probe waits for
// the test to answer it.

#include "commands/proxy_probe.h"
#include "platform/watch_timer.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tamberly::test {

class FakeWatchTimer final : public WatchTimer {
public:
    std::chrono::milliseconds clock{1'000'000};
    std::optional<std::chrono::milliseconds> due;
    /// Every delay armed, in order.
    std::vector<std::chrono::milliseconds> delays;

    void arm(std::chrono::milliseconds delay, std::function<void()> fire) override {
        due = clock + delay;
        delays.push_back(delay);
        m_fire = std::move(fire);
    }
    void disarm() override {
        due.reset();
        m_fire = nullptr;
    }
    std::chrono::milliseconds now() const override { return clock; }

    /// Lets time pass to the armed timer (unless it has passed already), and late beyond it (a computer that
    /// slept), and fires it; false when none is armed.
    bool fire(std::chrono::milliseconds late = {}) {
        if (!due)
            return false;
        clock = std::max(clock, *due) + late;
        due.reset();
        auto fire = std::move(m_fire);
        m_fire = nullptr;
        fire();
        return true;
    }

private:
    std::function<void()> m_fire;
};

/// Answers each probe when the test says so, from what it was told: the direct fetch, and each entry's result
/// (refused when not told).
class FakeProbe final : public ProxyProbe {
public:
    ProbeReport::Direct direct = ProbeReport::Direct::Answers;
    std::map<std::string, ProbeResult> through;
    /// The entries of every probe, in order.
    std::vector<std::vector<std::string>> asked;
    std::vector<std::chrono::milliseconds> limits;

    void probe(std::vector<std::string> entries, std::chrono::milliseconds timeLimit, Done done) override {
        asked.push_back(entries);
        limits.push_back(timeLimit);
        m_pending = std::move(entries);
        m_done = std::move(done);
    }
    void cancel() override { m_done = nullptr; }
    bool pending() const { return m_done != nullptr; }

    /// Answers the probe under way; false when there is none.
    bool answer() {
        if (!m_done)
            return false;
        ProbeReport report;
        report.direct = direct;
        if (direct == ProbeReport::Direct::Answers) {
            for (const std::string& entry : m_pending) {
                const auto it = through.find(entry);
                report.results.push_back(it == through.end() ? ProbeResult{ProbeResult::Verdict::Refused, 3, {}}
                                                             : it->second);
            }
        } else {
            report.why = "as the test says";
        }
        auto done = std::move(m_done);
        m_done = nullptr;
        done(std::move(report));
        return true;
    }
    /// Answers probes until none is under way (a second probe may follow the first at once).
    void settle() {
        for (int i = 0; i < 20 && answer(); ++i) {
        }
    }

private:
    std::vector<std::string> m_pending;
    Done m_done;
};

inline ProbeResult works(long ms, Anonymity anonymity = Anonymity::Unknown) {
    return {ProbeResult::Verdict::Works, ms, anonymity};
}
inline ProbeResult timesOut() {
    return {ProbeResult::Verdict::TimedOut, 5000, {}};
}

} // namespace tamberly::test
