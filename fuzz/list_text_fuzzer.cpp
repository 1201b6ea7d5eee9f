// Splitting a list text into rows: no row holds "*", and the rows, each followed by "*", give back the text up to
// and including its last "*".
#include "core/proxy_list_store.h"
#include "fuzz_support.h"

#include <cstddef>
#include <cstdint>
#include <string>

using tamberly::fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string joined;
    for (const auto row : tamberly::splitListText(text)) {
        require(row.find('*') == std::string::npos, "no row holds the separator");
        joined.append(row).append(1, '*');
    }
    const std::size_t last = text.rfind('*');
    const std::string covered = last == std::string::npos ? std::string() : text.substr(0, last + 1);
    require(joined == covered, "the rows give back the text up to its last separator");
    return 0;
}
