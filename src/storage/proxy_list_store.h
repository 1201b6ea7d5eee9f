#pragma once

#include <string>

namespace tamberly {

class ListBox;

/// The stored list text, unscrambled; the empty text when nothing is stored.
std::string LoadList(const std::string& iniPath);

/// Stores the list text scrambled, replacing the stored list. Returns false when the write failed.
bool SaveList(const std::string& text, const std::string& iniPath);

/// As above; on failure why holds the reason.
bool SaveList(const std::string& text, const std::string& iniPath, std::string& why);

/// Appends each entry of the list text (every entry followed by "*") as a new last row of box.
void FillList(const std::string& text, ListBox& box);

} // namespace tamberly
