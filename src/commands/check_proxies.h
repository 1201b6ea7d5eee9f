#pragma once

#include "net/proxy_check.h"

#include <functional>
#include <memory>
#include <thread>

namespace tamberly {

class CheckResults;
class Settings;
class View;

/// "Check proxies": checks every row of the list on a thread of its own, and shows each row's verdict beside it as
/// soon as it is known, with the count in the status line. The rows and the proxy in force stay as they are.
class CheckProxies final {
public:
    /// Runs a function later on the window's thread; callable from any thread.
    using Post = std::function<void(std::function<void()>)>;

    /// kept receives what each check found when it ends, also when it is stopped.
    CheckProxies(View& view, Settings& settings, CheckResults& kept, Post post, CheckLimits limits = {});
    /// Abandons a running check.
    ~CheckProxies();
    CheckProxies(const CheckProxies&) = delete;
    CheckProxies& operator=(const CheckProxies&) = delete;

    /// Starts a check of every row; while one runs, offers to stop it.
    void checkProxies();
    /// "Stop checking": ends a running check; the rows checked so far keep their marks, and the status line says how
    /// far it got. Nothing when no check runs.
    void stop();
    /// Stops a running check at once and drops what it found (the program quits, or the rows are replaced).
    void abandon();
    bool running() const { return m_job != nullptr; }
    /// Counts the checks that ended with results kept, so a caller can tell that the kept results changed.
    int concluded() const { return m_concluded; }

private:
    struct Job;
    // Brings the marks and the count up to what the checking thread has found.
    void refresh(const std::shared_ptr<Job>& job);
    void finish(const std::shared_ptr<Job>& job);
    // Ends the running job's thread; the job is no longer the running one.
    std::shared_ptr<Job> endJob();
    // Shows how an ended job ended: its verdicts and count, how far it got, or why it failed.
    void conclude(Job& job);

    // Keeps what an ended job found, for the next start and the commands that use it.
    void keep(Job& job);

    View& m_view;
    Settings& m_settings;
    CheckResults& m_kept;
    int m_concluded = 0;
    Post m_post;
    CheckLimits m_limits;
    std::shared_ptr<Job> m_job;
    std::thread m_worker;
};

} // namespace tamberly
