#include "list_service.h"

#include "entry.h"
#include "proxy_store.h"

#include <ctime>

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
constexpr const char* kPagePolicy = "default-src 'none'; style-src 'unsafe-inline'; form-action 'self'";

Reply text(int status, std::string body) {
    Reply reply;
    reply.status = status;
    reply.body = std::move(body);
    return reply;
}

// The entry of the one proxy parameter in its stored form, or a reply refusing the request.
bool proxyEntry(const QueryParams& params, std::string& entry, Reply& refusal) {
    const auto count = params.count("proxy");
    if (count != 1) {
        refusal = text(400, count == 0 ? "missing proxy parameter" : "more than one proxy parameter");
        return false;
    }
    auto check = checkEntry(params.find("proxy")->second);
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

ListService::ListService(ProxyStore& store, ServiceOptions options, Clock clock)
    : m_store(store), m_options(options), m_clock(clock ? std::move(clock) : Clock(systemTime)) {
    std::lock_guard lock(m_writeMutex);
    rebuildList();
}

Reply ListService::handle(std::string_view method, std::string_view path, const QueryParams& params) {
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
            reply.body = *listText();
            reply.headers.emplace_back("Cache-Control", "no-cache");
            return reply;
        }
        if (path == kAddPath)
            return submit(params);
        if (path == kDeadPath)
            return reportDead(params);
        if (path == kPagePath)
            return page();
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
    if (!proxyEntry(params, entry, refusal)) {
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
        result = m_store.add(entry, m_options.moderate, m_clock());
        if (result != ProxyStore::AddResult::AlreadyKnown)
            rebuildList();
    } catch (const std::exception& error) {
        if (!visitor)
            throw;
        Reply failure = storeFailure(error);
        const std::string outcome = entry + " could not be added: " + failure.body + ".";
        return formAnswer(std::move(failure), kNotAdded, outcome);
    }
    if (!visitor)
        return text(200, "OK");
    if (result == ProxyStore::AddResult::AlreadyKnown)
        return formAnswer(text(200, "OK"), "The proxy is already known",
                          entry + " was sent before: nothing was changed.");
    return formAnswer(text(200, "OK"), "The proxy was added",
                      m_options.moderate
                          ? entry + " was received. It appears on the list once the list's keeper has approved it."
                          : entry + " was added to the list.");
}

Reply ListService::reportDead(const QueryParams& params) {
    std::string entry;
    Reply refusal;
    if (!proxyEntry(params, entry, refusal))
        return refusal;
    std::lock_guard lock(m_writeMutex);
    switch (m_store.report(entry, m_options.deadAfter)) {
    case ProxyStore::ReportResult::Unknown:
        return text(404, "this proxy is not on the list");
    case ProxyStore::ReportResult::Withdrawn:
        rebuildList();
        break;
    case ProxyStore::ReportResult::Counted:
    case ProxyStore::ReportResult::AlreadyWithdrawn:
        break;
    }
    return text(200, "OK");
}

Reply ListService::page() {
    std::vector<ProxyRecord> records;
    {
        std::lock_guard lock(m_writeMutex);
        records = m_store.entries(ProxyState::Published);
        // The page is always fresh; the list catches up with it at once, whoever changed the database.
        storeList(records);
    }

    std::string html;
    html.reserve(2048 + records.size() * 96);
    html += "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
            "<title>Tamberly proxy list</title>\n";
    html += kPageStyle;
    html += "</head>\n<body>\n<h1>Tamberly proxy list</h1>\n";
    html += "<p>" + std::to_string(records.size()) + (records.size() == 1 ? " proxy is" : " proxies are") +
            " on the list. A proxy leaves the list after " + std::to_string(m_options.deadAfter) +
            (m_options.deadAfter == 1 ? " report" : " reports") + " that it no longer works.</p>\n";
    if (records.empty()) {
        html += "<p>The list is empty.</p>\n";
    } else {
        html += "<table>\n<thead><tr><th>Proxy</th><th>Added (UTC)</th><th>Reports</th></tr></thead>\n<tbody>\n";
        for (const auto& record : records) {
            html += "<tr><td>" + escapeHtml(record.entry) + "</td><td>" + escapeHtml(utcTime(record.addedAt)) +
                    "</td><td>" + std::to_string(record.reports) + "</td></tr>\n";
        }
        html += "</tbody>\n</table>\n";
    }
    html += "<h2>Add a proxy</h2>\n"
            "<p>In Tamberly, choose \"Proxy\", \"Add a new proxy\" and type the proxy as host:port, for example "
            "127.0.0.1:80. A host is a name, an IPv4 address or an IPv6 address in brackets, as in "
            "[2001:db8::1]:8080. Or send it from here:</p>\n"
            "<form action=\"addproxy.php\" method=\"get\">\n"
            "<input name=\"proxy\" maxlength=\"255\" placeholder=\"host:port\" required>\n"
            "<input type=\"hidden\" name=\"from\" value=\"page\">\n"
            "<button type=\"submit\">Add</button>\n</form>\n";
    html += m_options.moderate ? "<p>New proxies appear on the list once the list's keeper has approved them.</p>\n"
                               : "<p>New proxies appear on the list at once.</p>\n";
    html += "<p>To get the list, choose \"Proxy\", \"Download List\" in Tamberly.</p>\n</body>\n</html>\n";

    Reply reply;
    reply.contentType = "text/html; charset=utf-8";
    reply.body = std::move(html);
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

void ListService::waitForChange(std::chrono::milliseconds timeout) {
    m_store.waitForChange(timeout);
}

void ListService::setErrorSink(std::function<void(const std::string&)> sink) {
    m_errorSink = sink;
    m_store.setLog(std::move(sink));
}

void ListService::rebuildList() {
    storeList(m_store.entries(ProxyState::Published));
}

void ListService::storeList(const std::vector<ProxyRecord>& published) {
    std::string list;
    for (const auto& record : published) {
        // A row edited by hand into something that is not an entry would break the list text for every client.
        if (isStoredForm(record.entry))
            list += record.entry + "*";
    }
    const auto current = m_list.load(std::memory_order_acquire);
    if (current && *current == list)
        return;
    m_list.store(std::make_shared<const std::string>(std::move(list)), std::memory_order_release);
}

} // namespace tamberly
