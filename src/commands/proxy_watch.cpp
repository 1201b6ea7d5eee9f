#include "commands/proxy_watch.h"

#include "commands/check_results.h"
#include "commands/proxy_commands.h"
#include "commands/view.h"
#include "core/settings.h"
#include "platform/system_proxy.h"
#include "platform/watch_timer.h"

#include <algorithm>
#include <set>
#include <utility>

namespace tamberly {
namespace {

std::string milliseconds(long ms) {
    return std::to_string(ms) + " ms";
}

} // namespace

WatchOptions WatchOptions::read(const Settings& settings) {
    const auto flag = [&settings](const char* key) { return settings.value("Watch", key) == "1"; };
    WatchOptions options;
    options.enabled = flag("Enabled");
    options.keepAnonymity = flag("KeepAnonymity");
    options.direct = flag("Direct");
    options.report = flag("Report");
    const std::string interval = settings.value("Watch", "Interval");
    if (!interval.empty() && interval.size() <= 6 && interval.find_first_not_of("0123456789") == std::string::npos)
        options.interval = std::max(kMinInterval, std::chrono::seconds(std::stol(interval)));
    return options;
}

ProxyWatch::ProxyWatch(View& view, SystemProxy& proxy, ProxyCommands& commands, const CheckResults& kept,
                       Settings& settings, WatchTimer& timer, ProxyProbe& probe,
                       std::function<void(const std::string&)> report)
    : m_view(view), m_proxy(proxy), m_commands(commands), m_kept(kept), m_settings(settings), m_timer(timer),
      m_probe(probe), m_report(std::move(report)) {}

bool ProxyWatch::enabled() const {
    return WatchOptions::read(m_settings).enabled;
}

void ProxyWatch::startUp(const std::optional<std::string>& entry) {
    m_options = WatchOptions::read(m_settings);
    if (!m_options.enabled)
        return;
    m_state = State::Paused;
    if (entry)
        proxyChanged(entry);
    else
        showTip();
}

void ProxyWatch::proxyChanged(const std::optional<std::string>& entry) {
    if (m_state == State::Off)
        return;
    m_probe.cancel();
    m_timer.disarm();
    m_timeouts = 0;
    m_saidOutside = false;
    m_saidNothing = false;
    m_backOffStep = 0;
    m_latencyMs = -1;
    m_watched = entry;
    if (!entry) {
        // Never a probe while the proxy is off: the next proxy put in force starts watching again.
        m_state = State::Paused;
        m_servers.reset();
        const std::string said = m_view.statusText();
        status((said.empty() ? "" : said + " ") + "Watching paused until a proxy is put in force.");
        showTip();
        return;
    }
    m_servers = parseProxyServers(*entry).servers;
    m_state = State::Waiting;
    showTip();
    probeNow();
}

void ProxyWatch::setEnabled(bool on, const std::optional<std::string>& inForce) {
    if (const std::string why = m_settings.setValue("Watch", "Enabled", on ? "1" : "0"); !why.empty()) {
        status("Keep me on a working proxy is unchanged: " + why);
        return;
    }
    if (!on) {
        stop();
        status("No longer watching the proxy in force.");
        return;
    }
    m_options = WatchOptions::read(m_settings);
    m_state = State::Paused;
    if (inForce) {
        status("Watching " + *inForce + ": one probe every " + std::to_string(m_options.interval.count()) + " s.");
        proxyChanged(inForce);
    } else {
        status("Watching starts when a proxy is put in force.");
        showTip();
    }
}

void ProxyWatch::stop() {
    m_probe.cancel();
    m_timer.disarm();
    m_state = State::Off;
    m_watched.reset();
    showTip();
}

void ProxyWatch::arm(std::chrono::milliseconds delay) {
    m_due = m_timer.now() + delay;
    m_timer.arm(delay, [this] { fired(); });
}

void ProxyWatch::fired() {
    // A hand-made change of prefs.ini counts from the watcher's next step on, as from a command's.
    m_settings.reload();
    m_options = WatchOptions::read(m_settings);
    if (!m_options.enabled) {
        stop();
        return;
    }
    if (m_timer.now() - m_due > kSleepSlack)
        m_waking = true;
    if (m_state == State::BackingOff)
        search(true);
    else if (m_state == State::Waiting || m_state == State::Outside)
        probeNow();
}

bool ProxyWatch::changedOutside() {
    const CurrentSetting current = m_proxy.current();
    // A setting that cannot be read is no sign of a change.
    if (!current.setting)
        return false;
    const ProxySetting& setting = *current.setting;
    const bool ours =
        m_servers ? setting.mode == ProxyMode::Manual && setting.servers == m_servers : setting.mode == ProxyMode::Off;
    if (ours) {
        m_saidOutside = false;
        return false;
    }
    if (!m_saidOutside) {
        m_saidOutside = true;
        status("Watching paused: the proxy setting was changed outside Tamberly, which leaves it as it is.");
    }
    m_state = State::Outside;
    showTip();
    return true;
}

void ProxyWatch::probeNow() {
    if (!m_watched)
        return;
    if (changedOutside()) {
        // Looked at again each interval, without a probe: watching goes on once the setting is Tamberly's again.
        arm(m_options.interval);
        return;
    }
    m_state = State::Probing;
    m_probe.probe({*m_watched}, kProbeTimeLimit, [this](ProbeReport report) { probed(report); });
}

void ProxyWatch::probed(const ProbeReport& report) {
    if (report.direct != ProbeReport::Direct::Answers)
        return networkDown(report);
    m_waking = false;
    const ProbeResult result = report.results.empty() ? ProbeResult{} : report.results.front();
    switch (result.verdict) {
    case ProbeResult::Verdict::Works:
        m_timeouts = 0;
        m_latencyMs = result.latencyMs;
        m_state = State::Waiting;
        showTip();
        arm(m_options.interval);
        return;
    case ProbeResult::Verdict::TimedOut:
        // One time-out may be a lost packet; a second one at once is not.
        if (++m_timeouts < 2)
            return probeNow();
        return failed();
    default:
        return failed();
    }
}

void ProxyWatch::networkDown(const ProbeReport& report) {
    m_timeouts = 0;
    m_state = State::Waiting;
    std::string which;
    if (m_waking)
        which = "waiting for the network since the computer woke";
    else if (report.direct == ProbeReport::Direct::NetworkDown)
        which = "the network is down";
    else
        which = (m_settings.value("Check", "URL").empty() ? "the list server" : "the test page's server") +
                std::string(" does not answer");
    status("Watching: " + which + " (" + report.why + "); no switch.");
    arm(kNetworkRetry);
}

void ProxyWatch::failed() {
    const std::string entry = *m_watched;
    m_timeouts = 0;
    // Its last time no longer stands.
    m_latencyMs = -1;
    m_failedAt[entry] = m_timer.now();
    m_failedEntry = entry;
    const KeptResult* kept = m_kept.find(entry);
    m_failedAnonymity = kept ? kept->anonymity : Anonymity::Unknown;
    if (m_options.report && m_report)
        m_report(entry);
    m_backOffStep = 0;
    search(true);
}

bool ProxyWatch::resting(const std::string& entry) const {
    const auto it = m_failedAt.find(entry);
    return it != m_failedAt.end() && m_timer.now() - it->second < kFailedRest;
}

void ProxyWatch::search(bool workingFirst) {
    std::vector<std::string> candidates;
    std::set<std::string> seen;
    const auto add = [&](std::string entry) {
        if (!resting(entry) && isProxyAddress(entry) && seen.insert(entry).second)
            candidates.push_back(std::move(entry));
    };
    const std::vector<int> working = m_kept.workingRows(m_view);
    if (workingFirst) {
        for (const int row : working)
            add(m_view.entry(row));
    } else {
        // The rest: what the first round held is not asked twice.
        for (const int row : working)
            seen.insert(m_view.entry(row));
        const int count = m_view.entryCount();
        for (int row = 0; row < count; ++row)
            add(m_view.entry(row));
    }
    if (candidates.empty())
        return workingFirst ? search(false) : nothingWorks();
    m_state = State::Searching;
    m_probe.probe(candidates, kProbeTimeLimit,
                  [this, candidates, workingFirst](ProbeReport report) { searched(report, candidates, workingFirst); });
}

void ProxyWatch::searched(const ProbeReport& report, const std::vector<std::string>& candidates, bool workingFirst) {
    if (report.direct != ProbeReport::Direct::Answers)
        return networkDown(report);
    std::optional<std::size_t> best;
    for (std::size_t i = 0; i < candidates.size() && i < report.results.size(); ++i) {
        const ProbeResult& result = report.results[i];
        if (result.verdict != ProbeResult::Verdict::Works)
            continue;
        if (m_options.keepAnonymity && m_failedAnonymity != Anonymity::Unknown) {
            const KeptResult* kept = m_kept.find(candidates[i]);
            const Anonymity grade = std::max(result.anonymity, kept ? kept->anonymity : Anonymity::Unknown);
            if (grade < m_failedAnonymity)
                continue;
        }
        if (!best || result.latencyMs < report.results[*best].latencyMs)
            best = i;
    }
    if (best)
        return switchTo(candidates[*best], report.results[*best].latencyMs);
    if (workingFirst)
        return search(false);
    nothingWorks();
}

void ProxyWatch::switchTo(const std::string& entry, long latencyMs) {
    if (changedOutside()) {
        arm(m_options.interval);
        return;
    }
    const std::string text = m_failedEntry == entry ? entry + " answers again (" + milliseconds(latencyMs) + ")"
                                                    : m_failedEntry + " stopped answering; now using " + entry + " (" +
                                                          milliseconds(latencyMs) + ")";
    if (!m_commands.putInForce(entry, text)) {
        // Told already; the next search may do better.
        m_state = State::BackingOff;
        arm(std::chrono::minutes(1));
        return;
    }
    m_view.notify(text);
    m_watched = entry;
    m_servers = parseProxyServers(entry).servers;
    m_latencyMs = latencyMs;
    m_timeouts = 0;
    m_saidNothing = false;
    m_backOffStep = 0;
    m_state = State::Waiting;
    showTip();
    arm(m_options.interval);
}

void ProxyWatch::nothingWorks() {
    if (!m_saidNothing) {
        m_saidNothing = true;
        std::string text = m_failedEntry + " stopped answering, and no other proxy of the list works";
        if (m_options.direct && m_servers && m_commands.switchOff()) {
            // Tamberly's own setting now: off, until a proxy that works is found.
            m_servers.reset();
            text += "; the proxy is off until one does.";
        } else {
            text += "; it stays in force.";
        }
        status(text);
        m_view.notify(text);
    }
    m_state = State::BackingOff;
    const auto wait =
        std::min<std::chrono::minutes>(std::chrono::minutes(1 << std::min(m_backOffStep, 4)), kLongestBackOff);
    ++m_backOffStep;
    showTip();
    arm(wait);
}

void ProxyWatch::showTip() {
    if (m_state == State::Off) {
        m_view.showWatchTip({});
        return;
    }
    if (!m_watched || m_state == State::Paused || m_state == State::Outside) {
        m_view.showWatchTip("Tamberly: watching paused");
        return;
    }
    std::string tip = "Tamberly: " + (m_servers ? *m_watched : std::string("no proxy"));
    if (m_latencyMs >= 0 && m_servers)
        tip += " (" + milliseconds(m_latencyMs) + ")";
    m_view.showWatchTip(tip);
}

void ProxyWatch::status(const std::string& text) {
    m_view.setStatus(text);
}

} // namespace tamberly
