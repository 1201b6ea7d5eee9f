#include "commands/check_proxies.h"

#include "commands/view.h"
#include "core/settings.h"

#include <atomic>
#include <vector>

namespace tamberly {

// What the checking thread shares with the window's thread.
struct CheckProxies::Job {
    Job(std::string url, CheckLimits limits, std::size_t total) : check(std::move(url), limits), total(total) {}
    ProxyCheck check;
    std::size_t total;
    std::atomic<std::size_t> done{0};
    std::atomic<std::size_t> working{0};
    // Set while a count is on its way to the window, so that thousands of results make few status updates.
    std::atomic<bool> refreshPosted{false};
    ProxyCheck::Outcome outcome; // written by the checking thread before it posts the finish
};

namespace {

std::string counting(std::size_t done, std::size_t total, std::size_t working) {
    return "Checking " + std::to_string(done) + " of " + std::to_string(total) + ": " + std::to_string(working) +
           " work";
}

} // namespace

CheckProxies::CheckProxies(View& view, Settings& settings, Post post, CheckLimits limits)
    : m_view(view), m_settings(settings), m_post(std::move(post)), m_limits(limits) {}

CheckProxies::~CheckProxies() {
    abandon();
}

void CheckProxies::checkProxies() {
    if (m_job) {
        m_view.setStatus("Busy");
        return;
    }
    std::vector<std::string> entries;
    const int count = m_view.entryCount();
    entries.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        entries.push_back(m_view.entry(i));
    m_view.clearMarks();
    if (entries.empty()) {
        m_view.setStatus("No proxies to check.");
        return;
    }

    auto job = std::make_shared<Job>(m_settings.checkUrl(), m_limits, entries.size());
    m_job = job;
    m_view.setStatus(counting(0, job->total, 0));
    m_worker = std::thread([this, job, entries = std::move(entries)] {
        job->outcome = job->check.run(entries, [this, &job](std::size_t, const CheckResult& result) {
            ++job->done;
            if (result.verdict == Verdict::Works)
                ++job->working;
            if (!job->refreshPosted.exchange(true))
                m_post([this, job] { refresh(job); });
        });
        if (!job->outcome.cancelled)
            m_post([this, job] { finish(job); });
    });
}

void CheckProxies::refresh(const std::shared_ptr<Job>& job) {
    job->refreshPosted = false;
    if (job == m_job)
        m_view.setStatus(counting(job->done, job->total, job->working));
}

void CheckProxies::finish(const std::shared_ptr<Job>& job) {
    if (job != m_job)
        return; // abandoned meanwhile
    m_worker.join();
    m_job.reset();
    const ProxyCheck::Outcome& outcome = job->outcome;
    if (!outcome.ok) {
        m_view.setStatus("Check failed: " + outcome.error);
        return;
    }
    std::vector<RowMark> marks;
    marks.reserve(outcome.results.size());
    std::size_t working = 0;
    for (const CheckResult& result : outcome.results) {
        const bool works = result.verdict == Verdict::Works;
        working += works ? 1 : 0;
        marks.push_back({works, works ? std::to_string(result.totalMs) + " ms" : verdictText(result.verdict)});
    }
    m_view.showMarks(std::move(marks));
    m_view.setStatus("Checked " + std::to_string(outcome.results.size()) + ": " + std::to_string(working) + " work");
}

void CheckProxies::abandon() {
    if (!m_job)
        return;
    m_job->check.cancel();
    if (m_worker.joinable())
        m_worker.join();
    m_job.reset();
}

} // namespace tamberly
