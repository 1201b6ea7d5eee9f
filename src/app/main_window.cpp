#include "app/main_window.h"

#include "app/check_mark_delegate.h"
#include "app/message_box.h"
#include "app/proxy_list_model.h"
#include "app/proxy_list_view.h"
#include "app/proxy_settings_dialog.h"
#include "app/tray_icon.h"
#include "core/settings.h"

#include <QCloseEvent>
#include <QCursor>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>

#include <algorithm>

// The icon lives in a resource of this static library; the linker drops it unless something refers to it.
static void initResources() {
    Q_INIT_RESOURCE(resources);
}

namespace tamberly {
namespace {

// The controls at the default client area, in pixels at 96 dpi (Qt scales them on denser screens). A larger window
// gives its room to the list: the line and the list widen, the list grows taller, and the button stays below the
// list, where it is from the centre at the default size.
constexpr QRect kStatusRect(16, 8, 265, 17);
constexpr QRect kListRect(16, 32, 265, 108);
constexpr QRect kUseAndLaunchRect(72, 152, 145, 25);
constexpr int kRightMargin = MainWindow::kDefaultClientArea.width() - kStatusRect.right() - 1;
constexpr int kListBelowStatus = kListRect.top() - kStatusRect.bottom() - 1;
constexpr int kButtonBelowList = kUseAndLaunchRect.top() - kListRect.bottom() - 1;
constexpr int kButtonFromBottom = MainWindow::kDefaultClientArea.height() - kUseAndLaunchRect.top();
// A size is written once no resize has come for this long.
constexpr int kSizeSettledMs = 500;

QString fromUtf8(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

} // namespace

MainWindow::MainWindow(TrayIcon& tray, Settings& settings, std::function<void(Command)> run, std::function<void()> quit,
                       std::function<bool(Command)> checked, QWidget* parent)
    : QMainWindow(parent), m_tray(tray), m_settings(settings), m_run(std::move(run)), m_quit(std::move(quit)),
      m_checked(std::move(checked)) {
    initResources();
    m_icon = QIcon(QStringLiteral(":/tamberly.ico"));
    setObjectName(QStringLiteral("mainWindow"));
    setWindowTitle(QStringLiteral("Tamberly"));
    setWindowIcon(m_icon);
    buildControls();
    buildMenus();
    m_trayWait.callOnTimeout(this, [this] { trayOrMinimised(); });

    // The size remembered, never less than the default nor more than the screen holds.
    QSize area = kDefaultClientArea;
    if (const auto stored = m_settings.windowSize()) {
        area = QSize(stored->width, stored->height).expandedTo(kDefaultClientArea);
        if (const QScreen* shown = screen())
            area = area.boundedTo(shown->availableSize() - QSize(0, menuBar()->sizeHint().height()))
                       .expandedTo(kDefaultClientArea);
    }
    resize(area.width(), area.height() + menuBar()->sizeHint().height());
    // The size it opens at is written only once the user changes it.
    m_savedSize = area;
    m_sizeSettled.setSingleShot(true);
    m_sizeSettled.setInterval(kSizeSettledMs);
    connect(&m_sizeSettled, &QTimer::timeout, this, [this] { saveSize(); });
}

MainWindow::~MainWindow() = default;

void MainWindow::buildControls() {
    m_client = new QWidget(this);
    m_client->setMinimumSize(kDefaultClientArea);
    // Qt has no scroll-bar colour role; the button face is the colour the platform paints scroll bars with.
    QPalette background = m_client->palette();
    background.setColor(QPalette::Window, background.color(QPalette::Button));
    m_client->setPalette(background);
    m_client->setAutoFillBackground(true);
    m_client->installEventFilter(this);
    setCentralWidget(m_client);

    m_status = new QLabel(m_client);
    m_status->setObjectName(QStringLiteral("status"));
    m_status->setTextFormat(Qt::PlainText);
    // A long text wraps between words and shows whole; the line grows by the lines it takes.
    m_status->setWordWrap(true);
    m_status->setFocusPolicy(Qt::NoFocus);

    m_model = new ProxyListModel(this);
    m_list = new ProxyListView(m_client);
    m_list->setObjectName(QStringLiteral("proxyList"));
    m_list->setModel(m_model);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setUniformItemSizes(true);
    m_list->setTextElideMode(Qt::ElideRight);
    m_list->setItemDelegate(new CheckMarkDelegate(m_list));
    // Enter and a double click on a row do what the button does; Delete offers to report the row.
    connect(m_list, &ProxyListView::launchRequested, this, [this] { m_run(Command::UseSelectedAndLaunch); });
    connect(m_list, &QAbstractItemView::doubleClicked, this, [this] { m_run(Command::UseSelectedAndLaunch); });
    connect(m_list, &ProxyListView::reportRequested, this, [this] { m_run(Command::ReportDeadProxy); });

    m_useAndLaunch = new QPushButton(QStringLiteral("&Use and launch"), m_client);
    m_useAndLaunch->setObjectName(QStringLiteral("useAndLaunch"));
    m_useAndLaunch->setAutoDefault(false);
    connect(m_useAndLaunch, &QPushButton::clicked, this, [this] { m_run(Command::UseSelectedAndLaunch); });

    setTabOrder(m_list, m_useAndLaunch);
    m_list->setFocus();
    layoutControls();
}

void MainWindow::buildMenus() {
    const auto menu = [](QWidget* parent, const char* name, const char* caption) {
        auto* m = new QMenu(QString::fromUtf8(caption), parent);
        m->setObjectName(QString::fromUtf8(name));
        return m;
    };
    const auto item = [this](QMenu* to, const char* name, const char* caption, auto handler) {
        QAction* action = to->addAction(QString::fromUtf8(caption));
        action->setObjectName(QString::fromUtf8(name));
        connect(action, &QAction::triggered, this, handler);
        return action;
    };
    const auto command = [this, &item](QMenu* to, const char* name, const char* caption, Command c) {
        return item(to, name, caption, [this, c] { m_run(c); });
    };

    // The notification-area icon's pop-up; its "Random proxy and launch" is in the "Proxy" menu too.
    m_trayMenu = menu(this, "trayMenu", "Popup");
    command(m_trayMenu, "turnProxyOffAndLaunch", "&No proxy and launch", Command::TurnProxyOffAndLaunch);
    QAction* random =
        command(m_trayMenu, "useRandomAndLaunch", "&Random proxy and launch", Command::UseRandomAndLaunch);
    item(m_trayMenu, "quitFromTray", "&Quit", [this] { quit(); });

    // Each menu and item has an access key: Alt and the letter open a menu, the letter alone picks an item.
    QMenu* file = menu(menuBar(), "fileMenu", "&File");
    menuBar()->addMenu(file);
    command(file, "visitWebsite", "&Visit Website", Command::VisitWebsite);
    item(file, "hideToTray", "&Hide", [this] { hideToTray(); });
    // A toggle's state may change outside the program (the desktop's startup settings, prefs.ini by hand): it is
    // read at each opening of its menu.
    const auto toggle = [this, &command](QMenu* to, const char* name, const char* caption, Command c) {
        QAction* action = command(to, name, caption, c);
        action->setCheckable(true);
        connect(to, &QMenu::aboutToShow, this, [this, action, c] { action->setChecked(m_checked && m_checked(c)); });
        return action;
    };
    toggle(file, "startWithSession", "&Start with the session", Command::ToggleStartWithSession);
    QAction* quitAction = item(file, "quit", "&Quit", [this] { quit(); });
    quitAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    quitAction->setShortcutContext(Qt::ApplicationShortcut);

    QMenu* proxy = menu(menuBar(), "proxyMenu", "&Proxy");
    menuBar()->addMenu(proxy);
    command(proxy, "downloadList", "Download &List", Command::DownloadList);
    QMenu* browser = menu(proxy, "internetExplorerMenu", "&Internet Explorer");
    proxy->addMenu(browser);
    command(browser, "launchBrowser", "&Launch", Command::LaunchBrowser);
    command(browser, "turnProxyOff", "&No proxy", Command::TurnProxyOff);
    command(browser, "useSelected", "&Use this proxy", Command::UseSelected);
    command(browser, "showProxySettings", "Show Internet &Options", Command::ShowProxySettings);
    proxy->addAction(random);
    command(proxy, "showCurrentProxy", "&Show current proxy", Command::ShowCurrentProxy);
    command(proxy, "reportDeadProxy", "Report &dead proxy", Command::ReportDeadProxy);
    command(proxy, "submitProxy", "&Add a new proxy", Command::SubmitProxy);
    command(proxy, "checkProxies", "&Check proxies", Command::CheckProxies);
    // Esc stops a check from anywhere in the window, with the menu closed.
    command(proxy, "stopCheck", "S&top checking", Command::StopCheck)->setShortcut(QKeySequence(Qt::Key_Escape));
    command(proxy, "useFastest", "Use &fastest working proxy", Command::UseFastest);
    toggle(proxy, "sortByCheck", "S&ort by last check", Command::ToggleSortByCheck);
    toggle(proxy, "watchProxy", "&Keep me on a working proxy", Command::ToggleWatch);

    // F10 opens the first menu, as on every desktop; Alt alone reaches the menu bar where the style lets it.
    auto* f10 = new QShortcut(QKeySequence(Qt::Key_F10), this);
    connect(f10, &QShortcut::activated, this, [this] { menuBar()->setActiveAction(menuBar()->actions().value(0)); });
}

std::function<void(std::function<void()>)> MainWindow::post() {
    return
        [this](std::function<void()> task) { QMetaObject::invokeMethod(this, std::move(task), Qt::QueuedConnection); };
}

void MainWindow::showEntries(const std::vector<std::string_view>& rows) {
    m_model->reset(rows);
}

int MainWindow::entryCount() const {
    return m_model->count();
}

std::string MainWindow::entry(int row) const {
    return row >= 0 && row < m_model->count() ? std::string(m_model->row(row)) : std::string();
}

std::optional<int> MainWindow::selectedRow() const {
    const QModelIndexList selected = m_list->selectionModel()->selectedIndexes();
    if (selected.isEmpty())
        return std::nullopt;
    // The entry the user sees selected, whatever order the list is shown in.
    return m_model->storedRow(selected.first().row());
}

void MainWindow::showOrder(std::vector<int> order) {
    // The selected entry stays selected, wherever the new order puts it.
    const std::optional<int> selected = selectedRow();
    m_model->setOrder(std::move(order));
    if (selected && *selected < m_model->count()) {
        const QModelIndex index = m_model->index(m_model->shownRow(*selected), 0);
        m_list->setCurrentIndex(index);
        m_list->scrollTo(index);
    }
}

std::string MainWindow::statusText() const {
    return m_status->text().toStdString();
}

void MainWindow::notify(const std::string& text) {
    m_tray.showMessage(fromUtf8(text));
}

void MainWindow::showWatchTip(const std::string& text) {
    m_tray.setToolTip(fromUtf8(text));
}

void MainWindow::showMarks(std::vector<RowMark> marks) {
    m_model->showMarks(std::move(marks));
}

void MainWindow::clearMarks() {
    m_model->clearMarks();
}

void MainWindow::setStatus(const std::string& text) {
    m_status->setText(fromUtf8(text));
    widenForStatus();
    layoutControls();
}

int MainWindow::statusHeight(int width) const {
    const QString text = m_status->text();
    if (text.isEmpty())
        return kStatusRect.height();
    const QFontMetrics metrics = m_status->fontMetrics();
    const QRect needed = metrics.boundingRect(QRect(0, 0, width, 1 << 20), Qt::TextWordWrap, text);
    // The one-line height of the default layout has room above and below a line; more lines keep that room.
    return std::max(kStatusRect.height(), needed.height() + kStatusRect.height() - metrics.height());
}

void MainWindow::widenForStatus() {
    const QString text = m_status->text();
    const QFontMetrics metrics = m_status->fontMetrics();
    const auto fits = [&](int width) {
        const QRect needed = metrics.boundingRect(QRect(0, 0, width, 1 << 20), Qt::TextWordWrap, text);
        return needed.width() <= width && needed.height() <= metrics.height() + metrics.lineSpacing();
    };
    const int width = m_client->width() - kStatusRect.left() - kRightMargin;
    if (text.isEmpty() || fits(width) || (windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)))
        return;
    const QScreen* shown = screen();
    if (!shown)
        return;
    // The widest line the screen allows: the window's frame and the margins stay around it.
    const int widest = shown->availableGeometry().width() - (frameGeometry().width() - m_client->width()) -
                       kStatusRect.left() - kRightMargin;
    if (widest <= width)
        return;
    // The narrowest width at which the text fits; where none does, the widest, and the line takes more lines.
    int low = width, high = widest;
    if (fits(widest)) {
        while (high - low > 1) {
            const int middle = low + (high - low) / 2;
            (fits(middle) ? high : low) = middle;
        }
    }
    resize(this->width() + high - width, this->height());
}

void MainWindow::layoutControls() {
    const QSize area = m_client->size();
    const int width = area.width() - kStatusRect.left() - kRightMargin;
    const int status = statusHeight(width);
    m_status->setGeometry(kStatusRect.left(), kStatusRect.top(), width, status);
    const int listTop = kStatusRect.top() + status + kListBelowStatus;
    const int buttonTop = area.height() - kButtonFromBottom;
    m_list->setGeometry(kListRect.left(), listTop, width, std::max(0, buttonTop - kButtonBelowList - listTop));
    m_useAndLaunch->setGeometry(kUseAndLaunchRect.left() + (area.width() - kDefaultClientArea.width()) / 2, buttonTop,
                                kUseAndLaunchRect.width(), kUseAndLaunchRect.height());
}

void MainWindow::tell(const std::string& text, const std::string& title) {
    showMessage(this, text, title);
}

View::Answer MainWindow::ask(const std::string& question, const std::string& title) {
    return askQuestion(this, question, title);
}

std::optional<std::string> MainWindow::askText(const std::string& prompt, const std::string& title) {
    return askForText(this, prompt, title);
}

void MainWindow::editProxySetting(const std::string& server, bool on, const std::vector<std::string>& places,
                                  SaveProxySetting save) {
    // Not modal, as the system's own page is not: each opening shows a window of its own with the values of now.
    (new ProxySettingsDialog(server, on, places, std::move(save), this))->show();
}

void MainWindow::hideToTray() {
    if (!m_tray.available()) {
        // Without a notification area a hidden window could never be brought back.
        showMinimized();
        return;
    }
    m_tray.show(m_icon, *m_trayMenu, [this](int message) { trayActivated(message); });
    hide();
}

void MainWindow::startHidden(std::chrono::milliseconds wait) {
    m_trayWaitEnd = std::chrono::steady_clock::now() + wait;
    if (!trayOrMinimised())
        m_trayWait.start(std::chrono::milliseconds(500));
}

bool MainWindow::trayOrMinimised() {
    if (m_tray.available()) {
        m_trayWait.stop();
        m_tray.show(m_icon, *m_trayMenu, [this](int message) { trayActivated(message); });
        return true;
    }
    if (std::chrono::steady_clock::now() < m_trayWaitEnd)
        return false;
    // The program never quits for want of a notification area: the window is the way back.
    m_trayWait.stop();
    showMinimized();
    return true;
}

void MainWindow::trayActivated(int message) {
    if (message == TrayIcon::kLeftButtonDoubleClick)
        restore();
    else if (message == TrayIcon::kRightButtonUp)
        m_trayMenu->popup(QCursor::pos());
}

void MainWindow::restore() {
    m_trayWait.stop();
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    show();
    raise();
    activateWindow();
}

void MainWindow::quit() {
    // Only the size is saved on the way out; a download still running is abandoned with its event loop.
    saveSize();
    m_tray.remove();
    m_quit();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // Closing always ends the program, never hides it to the notification area.
    event->accept();
    quit();
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    if (isVisible())
        m_sizeSettled.start();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_client && event->type() == QEvent::Resize)
        layoutControls();
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::saveSize() {
    m_sizeSettled.stop();
    // A maximised or minimised window has no size of the user's own: the last one stays.
    if (windowState() & (Qt::WindowMaximized | Qt::WindowMinimized | Qt::WindowFullScreen))
        return;
    const QSize area = m_client->size();
    if (area == m_savedSize)
        return;
    // A size that cannot be written costs nothing but the size: the window opens at its default next time.
    if (m_settings.setWindowSize({area.width(), area.height()}).empty())
        m_savedSize = area;
}

} // namespace tamberly
