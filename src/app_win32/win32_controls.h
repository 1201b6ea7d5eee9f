#pragma once

#include "platform/dialogs.h"
#include "platform/list_box.h"
#include "platform/status_line.h"
#include "platform/timer.h"

#include <windows.h>

namespace tamberly::win32 {

/// `Proxydisplay` over an owner-data LISTBOX (LBS_NODATA | LBS_OWNERDRAWFIXED, no LBS_SORT): the rows live here in
/// the order added and the box only counts them, so 100,000 rows fill without a visible stall. The window hands its
/// WM_DRAWITEM for the box to draw().
class Win32ListBox final : public ListBox {
public:
    /// The window styles the box must be created with.
    static constexpr DWORD kStyle = LBS_NODATA | LBS_OWNERDRAWFIXED | LBS_NOINTEGRALHEIGHT | LBS_NOTIFY;

    /// Sets the box's row height to fit its font.
    explicit Win32ListBox(HWND box);
    /// Paints one row.
    void draw(const DRAWITEMSTRUCT& item) const;

    void AddItem(const std::string& text) override;
    /// Reserves the rows and their text at once and repaints once: 100,000 rows fill without a visible stall.
    void AddItems(const std::vector<std::string>& rows) override;
    void AddItemViews(const std::vector<std::string_view>& rows) override;
    void Clear() override;
    int ListIndex() const override;
    int ListCount() const override;
    std::string List(int i) const override;

private:
    template <typename Rows> void addAll(const Rows& rows);
    HWND m_box;
    std::vector<std::string> m_rows;
};

/// The `status` label: a STATIC without prefix processing, so an "&" shows as itself.
class Win32StatusLine final : public StatusLine {
public:
    explicit Win32StatusLine(HWND label) : m_label(label) {}
    void setCaption(const std::string& text) override;
    std::string caption() const override;

private:
    HWND m_label;
};

/// `Timer1`: a window timer whose WM_TIMER the window hands to the download's tick handler.
class Win32Timer final : public Timer {
public:
    Win32Timer(HWND window, UINT_PTR id, UINT intervalMs) : m_window(window), m_id(id), m_interval(intervalMs) {}
    void setEnabled(bool enabled) override;
    bool enabled() const override { return m_enabled; }

private:
    HWND m_window;
    UINT_PTR m_id;
    UINT m_interval;
    bool m_enabled = false;
};

/// Message boxes (MessageBoxW: its button sets and answers have the values the program uses) and the input box.
class Win32Dialogs final : public Dialogs {
public:
    Win32Dialogs(HINSTANCE instance, HWND owner) : m_instance(instance), m_owner(owner) {}
    int MsgBox(const std::string& text, int buttons = vbOKOnly, const std::string& title = {}) override;
    std::string InputBox(const std::string& prompt, const std::string& title) override;

private:
    HINSTANCE m_instance;
    HWND m_owner;
};

} // namespace tamberly::win32
