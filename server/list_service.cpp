#include "list_service.h"

#include "entry.h"
#include "proxy_store.h"

#include <algorithm>
#include <ctime>
#include <stdexcept>

namespace tamberly {
namespace {

constexpr std::string_view kListPath = "/Tamberly/update.php";
constexpr std::string_view kAddPath = "/Tamberly/addproxy.php";
constexpr std::string_view kDeadPath = "/Tamberly/deadproxy.php";
constexpr std::string_view kPagePath = "/Tamberly/index.php";
constexpr std::string_view kCheckPath = "/Tamberly/check.php";
// The page's own form sends this field beside the proxy, so its visitor gets a page where the program gets "OK".
constexpr std::string_view kFromField = "from";
constexpr std::string_view kFromPage = "page";
constexpr const char* kPageStyle = "<style>\n"
                                   "body { font-family: sans-serif; margin: 2em; max-width: 50em; }\n"
                                   "table { border-collapse: collapse; }\n"
                                   "th, td { padding: 0.2em 1em 0.2em 0; border-bottom: 1px solid #ccc; "
                                   "text-align: left; }\n"
                                   "</style>\n";
// How soon the page shows the checks that other servers on the database made.
constexpr auto kOtherServersChecks = std::chrono::seconds(30);
constexpr const char* kPagePolicy = "default-src 'none'; style-src 'unsafe-inline'; form-action 'self'";

Reply text(int status, std::string body) {
    Reply reply;
    reply.status = status;
    reply.body = std::move(body);
    return reply;
}

// The entry of the one proxy parameter in its stored form, or a reply refusing the request. A submission must also
// be an entry the list takes; a report only names one.
bool proxyEntry(const QueryParams& params, std::string& entry, Reply& refusal, bool submission, bool allowPrivate) {
    const auto count = params.count("proxy");
    if (count != 1) {
        refusal = text(400, count == 0 ? "missing proxy parameter" : "more than one proxy parameter");
        return false;
    }
    const std::string& raw = params.find("proxy")->second;
    auto check = submission ? checkSubmission(raw, allowPrivate) : checkEntry(raw);
    if (!check.ok) {
        refusal = text(400, check.reason);
        return false;
    }
    entry = std::move(check.entry);
    return true;
}

std::string utcTime(std::int64_t seconds) {
    const std::time_t time = static_cast<std::time_t>(seconds);
    std::tm parts{};
    char buffer[32] = "?";
    if (gmtime_r(&time, &parts))
        std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M", &parts);
    return buffer;
}

// The page's view of an entry's last check.
std::string lastCheck(const ProxyRecord& record) {
    if (record.checkedAt == 0)
        return "not checked yet";
    if (record.checkMs >= 0)
        return "works, " + std::to_string(record.checkMs) + " ms, " + utcTime(record.checkedAt);
    return "failed (" + record.checkNote + "), " + utcTime(record.checkedAt);
}

std::int64_t systemTime() {
    return static_cast<std::int64_t>(std::time(nullptr));
}

bool fromPage(const QueryParams& params) {
    const auto field = params.find(std::string(kFromField));
    return params.count(std::string(kFromField)) == 1 && field->second == kFromPage;
}

// A visitor's answer to the page's form: the outcome as a page of its own (status and headers as the program's
// answer has them) with the way back to the list.
Reply formAnswer(Reply plain, std::string_view heading, std::string_view outcome) {
    plain.contentType = "text/html; charset=utf-8";
    plain.body = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>" +
                 escapeHtml(heading) + " - Tamberly proxy list</title>\n" + kPageStyle + "</head>\n<body>\n<h1>" +
                 escapeHtml(heading) + "</h1>\n<p>" + escapeHtml(outcome) +
                 "</p>\n<p><a href=\"index.php\">Back to the proxy list</a></p>\n</body>\n</html>\n";
    plain.headers.emplace_back("Cache-Control", "no-store");
    plain.headers.emplace_back("Content-Security-Policy", kPagePolicy);
    return plain;
}

} // namespace

std::string escapeHtml(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

ListService::ListService(ProxyStore& store, ServiceOptions options, std::optional<ReporterSecret> secret, Clock clock,
                         ProxyStore* pageStore)
    : m_store(store), m_pageStore(pageStore), m_options(options), m_secret(std::move(secret)),
      m_clock(clock ? std::move(clock) : Clock(systemTime)) {
    std::lock_guard lock(m_writeMutex);
    rebuildList();
}

struct ListService::Pages {
    std::vector<std::shared_ptr<const std::string>> pages;
};

Reply ListService::handle(std::string_view method, std::string_view path, const QueryParams& params,
                          const std::string& client) {
    if (method != "GET" && method != "HEAD") {
        Reply reply = text(405, "only GET and HEAD are served");
        reply.headers.emplace_back("Allow", "GET, HEAD");
        return reply;
    }
    if (path == "/" || path == "/Tamberly" || path == "/Tamberly/") {
        // The list's own address, typed without the page's name, leads to the page.
        Reply reply = text(302, "the proxy list is at /Tamberly/index.php");
        reply.headers.emplace_back("Location", std::string(kPagePath));
        return reply;
    }
    try {
        if (path == kListPath) {
            Reply reply;
            reply.body = listText()->joined();
            reply.headers.emplace_back("Cache-Control", "no-cache");
            return reply;
        }
        if (path == kAddPath)
            return submit(params);
        if (path == kDeadPath)
            return reportDead(params, client);
        if (path == kPagePath)
            return page(params);
        if (path == kCheckPath) {
            // The proxy check's test URL: fixed, tiny, no database; never from a cache, which would hide a dead
            // proxy behind a stored answer.
            Reply reply = text(200, "tamberly-check-ok");
            reply.headers.emplace_back("Cache-Control", "no-store");
            return reply;
        }
    } catch (const std::exception& error) {
        return storeFailure(error);
    }
    return text(404, "Not Found");
}

Reply ListService::submit(const QueryParams& params) {
    const bool visitor = fromPage(params);
    constexpr std::string_view kNotAdded = "The proxy was not added";
    std::string entry;
    Reply refusal;
    if (!proxyEntry(params, entry, refusal, true, m_options.allowPrivateEntries)) {
        if (!visitor)
            return refusal;
        const auto proxy = params.find("proxy");
        const std::string outcome = params.count("proxy") == 1
                                        ? "\"" + proxy->second + "\" is not a proxy address: " + refusal.body + "."
                                    : params.count("proxy") == 0 ? "No proxy was sent."
                                                                 : "More than one proxy was sent.";
        return formAnswer(std::move(refusal), kNotAdded, outcome);
    }
    ProxyStore::AddResult result;
    try {
        std::lock_guard lock(m_writeMutex);
        result = m_store.add(entry, m_options.moderate, m_clock(), m_options.maxPending, m_options.verify);
        if ((result == ProxyStore::AddResult::Added || result == ProxyStore::AddResult::Readded) &&
            !m_options.moderate && !m_options.verify && listed(entry))
            setList(listText()->with(entry));
        if (result != ProxyStore::AddResult::AlreadyKnown)
            m_pageStale = true;
        if (m_options.verify && m_checkRequested &&
            (result == ProxyStore::AddResult::Added || result == ProxyStore::AddResult::Readded))
            m_checkRequested(); // its first check, at once
    } catch (const std::exception& error) {
        if (!visitor)
            throw;
        Reply failure = storeFailure(error);
        const std::string outcome = entry + " could not be added: " + failure.body + ".";
        return formAnswer(std::move(failure), kNotAdded, outcome);
    }
    if (result == ProxyStore::AddResult::TooManyPending) {
        Reply full = text(503, m_options.moderate ? "too many proxies are waiting for approval; try again later"
                                                  : "too many proxies are waiting for their check; try again later");
        full.headers.emplace_back("Retry-After", "3600");
        if (!visitor)
            return full;
        return formAnswer(std::move(full), kNotAdded,
                          m_options.moderate ? "Too many proxies are waiting for approval. Please try again later."
                                             : "Too many proxies are waiting for their check. Please try again later.");
    }
    if (!visitor)
        return text(200, "OK");
    if (result == ProxyStore::AddResult::AlreadyKnown)
        return formAnswer(text(200, "OK"), "The proxy is already known",
                          entry + " was sent before: nothing was changed.");
    return formAnswer(
        text(200, "OK"), "The proxy was added",
        m_options.moderate ? entry + " was received. It appears on the list once the list's keeper has approved it."
        : m_options.verify ? entry + " was received. It appears on the list once a check through it works."
                           : entry + " was added to the list.");
}

Reply ListService::reportDead(const QueryParams& params, const std::string& client) {
    std::string entry;
    Reply refusal;
    if (!proxyEntry(params, entry, refusal, false, m_options.allowPrivateEntries))
        return refusal;
    if (!m_secret)
        throw std::logic_error("reports need the reporter secret");
    std::lock_guard lock(m_writeMutex);
    if (m_options.verify) {
        // The check decides, not the number of voices: a working proxy stays whoever reports it.
        const auto asked = m_store.askForCheck(entry, m_clock());
        if (asked == ProxyStore::ReportResult::Unknown)
            return text(404, "this proxy is not on the list");
        if (asked == ProxyStore::ReportResult::Counted && m_checkRequested)
            m_checkRequested();
        return text(200, "OK");
    }
    DeadReport report{m_secret->hash(client), m_clock(), m_options.reportWindow, m_options.deadAfter};
    switch (m_store.report(entry, report)) {
    case ProxyStore::ReportResult::Unknown:
        return text(404, "this proxy is not on the list");
    case ProxyStore::ReportResult::Withdrawn:
        // The list in memory may lag behind the database (a change elsewhere not yet read): then the database's
        // list is read again rather than trusting the search.
        if (auto shorter = listText()->without(entry))
            setList(std::move(shorter));
        else
            m_refreshDue = true;
        m_pageStale = true;
        break;
    case ProxyStore::ReportResult::Counted:
        m_pageStale = true; // the page shows the count
        break;
    case ProxyStore::ReportResult::Repeated:
    case ProxyStore::ReportResult::AlreadyWithdrawn:
        break;
    }
    return text(200, "OK");
}

std::shared_ptr<const ListService::Pages> ListService::currentPages() {
    auto pages = m_pages.load(std::memory_order_acquire);
    if (pages && !m_pageStale)
        return pages;
    // One request renders; the others go on serving the last page meanwhile (or wait for the first one).
    std::unique_lock lock(m_pageMutex, std::defer_lock);
    if (!pages)
        lock.lock();
    else if (!lock.try_lock())
        return pages;
    pages = m_pages.load(std::memory_order_acquire);
    const auto now = std::chrono::steady_clock::now();
    if (pages && (!m_pageStale || now - m_pageRendered < std::chrono::seconds(1)))
        return pages;
    m_pageStale = false; // before reading, so that a change made meanwhile shows on the next one
    std::vector<ProxyRecord> records;
    try {
        if (m_pageStore) {
            records = m_pageStore->entries(ProxyState::Published);
        } else {
            std::lock_guard write(m_writeMutex);
            records = m_store.entries(ProxyState::Published);
        }
    } catch (...) {
        m_pageStale = true;
        throw;
    }
    pages = renderPages(records);
    m_pages.store(pages, std::memory_order_release);
    m_pageRendered = now;
    return pages;
}

std::shared_ptr<const ListService::Pages> ListService::renderPages(const std::vector<ProxyRecord>& published) const {
    std::vector<const ProxyRecord*> shown;
    shown.reserve(published.size());
    for (const auto& record : published) {
        // The page shows what the list publishes; a row edited by hand into anything else is shown escaped.
        if (!isStoredForm(record.entry) || listed(record.entry))
            shown.push_back(&record);
    }
    const std::size_t count = std::max<std::size_t>(1, (shown.size() + kPageEntries - 1) / kPageEntries);
    auto pages = std::make_shared<Pages>();
    for (std::size_t number = 1; number <= count; ++number) {
        const std::size_t first = (number - 1) * kPageEntries;
        const std::size_t last = std::min(shown.size(), first + kPageEntries);
        std::string html;
        html.reserve(4096 + (last - first) * 96);
        html += "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                "<title>Tamberly proxy list</title>\n";
        html += kPageStyle;
        html += "</head>\n<body>\n<h1>Tamberly proxy list</h1>\n";
        const std::string window = m_options.reportWindow % 3600 == 0
                                       ? std::to_string(m_options.reportWindow / 3600) + " hours"
                                       : std::to_string(m_options.reportWindow) + " seconds";
        html += "<p>" + std::to_string(shown.size()) + (shown.size() == 1 ? " proxy is" : " proxies are") +
                " on the list. ";
        html += m_options.verify ? std::string("The server checks every proxy before it is listed and again from time "
                                               "to time; a proxy leaves the list after three failed checks in a row, "
                                               "or when a check asked for by a report fails.</p>\n")
                                 : "A proxy leaves the list when " + std::to_string(m_options.deadAfter) +
                                       (m_options.deadAfter == 1 ? " user reports" : " different users report") +
                                       " within " + window + " that it no longer works.</p>\n";
        std::string navigation;
        if (count > 1) {
            navigation = "<p>Page " + std::to_string(number) + " of " + std::to_string(count);
            if (number > 1)
                navigation += " <a href=\"index.php?page=" + std::to_string(number - 1) + "\">Previous</a>";
            if (number < count)
                navigation += " <a href=\"index.php?page=" + std::to_string(number + 1) + "\">Next</a>";
            navigation += "</p>\n";
        }
        html += navigation;
        if (shown.empty()) {
            html += "<p>The list is empty.</p>\n";
        } else {
            html += m_options.verify ? "<table>\n<thead><tr><th>Proxy</th><th>Added (UTC)</th><th>Last check "
                                       "(UTC)</th></tr></thead>\n<tbody>\n"
                                     : "<table>\n<thead><tr><th>Proxy</th><th>Added (UTC)</th><th>Reports</th></tr>"
                                       "</thead>\n<tbody>\n";
            for (std::size_t i = first; i < last; ++i) {
                const ProxyRecord& record = *shown[i];
                html += "<tr><td>" + escapeHtml(record.entry) + "</td><td>" + escapeHtml(utcTime(record.addedAt)) +
                        "</td><td>" +
                        (m_options.verify ? escapeHtml(lastCheck(record)) : std::to_string(record.reports)) +
                        "</td></tr>\n";
            }
            html += "</tbody>\n</table>\n";
        }
        html += navigation;
        html += "<h2>Add a proxy</h2>\n"
                "<p>In Tamberly, choose \"Proxy\", \"Add a new proxy\" and type the proxy as host:port, for example "
                "203.0.113.7:8080. A host is a name, an IPv4 address or an IPv6 address in brackets, as in "
                "[2001:db8::1]:8080. Or send it from here:</p>\n"
                "<form action=\"addproxy.php\" method=\"get\">\n"
                "<input name=\"proxy\" maxlength=\"255\" placeholder=\"host:port\" required>\n"
                "<input type=\"hidden\" name=\"from\" value=\"page\">\n"
                "<button type=\"submit\">Add</button>\n</form>\n";
        html += m_options.moderate ? "<p>New proxies appear on the list once the list's keeper has approved them.</p>\n"
                                   : "<p>New proxies appear on the list at once.</p>\n";
        html += "<p>To get the list, choose \"Proxy\", \"Download List\" in Tamberly.</p>\n</body>\n</html>\n";
        pages->pages.push_back(std::make_shared<const std::string>(std::move(html)));
    }
    return pages;
}

Reply ListService::page(const QueryParams& params) {
    const auto pages = currentPages();
    std::size_t number = 1;
    if (params.count("page") > 0) {
        const std::string& wanted = params.find("page")->second;
        const bool digits = params.count("page") == 1 && !wanted.empty() && wanted.size() <= 9 &&
                            wanted.find_first_not_of("0123456789") == std::string::npos;
        number = digits ? std::stoul(wanted) : 0;
        if (number < 1 || number > pages->pages.size())
            return text(404, "there is no such page of the list");
    }
    Reply reply;
    reply.contentType = "text/html; charset=utf-8";
    reply.sharedBody = pages->pages[number - 1];
    reply.headers.emplace_back("Cache-Control", "no-cache");
    reply.headers.emplace_back("Content-Security-Policy", kPagePolicy);
    return reply;
}

Reply ListService::storeFailure(const std::exception& error) {
    if (m_errorSink)
        m_errorSink(error.what());
    const auto* storeError = dynamic_cast<const StoreError*>(&error);
    if (storeError && storeError->unavailable()) {
        Reply reply = text(503, "the list's database is not reachable, try again later");
        reply.headers.emplace_back("Retry-After", "5");
        return reply;
    }
    if (storeError && storeError->busy()) {
        Reply reply = text(503, "the list is busy, try again");
        reply.headers.emplace_back("Retry-After", "1");
        return reply;
    }
    return text(500, "the list server failed; see its log");
}

void ListService::refreshIfChangedElsewhere() {
    // Checks made by another server change no entry's state, so no notification tells of them: the page reads them
    // again now and then.
    const auto now = std::chrono::steady_clock::now();
    if (m_options.verify && now - m_checksShown >= kOtherServersChecks) {
        m_checksShown = now;
        m_pageStale = true;
    }
    std::lock_guard lock(m_writeMutex);
    if (m_store.changedElsewhere())
        m_refreshDue = true;
    if (!m_refreshDue)
        return;
    try {
        rebuildList();
    } catch (const StoreError& error) {
        // The store has told the loss of its database once; the next call tries again.
        if (error.unavailable())
            return;
        throw;
    }
    m_refreshDue = false;
}

std::vector<std::string> ListService::takeDueChecks(std::int64_t now, std::int64_t lease, int limit,
                                                    std::int64_t period) {
    std::lock_guard lock(m_writeMutex);
    m_store.scheduleChecks(now, period, limit * 64);
    return m_store.takeDueChecks(now, lease, limit);
}

bool ListService::recordCheck(const std::string& entry, const CheckReport& report) {
    std::lock_guard lock(m_writeMutex);
    const auto outcome = m_store.recordCheck(entry, report);
    if (outcome == ProxyStore::CheckOutcome::Unknown)
        return false;
    m_pageStale = true; // the page shows the check
    if (outcome == ProxyStore::CheckOutcome::Published && listed(entry))
        setList(listText()->with(entry));
    if (outcome == ProxyStore::CheckOutcome::Withdrawn) {
        if (auto shorter = listText()->without(entry))
            setList(std::move(shorter));
        else
            m_refreshDue = true;
    }
    return outcome == ProxyStore::CheckOutcome::Withdrawn;
}

void ListService::waitForChange(std::chrono::milliseconds timeout) {
    m_store.waitForChange(timeout);
}

void ListService::setErrorSink(std::function<void(const std::string&)> sink) {
    m_errorSink = sink;
    if (m_pageStore)
        m_pageStore->setLog(sink);
    m_store.setLog(std::move(sink));
}

bool ListService::listed(const std::string& entry) const {
    // A row edited by hand into something that is not an entry would break the list text for every client; a row
    // stored before the list's rules refused it stays in the database, off the list (see the withdrawn command).
    return isStoredForm(entry) && listPolicyFault(entry, m_options.allowPrivateEntries).empty();
}

void ListService::rebuildList() {
    std::vector<std::string> entries;
    for (auto& record : m_store.entries(ProxyState::Published)) {
        if (listed(record.entry))
            entries.push_back(std::move(record.entry));
    }
    setList(ListText::make(entries));
    m_pageStale = true;
}

void ListService::setList(std::shared_ptr<const ListText> list) {
    m_list.store(std::move(list), std::memory_order_release);
}

} // namespace tamberly
