#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tamberly {

/// The proxy list box (`Proxydisplay`): unsorted rows, single selection, rows counted from 0.
class ListBox {
public:
    virtual ~ListBox() = default;
    /// Appends one row at the end.
    virtual void AddItem(const std::string& text) = 0;
    /// Appends rows at the end in order; one call for a whole list, so a large list fills fast.
    virtual void AddItems(const std::vector<std::string>& rows) {
        for (const auto& row : rows)
            AddItem(row);
    }
    /// As AddItems, for rows that point into a text the caller keeps until the call returns; a box that stores
    /// rows its own way takes them without a string made for each.
    virtual void AddItemViews(const std::vector<std::string_view>& rows) {
        AddItems(std::vector<std::string>(rows.begin(), rows.end()));
    }
    /// Removes every row.
    virtual void Clear() = 0;
    /// Index of the selected row, -1 when none is selected.
    virtual int ListIndex() const = 0;
    virtual int ListCount() const = 0;
    /// Text of row i; the empty text when there is no row i.
    virtual std::string List(int i) const = 0;
};

} // namespace tamberly
