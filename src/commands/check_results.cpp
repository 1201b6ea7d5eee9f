#include "commands/check_results.h"

#include "core/file_store.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <utility>

namespace tamberly {
namespace {

// The first line names the file and its layout: anything else is some other file, or a later layout.
constexpr std::string_view kHeader = "tamberly-check-results 1";

constexpr std::string_view kAnonymityWords[] = {"-", "transparent", "anonymous", "elite"};
constexpr std::string_view kTunnelWords[] = {"-", "yes", "no"};

template <typename Enum, std::size_t N>
std::optional<Enum> fromWord(std::string_view word, const std::string_view (&words)[N]) {
    for (std::size_t i = 0; i < N; ++i)
        if (words[i] == word)
            return static_cast<Enum>(i);
    return std::nullopt;
}

template <typename Number> bool readNumber(std::string_view text, Number& number) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

// Cuts the text up to the next separator off the front of text; nullopt when there is none.
std::optional<std::string_view> cut(std::string_view& text, char separator) {
    const auto at = text.find(separator);
    if (at == std::string_view::npos)
        return std::nullopt;
    const std::string_view field = text.substr(0, at);
    text.remove_prefix(at + 1);
    return field;
}

bool plainText(std::string_view text) {
    return std::none_of(text.begin(), text.end(), [](char c) { return c == '\t' || c == '\n' || c == '\r'; });
}

} // namespace

CheckResults::CheckResults(std::string path) : m_path(std::move(path)) {}

void CheckResults::load() {
    m_results.clear();
    if (!m_path.empty())
        if (const auto text = file_store::read(m_path))
            if (auto results = parse(*text))
                m_results = std::move(*results);
    index();
}

std::string CheckResults::replace(std::vector<KeptResult> results) {
    // An entry that would break a line of the file is not a proxy address anyway.
    std::erase_if(results,
                  [](const KeptResult& r) { return r.entry.empty() || !plainText(r.entry) || !plainText(r.mark); });
    m_results = std::move(results);
    index();
    if (m_path.empty())
        return {};
    const std::string text = format(m_results);
    return file_store::update(m_path, [&text](const std::optional<std::string>&) { return text; });
}

void CheckResults::index() {
    m_byEntry.clear();
    m_byEntry.reserve(m_results.size());
    for (std::size_t i = 0; i < m_results.size(); ++i)
        m_byEntry.emplace(m_results[i].entry, i);
}

const KeptResult* CheckResults::find(std::string_view entry) const {
    const auto it = m_byEntry.find(entry);
    return it == m_byEntry.end() ? nullptr : &m_results[it->second];
}

std::vector<RowMark> CheckResults::marksFor(const View& view) const {
    std::vector<RowMark> marks;
    if (m_results.empty())
        return marks;
    const int count = view.entryCount();
    marks.resize(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        if (const KeptResult* kept = find(view.entry(i)))
            marks[static_cast<std::size_t>(i)] = {kept->works, kept->mark};
    return marks;
}

std::vector<int> CheckResults::workingRows(const View& view) const {
    std::vector<std::pair<long, int>> working;
    const int count = view.entryCount();
    for (int i = 0; i < count && !m_results.empty(); ++i)
        if (const KeptResult* kept = find(view.entry(i)); kept && kept->works)
            working.emplace_back(kept->latencyMs < 0 ? std::numeric_limits<long>::max() : kept->latencyMs, i);
    std::stable_sort(working.begin(), working.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<int> rows;
    rows.reserve(working.size());
    for (const auto& [latency, row] : working)
        rows.push_back(row);
    return rows;
}

std::vector<int> CheckResults::sortedOrder(const View& view) const {
    std::vector<int> order = workingRows(view);
    std::vector<bool> placed(static_cast<std::size_t>(view.entryCount()));
    for (const int row : order)
        placed[static_cast<std::size_t>(row)] = true;
    for (std::size_t i = 0; i < placed.size(); ++i)
        if (!placed[i])
            order.push_back(static_cast<int>(i));
    return order;
}

std::string CheckResults::format(const std::vector<KeptResult>& results) {
    std::string text(kHeader);
    text += '\n';
    for (const KeptResult& r : results) {
        text += r.entry + '\t' + (r.works ? "1" : "0") + '\t' + std::to_string(r.latencyMs) + '\t';
        text += std::string(kAnonymityWords[static_cast<std::size_t>(r.anonymity)]) + '\t';
        text += std::string(kTunnelWords[static_cast<std::size_t>(r.tunnel)]) + '\t';
        text += std::to_string(r.when) + '\t' + r.mark + '\n';
    }
    return text;
}

std::optional<std::vector<KeptResult>> CheckResults::parse(std::string_view text) {
    const auto header = cut(text, '\n');
    if (!header || *header != kHeader)
        return std::nullopt;
    std::vector<KeptResult> results;
    while (!text.empty()) {
        auto line = cut(text, '\n');
        if (!line)
            return std::nullopt; // cut short: the last line has no end
        KeptResult r;
        const auto entry = cut(*line, '\t');
        const auto works = cut(*line, '\t');
        const auto latency = cut(*line, '\t');
        const auto anonymity = cut(*line, '\t');
        const auto tunnel = cut(*line, '\t');
        const auto when = cut(*line, '\t');
        if (!when || entry->empty() || (*works != "0" && *works != "1") || !readNumber(*latency, r.latencyMs) ||
            !readNumber(*when, r.when) || !plainText(*line))
            return std::nullopt;
        const auto grade = fromWord<Anonymity>(*anonymity, kAnonymityWords);
        const auto opened = fromWord<Tunnel>(*tunnel, kTunnelWords);
        if (!grade || !opened)
            return std::nullopt;
        r.entry = std::string(*entry);
        r.works = *works == "1";
        r.anonymity = *grade;
        r.tunnel = *opened;
        r.mark = std::string(*line);
        results.push_back(std::move(r));
    }
    return results;
}

} // namespace tamberly
