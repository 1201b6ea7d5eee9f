#pragma once

#include <QListView>

namespace tamberly {

/// The proxy list as the window shows it: while it has no rows it says in grey where the rows come from, and its
/// keys ask for the commands on the row: Enter for "Use and launch", Delete for "Report dead proxy".
class ProxyListView final : public QListView {
    Q_OBJECT
public:
    /// The grey hint an empty list shows.
    static constexpr const char* kEmptyHint = "No proxies yet: Proxy \u2192 Download List";

    using QListView::QListView;

signals:
    /// Enter or Return on the list.
    void launchRequested();
    /// Delete on the list.
    void reportRequested();

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};

} // namespace tamberly
