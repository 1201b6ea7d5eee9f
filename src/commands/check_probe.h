#pragma once

#include "commands/proxy_probe.h"

#include <functional>
#include <memory>
#include <thread>

namespace tamberly {

class Settings;

/// The probe over the check engine: each probe is a check of its entries on a thread of its own, whose report is
/// posted back to the window's thread. The engine (libcurl) is loaded by the first probe, not before.
class CheckProbe final : public ProxyProbe {
public:
    /// Runs a function later on the window's thread; callable from any thread.
    using Post = std::function<void(std::function<void()>)>;

    /// settings names the test page ([Check] URL and Expect), read at each probe.
    CheckProbe(Settings& settings, Post post);
    /// Drops a probe under way.
    ~CheckProbe() override;
    CheckProbe(const CheckProbe&) = delete;
    CheckProbe& operator=(const CheckProbe&) = delete;

    void probe(std::vector<std::string> entries, std::chrono::milliseconds timeLimit, Done done) override;
    void cancel() override;

private:
    struct Job;
    Settings& m_settings;
    Post m_post;
    std::shared_ptr<Job> m_job;
    std::thread m_worker;
};

} // namespace tamberly
