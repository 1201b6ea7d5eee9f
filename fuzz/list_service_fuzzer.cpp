// The list server's request handling, fed request lines directly (no socket): each target is split and decoded the
// way the server's HTTP engine does before the service sees it. Never a 5xx or a crash; the list holds exactly the
// published, well-formed entries the list takes, each once; the page shows only stored rows, HTML-escaped, whatever the
// row holds; the request's access-log line is one line of printable ASCII.
#include "entry.h"
#include "fuzz_support.h"
#include "http_server.h"
#include "list_service.h"
#include "proxy_store.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

using tamberly::ListService;
using tamberly::ProxyState;
using tamberly::ProxyStore;
using tamberly::QueryParams;
using tamberly::Reply;
using tamberly::fuzz::require;
using tamberly::fuzz::shown;

constexpr std::int64_t kNow = 1700000000;

const tamberly::fuzz::ScratchDir scratch;
ProxyStore& store() {
    static tamberly::SqliteStore instance(scratch.file("proxies.sqlite"));
    return instance;
}
const tamberly::ReporterSecret& secret() {
    static const auto instance = tamberly::ReporterSecret::load(scratch.file("reporter-secret"));
    return instance;
}

// What the store should hold: every row ever touched, with its state and reports.
struct Row {
    ProxyState state;
    int reports = 0;
};

std::vector<std::string> listEntries(const std::string& list) {
    require(list.empty() || list.back() == '*', "the list text ends with \"*\"", [&] { return shown(list); });
    std::vector<std::string> entries;
    std::size_t start = 0;
    for (auto star = list.find('*'); star != std::string::npos; star = list.find('*', start)) {
        entries.push_back(list.substr(start, star - start));
        start = star + 1;
    }
    return entries;
}

