#pragma once

#include "net/check_grades.h"

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace tamberly {

/// What one fetch of the test page through a proxy found.
struct ProbeResult {
    enum class Verdict {
        Works,
        Refused,  // the proxy refused the connection
        TimedOut, // no whole answer within the time limit
        Failed,   // any other failure: a wrong answer, a password asked for, an unknown host
    };
    Verdict verdict = Verdict::Failed;
    long latencyMs = -1;
    Anonymity anonymity = Anonymity::Unknown;
};

/// A probe's findings: whether the test page answered directly, and when it did, each entry's result.
struct ProbeReport {
    enum class Direct {
        Answers,
        NetworkDown, // no way out: the name did not resolve, or nothing answered in time
        ServerDown,  // the network works, but the test page's server refused or answered wrongly
    };
    Direct direct = Direct::Answers;
    /// Why the direct fetch failed, for the user.
    std::string why;
    /// One result per entry probed, in order; empty unless the test page answered directly.
    std::vector<ProbeResult> results;
};

/// Fetches the test page directly and through proxies: the watcher's eyes.
class ProxyProbe {
public:
    using Done = std::function<void(ProbeReport)>;
    virtual ~ProxyProbe() = default;
    /// Fetches the test page directly, then through each entry at once, each fetch within timeLimit, and hands the
    /// report to done on the window's thread. One probe at a time: a new one replaces one still under way, whose
    /// report never comes.
    virtual void probe(std::vector<std::string> entries, std::chrono::milliseconds timeLimit, Done done) = 0;
    /// Drops a probe under way: its report never comes.
    virtual void cancel() = 0;
};

} // namespace tamberly
