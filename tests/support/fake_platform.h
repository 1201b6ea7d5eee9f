#pragma once

// The platform in memory for the commands' tests: each port records what it was asked and answers as told.

#include "platform/http_transfer.h"
#include "platform/launcher.h"
#include "platform/platform.h"
#include "platform/random_source.h"
#include "platform/session_start.h"
#include "platform/system_proxy.h"

#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace tamberly::test {

/// Keeps the setting in memory: apply() merges a change into it the way the system does.
class FakeSystemProxy final : public SystemProxy {
public:
    /// What current() reports, and what apply() changes.
    ProxySetting setting{ProxyMode::Off, ProxyServers{}, std::vector<std::string>{}, {}};
    /// Every change applied, in order.
    std::vector<ProxySetting> applied;
    int reads = 0;
    /// Set: the record cannot be written; this is the sentence of the failure, and nothing changes.
    std::string recordFailure;
    /// Set: the record is written, but a desktop place fails with this sentence.
    std::string desktopProblem;
    /// Set: current() fails with this reason.
    std::string readFailure;
    std::vector<std::string> placeNames = {"registry.reg", "the desktop"};
    /// false: there is no page of the system's own, so the program's window opens.
    bool hasSettingsPage = true;
    int pagesOpened = 0;
    std::vector<std::string>* log = nullptr;

    CurrentSetting current() override {
        ++reads;
        if (!readFailure.empty())
            return {std::nullopt, readFailure};
        return {setting, {}};
    }
    ApplyOutcome apply(const ProxySetting& change) override {
        applied.push_back(change);
        if (log)
            log->push_back("apply " + describe(change));
        ApplyOutcome outcome;
        if (!recordFailure.empty()) {
            outcome.backends.push_back({"registry.reg", BackendOutcome::State::Failed, recordFailure});
            return outcome;
        }
        setting.mode = change.mode;
        if (change.servers)
            setting.servers = change.servers;
        if (change.bypass)
            setting.bypass = change.bypass;
        setting.autoConfigUrl = change.autoConfigUrl;
        outcome.backends.push_back({"registry.reg", BackendOutcome::State::Written, {}});
        outcome.backends.push_back(
            {"the desktop", desktopProblem.empty() ? BackendOutcome::State::Written : BackendOutcome::State::Failed,
             desktopProblem});
        return outcome;
    }
    std::vector<std::string> places() const override { return placeNames; }
    bool openSettingsPage() override {
        ++pagesOpened;
        return hasSettingsPage;
    }

    /// "manual SERVERS", "off" or "off SERVERS", "auto URL": a change in one word or two.
    static std::string describe(const ProxySetting& s) {
        const std::string servers = s.servers ? " " + formatProxyServers(*s.servers) : std::string();
        switch (s.mode) {
        case ProxyMode::Off:
            return "off" + servers;
        case ProxyMode::Manual:
            return "manual" + servers;
        case ProxyMode::Automatic:
            return "auto " + s.autoConfigUrl;
        }
        return "?";
    }
};

class FakeLauncher final : public Launcher {
public:
    struct Launch {
        std::string program;
        std::vector<std::string> arguments;
        EnvironmentChange environment;
    };
    std::vector<Launch> launches;
    struct Opened {
        std::string url;
        std::string browser;
        EnvironmentChange environment;
    };
    std::vector<Opened> opened;
    LaunchError result = LaunchError::None;
    std::string found;
    int lookups = 0;
    std::vector<std::string>* log = nullptr;

    LaunchError launch(const std::string& program, const std::vector<std::string>& arguments,
                       const EnvironmentChange& environment) override {
        launches.push_back({program, arguments, environment});
        if (log)
            log->push_back("launch " + program);
        return result;
    }
    LaunchError openUrl(const std::string& url, const std::string& browser,
                        const EnvironmentChange& environment) override {
        opened.push_back({url, browser, environment});
        if (log)
            log->push_back("open " + url);
        return result;
    }
    std::string findBrowser() override {
        ++lookups;
        return found;
    }
};

/// Answers each get() with answer(url) and records the URLs; busy() is true while the answer runs, as with the real
/// one, so an answer may run another command "in flight".
class FakeTransfer final : public HttpTransfer {
public:
    std::function<TransferResult(const std::string&)> answer = [](const std::string&) {
        return TransferResult{true, {}, {}};
    };
    std::vector<std::string> urls;
    bool isBusy = false;
    bool busy() const override { return isBusy; }
    TransferResult get(const std::string& url) override {
        urls.push_back(url);
        isBusy = true;
        TransferResult result = answer(url);
        isBusy = false;
        return result;
    }
};

/// Returns the queued numbers in turn (0 when none is left) and counts reseeds.
class FakeRandom final : public RandomSource {
public:
    std::deque<double> draws;
    int reseeds = 0;
    void reseedFromClock() override { ++reseeds; }
    double next() override {
        if (draws.empty())
            return 0.0;
        const double r = draws.front();
        draws.pop_front();
        return r;
    }
};

/// Keeps the entry's state in memory; a set failure refuses every change.
class FakeSessionStart final : public SessionStart {
public:
    bool on = false;
    std::string failure;
    bool enabled() const override { return on; }
    std::string setEnabled(bool wanted) override {
        if (failure.empty())
            on = wanted;
        return failure;
    }
};

class FakePlatform final : public Platform {
public:
    FakeSystemProxy proxy;
    FakeLauncher launcher_;
    FakeTransfer transfer_;
    FakeRandom random_;
    FakeSessionStart sessionStart_;
    /// Where the last check's results are kept; a test sets its own folder.
    std::string cache;

    SystemProxy& systemProxy() override { return proxy; }
    Launcher& launcher() override { return launcher_; }
    HttpTransfer& transfer() override { return transfer_; }
    RandomSource& random() override { return random_; }
    SessionStart& sessionStart() override { return sessionStart_; }
    std::string cacheFolder() override { return cache; }
};

} // namespace tamberly::test
