#pragma once

#include "net/proxy_check.h"

#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace tamberly {

class Settings;
class View;

/// "Check proxies": checks every row of the list on a thread of its own, counts in the status line meanwhile, and at
/// the end shows each row's verdict beside it. The rows and the proxy in force stay as they are.
class CheckProxies final {
public:
    /// Runs a function later on the window's thread; callable from any thread.
    using Post = std::function<void(std::function<void()>)>;

    CheckProxies(View& view, Settings& settings, Post post, CheckLimits limits = {});
    /// Abandons a running check.
    ~CheckProxies();
    CheckProxies(const CheckProxies&) = delete;
    CheckProxies& operator=(const CheckProxies&) = delete;

    /// Starts a check of every row; "Busy" while one runs.
    void checkProxies();
    /// Stops a running check at once and drops what it found (the program quits, or the rows are replaced).
    void abandon();
    bool running() const { return m_job != nullptr; }

private:
    struct Job;
    void refresh(const std::shared_ptr<Job>& job);
    void finish(const std::shared_ptr<Job>& job);

    View& m_view;
    Settings& m_settings;
    Post m_post;
    CheckLimits m_limits;
    std::shared_ptr<Job> m_job;
    std::thread m_worker;
};

} // namespace tamberly
