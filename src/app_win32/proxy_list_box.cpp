#include "app_win32/proxy_list_box.h"

#include "core/proxy_entry.h"
#include "platform/windows/wide_text.h"

#include <commctrl.h>

#include <algorithm>
#include <cmath>

namespace tamberly::win32 {
namespace {

// Blank space between a row's text and its mark, and at the row's ends.
constexpr int kPadding = 2;
constexpr UINT_PTR kSubclassId = 1;
// The least contrast of normal text that reads well.
constexpr double kReadable = 4.5;

double luminance(COLORREF colour) {
    const auto linear = [](int channel) {
        const double c = channel / 255.0;
        return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(GetRValue(colour)) + 0.7152 * linear(GetGValue(colour)) + 0.0722 * linear(GetBValue(colour));
}

COLORREF mix(COLORREF from, COLORREF to, double share) {
    const auto channel = [share](int a, int b) { return static_cast<BYTE>(std::lround(a + (b - a) * share)); };
    return RGB(channel(GetRValue(from), GetRValue(to)), channel(GetGValue(from), GetGValue(to)),
               channel(GetBValue(from), GetBValue(to)));
}

} // namespace

double ProxyListBox::contrast(COLORREF a, COLORREF b) {
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

COLORREF ProxyListBox::deadColour(COLORREF grey, COLORREF text, COLORREF background) {
    // As grey as reads well: a step at a time toward the text's colour.
    for (int step = 0; step <= 20; ++step) {
        const COLORREF candidate = mix(grey, text, step / 20.0);
        if (contrast(candidate, background) >= kReadable)
            return candidate;
    }
    // A scheme whose own text is hard to read on its background: black or white, whichever reads better.
    return contrast(RGB(0, 0, 0), background) >= contrast(RGB(255, 255, 255), background) ? RGB(0, 0, 0)
                                                                                          : RGB(255, 255, 255);
}

ProxyListBox::ProxyListBox(HWND box) : m_box(box) {
    ::SetWindowSubclass(box, boxProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this));
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

ProxyListBox::~ProxyListBox() {
    if (::IsWindow(m_box))
        ::RemoveWindowSubclass(m_box, boxProc, kSubclassId);
}

LRESULT CALLBACK ProxyListBox::boxProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR data) {
    const auto* self = reinterpret_cast<const ProxyListBox*>(data);
    switch (message) {
    case WM_PAINT:
        if (self->count() == 0) {
            PAINTSTRUCT paint{};
            const HDC dc = ::BeginPaint(box, &paint);
            self->paintHint(dc);
            ::EndPaint(box, &paint);
            return 0;
        }
        break;
    case WM_PRINTCLIENT:
        if (self->count() == 0) {
            self->paintHint(reinterpret_cast<HDC>(wParam));
            return 0;
        }
        break;
    case WM_SIZE:
        // The hint is centred: a new size moves all of it.
        if (self->count() == 0)
            ::InvalidateRect(box, nullptr, TRUE);
        break;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
        // The box draws a row's focus frame straight away, also with no rows: the hint is painted over it.
        if (self->count() == 0) {
            const LRESULT result = ::DefSubclassProc(box, message, wParam, lParam);
            ::InvalidateRect(box, nullptr, TRUE);
            return result;
        }
        break;
    case WM_NCDESTROY:
        ::RemoveWindowSubclass(box, boxProc, kSubclassId);
        break;
    default:
        break;
    }
    return ::DefSubclassProc(box, message, wParam, lParam);
}

void ProxyListBox::paintHint(HDC dc) const {
    RECT area{};
    ::GetClientRect(m_box, &area);
    ::FillRect(dc, &area, ::GetSysColorBrush(COLOR_WINDOW));
    const auto font = reinterpret_cast<HFONT>(::SendMessageW(m_box, WM_GETFONT, 0, 0));
    const HGDIOBJ old = font ? ::SelectObject(dc, font) : nullptr;
    TEXTMETRICW metrics{};
    ::GetTextMetricsW(dc, &metrics);
    // A new user's first sight is this empty list: it says where the rows come from, in the list itself.
    const std::wstring hint = widen(kEmptyHint);
    ::InflateRect(&area, -metrics.tmAveCharWidth, -metrics.tmAveCharWidth);
    constexpr UINT kFormat = DT_CENTER | DT_WORDBREAK | DT_NOPREFIX;
    RECT needed = area;
    ::DrawTextW(dc, hint.c_str(), static_cast<int>(hint.size()), &needed, kFormat | DT_CALCRECT);
    const int height = needed.bottom - needed.top;
    area.top += std::max(0L, (area.bottom - area.top - height) / 2);
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, ::GetSysColor(COLOR_GRAYTEXT));
    ::DrawTextW(dc, hint.c_str(), static_cast<int>(hint.size()), &area, kFormat);
    if (old)
        ::SelectObject(dc, old);
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
    m_order.clear();
    m_shownAt.clear();
    ::SendMessageW(m_box, LB_RESETCONTENT, 0, 0);
    ::SendMessageW(m_box, LB_SETCOUNT, m_ends.size(), 0);
    // From rows to none and back the hint comes and goes.
    ::InvalidateRect(m_box, nullptr, TRUE);
}

std::string_view ProxyListBox::row(int i) const {
    if (i < 0 || i >= count())
        return {};
    const auto index = static_cast<std::size_t>(i);
    const std::size_t start = index == 0 ? 0 : m_ends[index - 1];
    return std::string_view(m_text).substr(start, m_ends[index] - start);
}

void ProxyListBox::showOrder(std::vector<int> order) {
    const std::optional<int> entry = selected();
    std::vector<int> shownAt;
    if (order.size() == m_ends.size()) {
        shownAt.assign(order.size(), -1);
        for (std::size_t i = 0; i < order.size(); ++i) {
            const int stored = order[i];
            if (stored < 0 || stored >= count() || shownAt[static_cast<std::size_t>(stored)] != -1) {
                shownAt.clear();
                break;
            }
            shownAt[static_cast<std::size_t>(stored)] = static_cast<int>(i);
        }
    }
    if (shownAt.empty())
        order.clear();
    m_order = std::move(order);
    m_shownAt = std::move(shownAt);
    if (entry) {
        ::SendMessageW(m_box, LB_SETCURSEL, static_cast<WPARAM>(shownRow(*entry)), 0);
    }
    ::InvalidateRect(m_box, nullptr, TRUE);
}

int ProxyListBox::storedRow(int shown) const {
    return m_order.empty() || shown < 0 || shown >= static_cast<int>(m_order.size())
               ? shown
               : m_order[static_cast<std::size_t>(shown)];
}

int ProxyListBox::shownRow(int stored) const {
    return m_shownAt.empty() || stored < 0 || stored >= static_cast<int>(m_shownAt.size())
               ? stored
               : m_shownAt[static_cast<std::size_t>(stored)];
}

std::optional<int> ProxyListBox::selected() const {
    const LRESULT index = ::SendMessageW(m_box, LB_GETCURSEL, 0, 0);
    if (index == LB_ERR || index >= count())
        return std::nullopt;
    // The entry the user sees selected, whatever order the list is shown in.
    return storedRow(static_cast<int>(index));
}

std::optional<int> ProxyListBox::rowAtCursor() const {
    const DWORD at = ::GetMessagePos();
    POINT point{static_cast<short>(LOWORD(at)), static_cast<short>(HIWORD(at))};
    ::ScreenToClient(m_box, &point);
    RECT area{};
    ::GetClientRect(m_box, &area);
    if (!::PtInRect(&area, point))
        return std::nullopt;
    // Every row is as high as the first (LBS_OWNERDRAWFIXED); LB_ITEMFROMPOINT would count only 65,536 rows.
    const auto height = static_cast<int>(::SendMessageW(m_box, LB_GETITEMHEIGHT, 0, 0));
    const auto top = static_cast<int>(::SendMessageW(m_box, LB_GETTOPINDEX, 0, 0));
    if (height <= 0)
        return std::nullopt;
    const int row = top + point.y / height;
    if (row < 0 || row >= count())
        return std::nullopt;
    return row;
}

void ProxyListBox::showMarks(std::vector<RowMark> marks) {
    m_marks = std::move(marks);
    ::InvalidateRect(m_box, nullptr, TRUE);
}

void ProxyListBox::clearMarks() {
    m_marks.clear();
    ::InvalidateRect(m_box, nullptr, TRUE);
}

RowMark ProxyListBox::mark(int i) const {
    if (i < 0 || i >= count())
        return {};
    const auto index = static_cast<std::size_t>(i);
    if (index < m_marks.size() && !m_marks[index].text.empty())
        return m_marks[index];
    // No command puts such a row in force, check or no check.
    if (!isProxyAddress(row(i)))
        return {false, kNotAProxyAddress};
    return {};
}

void ProxyListBox::draw(const DRAWITEMSTRUCT& item) const {
    if (item.itemID == static_cast<UINT>(-1) || item.itemID >= m_ends.size()) {
        // An empty list shows its hint, with no row's focus frame across it.
        if ((item.itemState & ODS_FOCUS) && !m_ends.empty())
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
    const int stored = storedRow(static_cast<int>(item.itemID));
    if (const RowMark shown = mark(stored); !shown.text.empty()) {
        // The verdict at the right end, greyed for an entry that does not work, yet readable; the entry gives way
        // to it, shortened with "...".
        const std::wstring verdict = widen(shown.text);
        RECT measured = text;
        ::DrawTextW(item.hDC, verdict.c_str(), static_cast<int>(verdict.size()), &measured, kLine | DT_CALCRECT);
        ::SetTextColor(item.hDC, selected ? ::GetSysColor(COLOR_HIGHLIGHTTEXT)
                                 : shown.works
                                     ? ::GetSysColor(COLOR_WINDOWTEXT)
                                     : deadColour(::GetSysColor(COLOR_GRAYTEXT), ::GetSysColor(COLOR_WINDOWTEXT),
                                                  ::GetSysColor(COLOR_WINDOW)));
        ::DrawTextW(item.hDC, verdict.c_str(), static_cast<int>(verdict.size()), &text, kLine | DT_RIGHT);
        text.right -= (measured.right - measured.left) + 3 * kPadding;
    }
    ::SetTextColor(item.hDC, ::GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
    const std::wstring shown = widen(std::string(row(stored)));
    ::DrawTextW(item.hDC, shown.c_str(), static_cast<int>(shown.size()), &text, kLine | DT_END_ELLIPSIS);
    if (item.itemState & ODS_FOCUS)
        ::DrawFocusRect(item.hDC, &item.rcItem);
}

} // namespace tamberly::win32
