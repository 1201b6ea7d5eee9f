#pragma once

#include "commands/view.h"
#include "net/check_grades.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tamberly {

/// What the last check found out about one entry.
struct KeptResult {
    std::string entry;
    bool works = false;
    /// Milliseconds to the whole answer; -1 when unknown.
    long latencyMs = -1;
    Anonymity anonymity = Anonymity::Unknown;
    Tunnel tunnel = Tunnel::Unknown;
    /// The row's mark as the check showed it: "120 ms", "refused".
    std::string mark;
    /// When it was found, in seconds since 1970.
    std::int64_t when = 0;

    bool operator==(const KeptResult&) const = default;
};

/// The last check's results, kept in a file of the cache folder so that they outlive the program. Results belong to
/// an entry's text, not to a row: a new list keeps the results of the entries it still holds.
class CheckResults final {
public:
    /// path: the file; empty keeps the results in memory only.
    explicit CheckResults(std::string path);
    CheckResults(const CheckResults&) = delete;
    CheckResults& operator=(const CheckResults&) = delete;

    /// Reads the file; a missing, damaged or foreign file reads as no results.
    void load();
    /// Replaces the results and the file, atomically; returns why the file could not be written, or the empty text.
    std::string replace(std::vector<KeptResult> results);

    bool empty() const { return m_results.empty(); }
    const std::vector<KeptResult>& all() const { return m_results; }
    /// The result kept for entry; nullptr when there is none.
    const KeptResult* find(std::string_view entry) const;

    /// A mark for each row of the view, from the results kept for its entry.
    std::vector<RowMark> marksFor(const View& view) const;
    /// The rows whose entries worked, fastest first (stored order among equals).
    std::vector<int> workingRows(const View& view) const;
    /// The sorted view's order: the working rows fastest first, then every other row in stored order.
    std::vector<int> sortedOrder(const View& view) const;

    /// The file's text for results, and back; nullopt for a text that is not such a file, or is damaged.
    static std::string format(const std::vector<KeptResult>& results);
    static std::optional<std::vector<KeptResult>> parse(std::string_view text);

private:
    void index();

    std::string m_path;
    std::vector<KeptResult> m_results;
    std::unordered_map<std::string_view, std::size_t> m_byEntry;
};

} // namespace tamberly
