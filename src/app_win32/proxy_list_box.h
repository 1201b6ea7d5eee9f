#pragma once

#include "commands/view.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <windows.h>

namespace tamberly::win32 {

/// The proxy list on an owner-data LISTBOX (LBS_NODATA | LBS_OWNERDRAWFIXED, no LBS_SORT): the rows' text lives here
/// in one block, in order, and the box only counts them, so 100,000 rows fill without a visible stall. The window
/// hands its WM_DRAWITEM for the box to draw().
class ProxyListBox final {
public:
    /// The window styles the box must be created with.
    static constexpr DWORD kStyle = LBS_NODATA | LBS_OWNERDRAWFIXED | LBS_NOINTEGRALHEIGHT | LBS_NOTIFY;

    /// Takes the box, made with kStyle and given its font, and fits its row height to the font.
    explicit ProxyListBox(HWND box);

    HWND handle() const { return m_box; }
    /// Replaces every row in one go; the selection, the scroll position and the marks go with the old rows.
    void show(const std::vector<std::string_view>& rows);
    int count() const { return static_cast<int>(m_ends.size()); }
    /// Row i's text; the empty text when there is no row i.
    std::string_view row(int i) const;
    std::optional<int> selected() const;
    /// Row i gets marks[i], drawn at its right end; rows beyond the marks get none.
    void showMarks(std::vector<RowMark> marks);
    void clearMarks();
    /// Paints one row.
    void draw(const DRAWITEMSTRUCT& item) const;

private:
    HWND m_box;
    std::string m_text;
    /// Where each row ends in m_text; row i starts where row i - 1 ends.
    std::vector<std::size_t> m_ends;
    std::vector<RowMark> m_marks;
};

} // namespace tamberly::win32
