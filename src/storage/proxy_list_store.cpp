#include "storage/proxy_list_store.h"

#include "platform/list_box.h"
#include "storage/ds_encrypt.h"
#include "storage/ini_file.h"

#include <algorithm>
#include <vector>

namespace tamberly {
namespace {

constexpr const char* kSection = "Proxy";
constexpr const char* kKey = "Proxylist";
constexpr const char* kListKey = "VELTOR";

std::string scramble(const std::string& text) {
    dsEncrypt cipher;
    cipher.KeyString(kListKey);
    return cipher.Encrypt(text);
}

} // namespace

std::string LoadList(const std::string& iniPath) {
    return scramble(ReadINI(kSection, kKey, iniPath));
}

bool SaveList(const std::string& text, const std::string& iniPath, std::string& why) {
    return WriteINI(kSection, kKey, scramble(text), iniPath, why);
}

bool SaveList(const std::string& text, const std::string& iniPath) {
    std::string why;
    return SaveList(text, iniPath, why);
}

void FillList(const std::string& text, ListBox& box) {
    const std::string_view all(text);
    std::vector<std::string_view> rows;
    rows.reserve(static_cast<std::size_t>(std::count(all.begin(), all.end(), '*')));
    std::size_t start = 0;
    // Text after the last "*" belongs to no entry.
    for (std::size_t star = all.find('*'); star != std::string_view::npos; star = all.find('*', start)) {
        rows.push_back(all.substr(start, star - start));
        start = star + 1;
    }
    if (!rows.empty())
        box.AddItemViews(rows);
}

} // namespace tamberly
