#include "admin_commands.h"

#include "entry.h"
#include "list_service.h"
#include "program_output.h"
#include "proxy_store.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <set>
#include <sstream>
#include <vector>

namespace tamberly {
namespace {

constexpr std::size_t kMaxImportErrorsShown = 20;

bool readInput(const std::string& file, std::string& text, std::string& error) {
    if (file == "-") {
        text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
        return true;
    }
    std::error_code ec;
    if (std::filesystem::is_directory(file, ec)) {
        error = "cannot read " + file + ": it is a folder";
        return false;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        error = "cannot read " + file + ": " + std::strerror(errno);
        return false;
    }
    std::ostringstream out;
    out << in.rdbuf();
    text = out.str();
    return true;
}

} // namespace

int importFile(ProxyStore& store, const std::string& file, bool allowPrivateEntries) {
    std::string text;
    std::string error;
    if (!readInput(file, text, error))
        return failure(error);
    std::vector<std::string> entries;
    std::set<std::string> seen;
    std::size_t refused = 0;
    for (const auto& piece : splitImportText(text)) {
        const auto check = checkSubmission(piece.text, allowPrivateEntries);
        if (!check.ok) {
            if (++refused <= kMaxImportErrorsShown)
                std::cerr << file << ":" << piece.line << ": " << check.reason << "\n";
            continue;
        }
        if (seen.insert(check.entry).second)
            entries.push_back(check.entry);
    }
    if (refused > 0) {
        if (refused > kMaxImportErrorsShown)
            std::cerr << file << ": " << (refused - kMaxImportErrorsShown) << " more entries refused\n";
        return failure(std::to_string(refused) + (refused == 1 ? " entry" : " entries") +
                       " refused; nothing was imported");
    }
    const auto count = store.importEntries(entries, static_cast<std::int64_t>(std::time(nullptr)));
    std::cout << "imported " << entries.size() << (entries.size() == 1 ? " entry" : " entries") << ": " << count.added
              << " new, " << count.republished << " published again, " << count.alreadyPublished
              << " already on the list\n";
    return 0;
}

int approveEntry(ProxyStore& store, const std::string& raw) {
    const auto check = checkEntry(raw);
    if (!check.ok)
        return failure("invalid proxy entry: " + check.reason);
    switch (store.approve(check.entry)) {
    case ProxyStore::ApproveResult::Unknown:
        return failure(check.entry + " is not known");
    case ProxyStore::ApproveResult::AlreadyPublished:
        std::cout << check.entry << " is already on the list\n";
        break;
    case ProxyStore::ApproveResult::Approved:
        std::cout << check.entry << " is now on the list\n";
        break;
    }
    return 0;
}

int removeEntry(ProxyStore& store, const std::string& raw) {
    const auto check = checkEntry(raw);
    // A row that is not a valid entry (edited in by hand) can still be removed by its exact text.
    const std::string& entry = check.ok ? check.entry : raw;
    if (!store.remove(entry))
        return failure(check.ok ? entry + " is not known" : "invalid proxy entry: " + check.reason);
    std::cout << "removed " << entry << "\n";
    return 0;
}

int exportList(ProxyStore& store, const ServiceOptions& options) {
    ListService service(store, options);
    std::cout << service.listText()->joined() << std::flush;
    return 0;
}

int listWithdrawn(ProxyStore& store, bool allowPrivateEntries) {
    for (const auto& record : store.entries(ProxyState::Withdrawn)) {
        // A check that withdrew the entry says why; a withdrawal by reports has no note.
        std::cout << record.entry;
        if (!record.checkNote.empty())
            std::cout << "\tfailed its check: " << record.checkNote;
        std::cout << "\n";
    }
    // Published rows the list leaves out: stored before its rules refused them, or edited in by hand.
    for (const auto& record : store.entries(ProxyState::Published)) {
        const auto check = checkEntry(record.entry);
        std::string why = !check.ok || check.entry != record.entry ? std::string("not an entry in stored form")
                                                                   : listPolicyFault(record.entry, allowPrivateEntries);
        if (!why.empty())
            std::cout << record.entry << "\tleft out of the list: " << why << "\n";
    }
    return 0;
}

int listPending(ProxyStore& store) {
    for (const auto& record : store.entries(ProxyState::Pending))
        std::cout << record.entry << "\n";
    return 0;
}

} // namespace tamberly
