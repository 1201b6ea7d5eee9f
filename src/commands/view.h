#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tamberly {

/// The mark of a row that is no proxy address (see isProxyAddress), where no verdict stands: no command puts it in
/// force.
inline constexpr const char* kNotAProxyAddress = "not a proxy address";

/// A proxy check's verdict shown beside one row; it never changes the row's text, which every command reads.
struct RowMark {
    bool works = false;
    /// "123 ms" for a working entry, else the verdict's word; empty for no verdict, where the row shows the mark
    /// kNotAProxyAddress if it is no proxy address.
    std::string text;

    bool operator==(const RowMark&) const = default;
};

/// What the commands see of a front end's window: the proxy list, the status line and its dialogs. Each front end
/// implements it once.
class View {
public:
    enum class Answer { Yes, No };

    virtual ~View() = default;

    /// Replaces every row of the proxy list, in order; rows point into a text the caller keeps until the call
    /// returns. The selection and any marks go with the old rows.
    virtual void showEntries(const std::vector<std::string_view>& rows) = 0;
    virtual int entryCount() const = 0;
    /// Row i's text exactly as shown; the empty text when there is no row i.
    virtual std::string entry(int row) const = 0;
    /// The selected row; nullopt when none is selected.
    virtual std::optional<int> selectedRow() const = 0;
    /// Row i gets marks[i]; rows beyond the marks get none. Called again as a check finds more.
    virtual void showMarks(std::vector<RowMark> marks) = 0;
    virtual void clearMarks() = 0;

    /// Shows the rows in order: shown row i is row order[i]; an empty order shows the rows as stored. Every other
    /// call keeps counting rows in stored order, so a command acts on the entry the user sees selected. A front end
    /// without a sorted view ignores it.
    virtual void showOrder(std::vector<int> order) { static_cast<void>(order); }

    /// The status line's text.
    virtual void setStatus(const std::string& text) = 0;
    /// The status line's text now; the empty text where the front end cannot tell.
    virtual std::string statusText() const { return {}; }
    /// A desktop notification that reaches the user with the window hidden; ignored where there is none.
    virtual void notify(const std::string& text) { static_cast<void>(text); }
    /// The notification-area icon's tool tip while the proxy is watched; the empty text gives the icon its own.
    virtual void showWatchTip(const std::string& text) { static_cast<void>(text); }

    /// A modal message with an OK button and no icon; an empty title shows the application's title.
    virtual void tell(const std::string& text, const std::string& title = {}) = 0;
    /// A modal question with Yes (the default) and No, no icon.
    virtual Answer ask(const std::string& question, const std::string& title) = 0;
    /// One line of text with an empty default; nullopt when cancelled.
    virtual std::optional<std::string> askText(const std::string& prompt, const std::string& title) = 0;

    /// Saves an edited proxy setting: the server text and whether the proxy is on. Returns why it could not be
    /// saved, or the empty text.
    using SaveProxySetting = std::function<std::string(const std::string& server, bool on)>;
    /// Opens the program's own proxy settings window, for a system without a page of its own, and returns at once:
    /// it shows server and on, names the places a change is written to, and on OK calls save, staying open when
    /// save says why not.
    virtual void editProxySetting(const std::string& server, bool on, const std::vector<std::string>& places,
                                  SaveProxySetting save) = 0;
};

} // namespace tamberly