std::string unescapeCell(const std::string& cell) {
    static const std::pair<const char*, char> entities[] = {
        {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&#39;", '\''}};
    std::string out;
    for (std::size_t i = 0; i < cell.size(); ++i) {
        const char c = cell[i];
        require(c != '<' && c != '>' && c != '"' && c != '\'', "a table cell holds no bare markup",
                [&] { return shown(cell); });
        if (c != '&') {
            out += c;
            continue;
        }
        bool known = false;
        for (const auto& [name, character] : entities) {
            if (cell.compare(i, std::char_traits<char>::length(name), name) == 0) {
                out += character;
                i += std::char_traits<char>::length(name) - 1;
                known = true;
                break;
            }
        }
        require(known, "every & in a cell starts an entity", [&] { return shown(cell); });
    }
    return out;
}

// The first cell of each table row.
std::vector<std::string> pageEntries(const std::string& html) {
    std::vector<std::string> entries;
    const std::string open = "<tr><td>", close = "</td>";
    for (auto at = html.find(open); at != std::string::npos; at = html.find(open, at + 1)) {
        const auto begin = at + open.size();
        const auto end = html.find(close, begin);
        require(end != std::string::npos, "every cell is closed");
        entries.push_back(unescapeCell(html.substr(begin, end - begin)));
    }
    return entries;
}

// One line, nothing a terminal or a log reader would take for a control, the request's quotes not forged.
void checkLogLine(const std::string& line) {
    require(!line.empty() && line.back() == '\n', "a log line ends with a line break");
    for (std::size_t i = 0; i + 1 < line.size(); ++i)
        require(line[i] >= ' ' && line[i] <= '~', "a log line is printable ASCII", [&] { return shown(line); });
    const auto open = line.find('"');
    require(open != std::string::npos && line.find('"', open + 1) != std::string::npos &&
                line.find('"', line.find('"', open + 1) + 1) == std::string::npos,
            "a log line quotes the request once", [&] { return shown(line); });
}

std::vector<std::string> sorted(std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    tamberly::ServiceOptions options;
    options.moderate = input.ConsumeBool();
    options.deadAfter = input.ConsumeIntegralInRange(1, 3);
    options.allowPrivateEntries = input.ConsumeBool();
    // A row put in the database by other means, such as a hand edit: it may hold anything.
    const std::string handRow = input.ConsumeRandomLengthString(300);

    std::map<std::string, Row> rows;
    for (auto state : {ProxyState::Pending, ProxyState::Published, ProxyState::Withdrawn})
        require(store().entries(state).empty(), "each input starts from an empty store");
    if (!handRow.empty()) {
        store().add(handRow, false, kNow);
        rows[handRow] = {ProxyState::Published};
    }

    ListService service(store(), options, secret(), [] { return kNow; });
    for (int request = 0; request < 8 && input.remaining_bytes() > 0; ++request) {
        const std::string line = input.ConsumeRandomLengthString(1024);
        const auto space = line.find(' ');
        const std::string method = space == std::string::npos ? "GET" : line.substr(0, space);
        const std::string target = space == std::string::npos ? line : line.substr(space + 1);

        // As the server does: the path decoded, the query split into parameters.
        std::string path;
        QueryParams params;
        tamberly::splitTarget(target, path, params);

        // Every request from a reporter of its own, so each report counts.
        const Reply reply = service.handle(method, path, params, "198.51.100." + std::to_string(request));
        const std::string body = reply.sharedBody ? *reply.sharedBody : reply.body;
        const int status = reply.status;
        checkLogLine(tamberly::accessLogLine(handRow, kNow, method, target, "HTTP/1.1", status, reply.body.size()));
        require(status == 200 || status == 302 || status == 400 || status == 404 || status == 405,
                "the status is 200, 302, 400, 404 or 405",
                [&] { return method + " " + shown(path) + " gave " + std::to_string(status) + " " + reply.body; });
        const bool toPage = path == "/" || path == "/Tamberly" || path == "/Tamberly/";
        require((status == 302) == (toPage && (method == "GET" || method == "HEAD")),
                "the list's own address, and only it, leads to the page");
        if (method != "GET" && method != "HEAD") {
            require(status == 405, "other methods are refused");
            continue;
        }

        const bool submit = path == "/Tamberly/addproxy.php", report = path == "/Tamberly/deadproxy.php";
        if ((submit || report) && params.count("proxy") == 1) {
            const std::string& raw = params.find("proxy")->second;
            const auto check =
                submit ? tamberly::checkSubmission(raw, options.allowPrivateEntries) : tamberly::checkEntry(raw);
            require((status != 400) == check.ok, "a proxy is refused exactly when the list does not take it",
                    [&] { return reply.body; });
            if (check.ok) {
                auto it = rows.find(check.entry);
                if (submit) {
                    require(status == 200, "a well-formed submission is taken");
                    if (it == rows.end() || it->second.state == ProxyState::Withdrawn)
                        rows[check.entry] = {options.moderate ? ProxyState::Pending : ProxyState::Published};
                } else if (it == rows.end() || it->second.state == ProxyState::Pending) {
                    require(status == 404, "a report of a proxy not on the list is 404", [&] { return reply.body; });
                } else {
                    require(status == 200, "a report of a listed or withdrawn proxy is taken",
                            [&] { return reply.body; });
                    if (it->second.state == ProxyState::Published && ++it->second.reports >= options.deadAfter)
                        it->second = {ProxyState::Withdrawn};
                }
            }
        } else if (submit || report) {
            require(status == 400, "a request without exactly one proxy parameter is refused");
        }

        // After every request: the list and the page show what the store should hold.
        std::vector<std::string> listed;
        for (const auto& [entry, row] : rows) {
            if (row.state != ProxyState::Published)
                continue;
            if (tamberly::isStoredForm(entry) && tamberly::listPolicyFault(entry, options.allowPrivateEntries).empty())
                listed.push_back(entry);
        }
        const std::string text = service.listText()->joined();
        require(sorted(listEntries(text)) == listed, "the list holds the published entries the list takes, each once",
                [&] { return shown(text); });
        if (path == "/Tamberly/update.php")
            require(status == 200 && reply.body == text, "update.php serves the list");
        if (path == "/Tamberly/index.php" && params.empty()) {
            // Rendered at most once a second, so it may show an earlier state: never a row the store never held.
            require(status == 200 && reply.contentType.starts_with("text/html"), "index.php is a page");
            for (const auto& shownEntry : pageEntries(body))
                require(rows.count(shownEntry) == 1, "the page shows stored rows only, escaped",
                        [&] { return shown(shownEntry); });
        }
    }

    for (const auto& [entry, row] : rows)
        store().remove(entry);
    return 0;
}
