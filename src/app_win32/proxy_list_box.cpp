#include "app_win32/proxy_list_box.h"

#include "platform/windows/wide_text.h"

namespace tamberly::win32 {
namespace {

// Blank space between a row's text and its mark, and at the row's ends.
constexpr int kPadding = 2;

} // namespace

ProxyListBox::ProxyListBox(HWND box) : m_box(box) {
    const HDC dc = ::GetDC(box);
    const auto font = reinterpret_cast<HFONT>(::SendMessageW(box, WM_GETFONT, 0, 0));
    const HGDIOBJ old = font ? ::SelectObject(dc, font) : nullptr;
    TEXTMETRICW metrics{};
    ::GetTextMetricsW(dc, &metrics);
    if (old)
        ::SelectObject(dc, old);
    ::ReleaseDC(box, dc);
    ::SendMessageW(box, LB_SETITEMHEIGHT, 0, metrics.tmHeight + 1);
}

void ProxyListBox::show(const std::vector<std::string_view>& rows) {
    std::size_t size = 0;
    for (const auto row : rows)
        size += row.size();
    m_text.clear();
    m_text.reserve(size);
    m_ends.clear();
    m_ends.reserve(rows.size());
    for (const auto row : rows) {
        m_text += row;
        m_ends.push_back(m_text.size());
    }
    m_marks.clear();
    ::SendMessageW(m_box, LB_RESETCONTENT, 0, 0);
    ::SendMessageW(m_box, LB_SETCOUNT, m_ends.size(), 0);
}

std::string_view ProxyListBox::row(int i) const {
    if (i < 0 || i >= count())
        return {};
    const auto index = static_cast<std::size_t>(i);
    const std::size_t start = index == 0 ? 0 : m_ends[index - 1];
    return std::string_view(m_text).substr(start, m_ends[index] - start);
}

std::optional<int> ProxyListBox::selected() const {
    const LRESULT index = ::SendMessageW(m_box, LB_GETCURSEL, 0, 0);
    if (index == LB_ERR || index >= count())
        return std::nullopt;
    return static_cast<int>(index);
}

void ProxyListBox::showMarks(std::vector<RowMark> marks) {
    m_marks = std::move(marks);
    ::InvalidateRect(m_box, nullptr, TRUE);
}

void ProxyListBox::clearMarks() {
    m_marks.clear();
    ::InvalidateRect(m_box, nullptr, TRUE);
}

void ProxyListBox::draw(const DRAWITEMSTRUCT& item) const {
    if (item.itemID == static_cast<UINT>(-1) || item.itemID >= m_ends.size()) {
        if (item.itemState & ODS_FOCUS)
            ::DrawFocusRect(item.hDC, &item.rcItem);
        return;
    }
    const bool selected = item.itemState & ODS_SELECTED;
    ::FillRect(item.hDC, &item.rcItem, ::GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
    ::SetBkMode(item.hDC, TRANSPARENT);
    RECT text = item.rcItem;
    text.left += kPadding;
    text.right -= kPadding;
    constexpr UINT kLine = DT_SINGLELINE | DT_NOPREFIX | DT_VCENTER;
    if (item.itemID < m_marks.size() && !m_marks[item.itemID].text.empty()) {
        // The verdict at the right end, greyed for an entry that does not work; the entry gives way to it.
        const RowMark& mark = m_marks[item.itemID];
        const std::wstring verdict = widen(mark.text);
        RECT measured = text;
        ::DrawTextW(item.hDC, verdict.c_str(), static_cast<int>(verdict.size()), &measured, kLine | DT_CALCRECT);
        ::SetTextColor(item.hDC, ::GetSysColor(selected     ? COLOR_HIGHLIGHTTEXT
                                               : mark.works ? COLOR_WINDOWTEXT
                                                            : COLOR_GRAYTEXT));
        ::DrawTextW(item.hDC, verdict.c_str(), static_cast<int>(verdict.size()), &text, kLine | DT_RIGHT);
        text.right -= (measured.right - measured.left) + 3 * kPadding;
    }
    ::SetTextColor(item.hDC, ::GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
    const std::wstring shown = widen(std::string(row(static_cast<int>(item.itemID))));
    ::DrawTextW(item.hDC, shown.c_str(), static_cast<int>(shown.size()), &text, kLine | DT_END_ELLIPSIS);
    if (item.itemState & ODS_FOCUS)
        ::DrawFocusRect(item.hDC, &item.rcItem);
}

} // namespace tamberly::win32
