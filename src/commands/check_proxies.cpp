#include "commands/check_proxies.h"

#include "commands/check_results.h"
#include "commands/view.h"
#include "core/proxy_entry.h"
#include "core/settings.h"

#include <atomic>
#include <ctime>
#include <algorithm>
#include <mutex>
#include <optional>
#include <utility>

namespace tamberly {

// What the checking thread shares with the window's thread.
struct CheckProxies::Job {
    Job(TestPage page, CheckLimits limits, std::vector<std::string> entries)
        : check(std::move(page), limits), total(entries.size()), entries(std::move(entries)), marks(total),
          results(total) {}

    // Takes what the checking thread has found into the marks and the count; false when it found nothing new.
    bool takeFound();

    ProxyCheck check;
    const std::size_t total;
    // The rows' entries as the check read them; empty for a row that is no proxy address.
    const std::vector<std::string> entries;
    // Results found and not yet shown, in the order they came.
    std::mutex foundMutex;
    std::vector<std::pair<std::size_t, CheckResult>> found;
    // Set while a refresh is on its way to the window, so that thousands of results make few updates.
    std::atomic<bool> refreshPosted{false};
    ProxyCheck::Outcome outcome; // written by the checking thread before it ends
    // The window's thread only: the marks shown so far and the count.
    std::vector<RowMark> marks;
    std::vector<std::optional<CheckResult>> results;
    std::size_t done = 0;
    std::size_t working = 0;
};

namespace {

RowMark markOf(const CheckResult& result) {
    switch (result.verdict) {
    case Verdict::Works: {
        // The grades that are known, then the time: "elite · tunnel · 120 ms".
        std::string text;
        for (const char* grade : {anonymityText(result.anonymity), tunnelText(result.tunnel)})
            if (*grade)
                text += std::string(grade) + " \u00b7 ";
        return {true, text + std::to_string(result.totalMs) + " ms"};
    }
    case Verdict::BadEntry:
        // Nothing was sent: the row keeps the mark the list itself gives it.
        return {};
    default:
        return {false, verdictText(result.verdict)};
    }
}

std::string counting(std::size_t done, std::size_t total, std::size_t working) {
    return "Checking " + std::to_string(done) + " of " + std::to_string(total) + ": " + std::to_string(working) +
           " work";
}

} // namespace

bool CheckProxies::Job::takeFound() {
    std::vector<std::pair<std::size_t, CheckResult>> taken;
    {
        std::lock_guard lock(foundMutex);
        taken.swap(found);
    }
    for (const auto& [row, result] : taken) {
        marks[row] = markOf(result);
        results[row] = result;
        ++done;
        working += result.verdict == Verdict::Works ? 1 : 0;
    }
    return !taken.empty();
}

CheckProxies::CheckProxies(View& view, Settings& settings, CheckResults& kept, Post post, CheckLimits limits)
    : m_view(view), m_settings(settings), m_kept(kept), m_post(std::move(post)), m_limits(limits) {}

CheckProxies::~CheckProxies() {
    abandon();
}

void CheckProxies::checkProxies() {
    if (m_job) {
        const std::shared_ptr<Job> job = m_job;
        // The question waits in an event loop of its own, where the check may end meanwhile.
        if (m_view.ask("Proxies are being checked. Stop checking?", "Check proxies") == View::Answer::Yes &&
            m_job == job)
            stop();
        return;
    }
    std::vector<std::string> entries;
    const int count = m_view.entryCount();
    entries.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        std::string row = m_view.entry(i);
        // Only what the commands would put in force is checked; nothing is sent for the other rows.
        entries.push_back(isProxyAddress(row) ? std::move(row) : std::string());
    }
    m_view.clearMarks();
    if (entries.empty()) {
        m_view.setStatus("No proxies to check.");
        return;
    }

    auto job = std::make_shared<Job>(
        TestPage{m_settings.checkUrl(), m_settings.checkExpect(), m_settings.judgeUrl(), m_settings.tunnelHost()},
        m_limits, std::move(entries));
    m_job = job;
    m_view.setStatus(counting(0, job->total, 0));
    m_worker = std::thread([this, job] {
        job->outcome = job->check.run(job->entries, [this, &job](std::size_t row, const CheckResult& result) {
            {
                std::lock_guard lock(job->foundMutex);
                job->found.emplace_back(row, result);
            }
            if (!job->refreshPosted.exchange(true))
                m_post([this, job] { refresh(job); });
        });
        if (!job->outcome.cancelled)
            m_post([this, job] { finish(job); });
    });
}

void CheckProxies::refresh(const std::shared_ptr<Job>& job) {
    // Cleared before taking: a result found from here on posts a refresh of its own.
    job->refreshPosted = false;
    if (job != m_job || !job->takeFound())
        return;
    m_view.showMarks(job->marks);
    m_view.setStatus(counting(job->done, job->total, job->working));
}

void CheckProxies::finish(const std::shared_ptr<Job>& job) {
    if (job != m_job)
        return; // stopped or abandoned meanwhile
    endJob();
    conclude(*job);
}

void CheckProxies::stop() {
    if (!m_job)
        return;
    m_job->check.cancel();
    conclude(*endJob());
}

void CheckProxies::abandon() {
    if (!m_job)
        return;
    m_job->check.cancel();
    endJob();
}

std::shared_ptr<CheckProxies::Job> CheckProxies::endJob() {
    std::shared_ptr<Job> job = std::move(m_job);
    m_job.reset();
    if (m_worker.joinable())
        m_worker.join();
    return job;
}

void CheckProxies::conclude(Job& job) {
    const ProxyCheck::Outcome& outcome = job.outcome;
    job.takeFound();
    if (outcome.ok || outcome.cancelled)
        keep(job);
    if (outcome.ok) {
        // Every result has been found by now, the last ones perhaps after the last refresh.
        m_view.showMarks(std::move(job.marks));
        m_view.setStatus("Checked " + std::to_string(job.total) + ": " + std::to_string(job.working) + " work");
    } else if (outcome.cancelled) {
        m_view.showMarks(std::move(job.marks));
        m_view.setStatus("Check stopped at " + std::to_string(job.done) + " of " + std::to_string(job.total) + ": " +
                         std::to_string(job.working) + " work");
    } else {
        // The test URL failed before any proxy was asked: no row has a verdict.
        m_view.clearMarks();
        m_view.setStatus("Check failed: " + outcome.error);
    }
}

void CheckProxies::keep(Job& job) {
    const std::int64_t now = std::time(nullptr);
    std::vector<KeptResult> kept;
    for (std::size_t row = 0; row < job.total; ++row) {
        const auto& result = job.results[row];
        // Nothing was found out about a row that is no proxy address, nor about one the check did not reach.
        if (!result || result->verdict == Verdict::BadEntry || job.entries[row].empty())
            continue;
        kept.push_back({job.entries[row], result->verdict == Verdict::Works,
                        result->verdict == Verdict::Works ? result->totalMs : -1, result->anonymity, result->tunnel,
                        job.marks[row].text, now});
    }
    // An entry listed twice was checked once: one result each.
    std::sort(kept.begin(), kept.end(), [](const KeptResult& a, const KeptResult& b) { return a.entry < b.entry; });
    kept.erase(std::unique(kept.begin(), kept.end(),
                           [](const KeptResult& a, const KeptResult& b) { return a.entry == b.entry; }),
               kept.end());
    // A file that cannot be written costs the next start its marks, nothing more.
    m_kept.replace(std::move(kept));
    ++m_concluded;
}

} // namespace tamberly
