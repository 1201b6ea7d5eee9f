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
/// hands its WM_DRAWITEM for the box to draw(). While it has no rows it says in grey where the rows come from.
class ProxyListBox final {
public:
    /// The window styles the box must be created with.
    static constexpr DWORD kStyle = LBS_NODATA | LBS_OWNERDRAWFIXED | LBS_NOINTEGRALHEIGHT | LBS_NOTIFY;
    /// The grey hint an empty list shows.
    static constexpr const char* kEmptyHint = "No proxies yet: Proxy \u2192 Download List";

    /// Takes the box, made with kStyle and given its font, fits its row height to the font and paints the hint
    /// while it is empty.
    explicit ProxyListBox(HWND box);
    ~ProxyListBox();
    ProxyListBox(const ProxyListBox&) = delete;
    ProxyListBox& operator=(const ProxyListBox&) = delete;

    HWND handle() const { return m_box; }
    /// Replaces every row in one go; the selection, the scroll position, the marks and the order go with the old
    /// rows.
    void show(const std::vector<std::string_view>& rows);
    /// Shows the rows in order: shown row i is stored row order[i]; an order that is no arrangement of the rows (the
    /// empty one) shows them as stored. The selected entry stays selected. Every other call counts stored rows.
    void showOrder(std::vector<int> order);
    int count() const { return static_cast<int>(m_ends.size()); }
    /// Row i's text; the empty text when there is no row i.
    std::string_view row(int i) const;
    /// The selected entry's stored row.
    std::optional<int> selected() const;
    /// The row under the mouse as the last message found it; nullopt over the blank below the rows.
    std::optional<int> rowAtCursor() const;
    /// Row i gets marks[i], drawn at its right end; rows beyond the marks get none.
    void showMarks(std::vector<RowMark> marks);
    void clearMarks();
    /// The mark row i shows: its verdict, else kNotAProxyAddress for a row that is no proxy address, else none.
    RowMark mark(int i) const;
    /// The colour a dead row's mark is drawn in: the grey text's, moved toward the text's own colour until it reads
    /// at a contrast of at least 4.5:1 on the background.
    static COLORREF deadColour(COLORREF grey, COLORREF text, COLORREF background);
    /// The contrast ratio of two colours, from 1 to 21.
    static double contrast(COLORREF a, COLORREF b);
    /// Paints one row.
    void draw(const DRAWITEMSTRUCT& item) const;

private:
    static LRESULT CALLBACK boxProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id, DWORD_PTR self);
    /// Paints the empty box with its hint on dc.
    void paintHint(HDC dc) const;

    /// The stored row shown at place i, and the place stored row i is shown at.
    int storedRow(int shown) const;
    int shownRow(int stored) const;

    HWND m_box;
    std::string m_text;
    /// Where each row ends in m_text; row i starts where row i - 1 ends.
    std::vector<std::size_t> m_ends;
    std::vector<RowMark> m_marks;
    /// Empty while the rows are shown as stored.
    std::vector<int> m_order;
    std::vector<int> m_shownAt;
};

} // namespace tamberly::win32
