// Splitting a list text into rows: no row holds "*", and the rows, each followed by "*", give back the text up to
// and including its last "*"; rows already in the box stay first.
#include "fuzz_support.h"
#include "platform/list_box.h"
#include "storage/proxy_list_store.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

using tamberly::fuzz::require;

class RecordingListBox final : public tamberly::ListBox {
public:
    void AddItem(const std::string& text) override { rows.push_back(text); }
    void Clear() override { rows.clear(); }
    int ListIndex() const override { return -1; }
    int ListCount() const override { return static_cast<int>(rows.size()); }
    std::string List(int i) const override {
        return i >= 0 && i < ListCount() ? rows[static_cast<std::size_t>(i)] : std::string();
    }

    std::vector<std::string> rows;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    RecordingListBox box;
    box.AddItem("kept:1");
    tamberly::FillList(text, box);

    require(!box.rows.empty() && box.rows.front() == "kept:1", "FillList appends after the rows already there");
    std::string joined;
    for (std::size_t i = 1; i < box.rows.size(); ++i) {
        require(box.rows[i].find('*') == std::string::npos, "no row holds the separator");
        joined += box.rows[i] + "*";
    }
    const std::size_t last = text.rfind('*');
    const std::string covered = last == std::string::npos ? std::string() : text.substr(0, last + 1);
    require(joined == covered, "the rows give back the text up to its last separator");
    return 0;
}
