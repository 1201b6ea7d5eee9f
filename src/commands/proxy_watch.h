#pragma once

#include "commands/proxy_probe.h"
#include "core/proxy_entry.h"

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tamberly {

class CheckResults;
class ProxyCommands;
class Settings;
class SystemProxy;
class View;
class WatchTimer;

/// prefs.ini [Watch], read anew whenever the watcher acts.
struct WatchOptions {
    /// Enabled=1: "Keep me on a working proxy" is checked.
    bool enabled = false;
    /// Interval: seconds between two probes of the proxy in force; at least kMinInterval.
    std::chrono::seconds interval{60};
    /// KeepAnonymity=1: a new proxy must be at least as anonymous as the one that failed.
    bool keepAnonymity = false;
    /// Direct=1: with no proxy that works, turn the proxy off rather than keep the dead one.
    bool direct = false;
    /// Report=1: report a proxy that stopped answering to the list server.
    bool report = false;

    static constexpr std::chrono::seconds kMinInterval{15};
    static WatchOptions read(const Settings& settings);
};

/// "Keep me on a working proxy": while a proxy that Tamberly put in force is in force, fetches the test page
/// through it every interval, and when it stops answering switches to the fastest entry of the list that works,
/// the way "Use this proxy" does. It never overrides a setting the user made outside Tamberly, never switches
/// because another entry is faster, and does nothing between two probes.
class ProxyWatch final {
public:
    /// The time limit of one fetch; a proxy fails after one refusal or two time-outs in a row.
    static constexpr std::chrono::seconds kProbeTimeLimit{5};
    /// A proxy that failed is not chosen again for this long.
    static constexpr std::chrono::minutes kFailedRest{10};
    /// The wait between two searches when no entry works: 1, 2, 4, 8, then 15 minutes.
    static constexpr std::chrono::minutes kLongestBackOff{15};
    /// How long to wait for the network to come back before asking again.
    static constexpr std::chrono::seconds kNetworkRetry{15};
    /// A timer that fires this much later than due missed time: the computer slept.
    static constexpr std::chrono::seconds kSleepSlack{30};

    /// report sends a dead entry to the list server.
    ProxyWatch(View& view, SystemProxy& proxy, ProxyCommands& commands, const CheckResults& kept, Settings& settings,
               WatchTimer& timer, ProxyProbe& probe, std::function<void(const std::string&)> report);
    ProxyWatch(const ProxyWatch&) = delete;
    ProxyWatch& operator=(const ProxyWatch&) = delete;

    bool enabled() const;
    /// Start-up: watches entry, the proxy found in force that the list holds, when watching is on.
    void startUp(const std::optional<std::string>& entry);
    /// A command put entry in force (nullopt: turned the proxy off): watching follows it, or pauses.
    void proxyChanged(const std::optional<std::string>& entry);
    /// "Keep me on a working proxy" checked or unchecked; inForce is what Tamberly has in force now.
    void setEnabled(bool on, const std::optional<std::string>& inForce);
    /// Stops every timer and probe (the program quits).
    void stop();

    /// The entry watched now; nullopt while paused with the proxy off.
    const std::optional<std::string>& watched() const { return m_watched; }

private:
    enum class State {
        Off,        // watching is off
        Paused,     // no proxy of Tamberly's is in force: nothing runs
        Outside,    // the setting was changed outside Tamberly: only the setting is looked at, each interval
        Waiting,    // the next probe is armed
        Probing,    // a probe of the watched entry is under way
        Searching,  // candidates are being probed
        BackingOff, // nothing worked: the next search is armed
    };

    void arm(std::chrono::milliseconds delay);
    void fired();
    void probeNow();
    void probed(const ProbeReport& report);
    // The watched entry failed: report it, then look for another.
    void failed();
    void search(bool workingFirst);
    void searched(const ProbeReport& report, const std::vector<std::string>& candidates, bool workingFirst);
    void switchTo(const std::string& entry, long latencyMs);
    void nothingWorks();
    // True, after saying so once, when the setting in force is not the one Tamberly put.
    bool changedOutside();
    bool resting(const std::string& entry) const;
    // The direct fetch failed: say which is down; no switch.
    void networkDown(const ProbeReport& report);
    void showTip();
    void status(const std::string& text);

    View& m_view;
    SystemProxy& m_proxy;
    ProxyCommands& m_commands;
    const CheckResults& m_kept;
    Settings& m_settings;
    WatchTimer& m_timer;
    ProxyProbe& m_probe;
    std::function<void(const std::string&)> m_report;
    WatchOptions m_options;

    State m_state = State::Off;
    std::optional<std::string> m_watched;
    // The servers Tamberly put in force for m_watched, to notice a change made outside.
    std::optional<ProxyServers> m_servers;
    std::chrono::milliseconds m_due{0};
    int m_timeouts = 0;
    long m_latencyMs = -1;
    bool m_waking = false;
    bool m_saidOutside = false;
    bool m_saidNothing = false;
    // The entry that failed last, and its grade, while a replacement is searched.
    std::string m_failedEntry;
    Anonymity m_failedAnonymity = Anonymity::Unknown;
    // When each failed entry failed.
    std::map<std::string, std::chrono::milliseconds> m_failedAt;
    int m_backOffStep = 0;
};

} // namespace tamberly
