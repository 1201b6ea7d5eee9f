#pragma once

#include "net/proxy_check.h"

#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace tamberly {

class CheckMarks;
class ListBox;
class StatusLine;

/// "Check proxies": checks every row of `Proxydisplay` on a thread of its own, counts in the status line meanwhile,
/// and at the end shows each row's verdict beside it. The rows and the proxy in force stay as they are.
class CheckCommand final {
public:
    /// Runs a function later on the window's thread; callable from any thread.
    using Post = std::function<void(std::function<void()>)>;

    CheckCommand(ListBox& display, StatusLine& status, CheckMarks& marks, Post post, const std::string& iniPath,
                 CheckLimits limits = {});
    /// Abandons a running check.
    ~CheckCommand();
    CheckCommand(const CheckCommand&) = delete;
    CheckCommand& operator=(const CheckCommand&) = delete;

    /// Starts a check of every row; "Busy" while one runs.
    void Mnucheck_Click();
    /// Stops a running check at once and drops what it found (the program quits, or the rows are replaced).
    void abandon();
    bool running() const { return m_job != nullptr; }

private:
    struct Job;
    void refresh(const std::shared_ptr<Job>& job);
    void finish(const std::shared_ptr<Job>& job);

    ListBox& m_display;
    StatusLine& m_status;
    CheckMarks& m_marks;
    Post m_post;
    const std::string& m_iniPath;
    CheckLimits m_limits;
    std::shared_ptr<Job> m_job;
    std::thread m_worker;
};

} // namespace tamberly
