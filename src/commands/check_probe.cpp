#include "commands/check_probe.h"

#include "core/settings.h"
#include "net/proxy_check.h"

#include <utility>

namespace tamberly {
namespace {

ProbeResult::Verdict probeVerdict(Verdict verdict) {
    switch (verdict) {
    case Verdict::Works:
        return ProbeResult::Verdict::Works;
    case Verdict::Refused:
        return ProbeResult::Verdict::Refused;
    case Verdict::TimedOut:
        return ProbeResult::Verdict::TimedOut;
    default:
        return ProbeResult::Verdict::Failed;
    }
}

bool mentions(const std::string& text, const char* word) {
    return text.find(word) != std::string::npos;
}

// The engine names why the direct fetch failed in words; a name that does not resolve, a route that does not exist
// or a fetch that never ends means this machine cannot get out.
ProbeReport::Direct directFailure(const std::string& why) {
    if (mentions(why, "resolve") || mentions(why, "imeout") || mentions(why, "timed out") ||
        mentions(why, "unreachable") || mentions(why, "No route"))
        return ProbeReport::Direct::NetworkDown;
    return ProbeReport::Direct::ServerDown;
}

} // namespace

// What the probing thread shares with the window's thread.
struct CheckProbe::Job {
    Job(TestPage page, CheckLimits limits) : check(page, limits), directCheck(directOnly(page), limits) {}
    static TestPage directOnly(TestPage page) {
        page.direct = TestPage::Direct::Only;
        return page;
    }
    void cancel() {
        check.cancel();
        directCheck.cancel();
    }
    ProxyCheck check;
    // The page without any proxy, asked only after a lone proxy failed: was it the proxy, or the way out?
    ProxyCheck directCheck;
};

CheckProbe::CheckProbe(Settings& settings, Post post) : m_settings(settings), m_post(std::move(post)) {}

CheckProbe::~CheckProbe() {
    cancel();
}

void CheckProbe::probe(std::vector<std::string> entries, std::chrono::milliseconds timeLimit, Done done) {
    cancel();
    CheckLimits limits;
    limits.timeLimit = timeLimit;
    TestPage page{m_settings.checkUrl(), m_settings.checkExpect()};
    // The proxy in force alone, with a text to look for, is asked without the direct fetch first: one GET an
    // interval while it works.
    const bool alone = entries.size() == 1 && !page.expect.empty();
    if (alone)
        page.direct = TestPage::Direct::Skip;
    auto job = std::make_shared<Job>(std::move(page), limits);
    m_job = job;
    m_worker = std::thread([this, job, alone, entries = std::move(entries), done = std::move(done)]() mutable {
        ProxyCheck::Outcome outcome = job->check.run(entries);
        if (outcome.cancelled)
            return;
        if (alone && outcome.ok && !outcome.results.empty() && outcome.results.front().verdict != Verdict::Works) {
            const ProxyCheck::Outcome direct = job->directCheck.run({});
            if (direct.cancelled)
                return;
            if (!direct.ok) {
                outcome.ok = false;
                outcome.error = direct.error;
            }
        }
        ProbeReport report;
        if (!outcome.ok && !entries.empty()) {
            report.direct = directFailure(outcome.error);
            report.why = outcome.error;
        } else {
            for (const CheckResult& result : outcome.results)
                report.results.push_back({probeVerdict(result.verdict), result.totalMs, result.anonymity});
        }
        m_post([this, job, report = std::move(report), done = std::move(done)]() mutable {
            // A probe cancelled or replaced meanwhile reports nothing.
            if (job != m_job)
                return;
            m_job.reset();
            done(std::move(report));
        });
    });
}

void CheckProbe::cancel() {
    if (m_job)
        m_job->cancel();
    m_job.reset();
    if (m_worker.joinable())
        m_worker.join();
}

} // namespace tamberly
