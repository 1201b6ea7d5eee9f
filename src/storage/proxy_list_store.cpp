#include "storage/proxy_list_store.h"

#include "platform/list_box.h"
#include "storage/ds_encrypt.h"
#include "storage/ini_file.h"

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
    std::vector<std::string> rows;
    std::size_t start = 0;
    // Text after the last "*" belongs to no entry.
    for (std::size_t star = text.find('*'); star != std::string::npos; star = text.find('*', start)) {
        rows.emplace_back(text, start, star - start);
        start = star + 1;
    }
    if (!rows.empty())
        box.AddItems(rows);
}

} // namespace tamberly
