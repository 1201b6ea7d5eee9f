#include "app/main_window.h"

#include "app/check_mark_delegate.h"
#include "app/message_box.h"
#include "app/proxy_list_model.h"
#include "app/proxy_settings_dialog.h"
#include "app/tray_icon.h"

#include <QCloseEvent>
#include <QCursor>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLayout>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>

// The icon lives in a resource of this static library; the linker drops it unless something refers to it.
static void initResources() {
    Q_INIT_RESOURCE(resources);
}

namespace tamberly {
namespace {

// The window's client area and its controls, in pixels at 96 dpi; Qt scales them on denser screens.
constexpr QSize kClientArea(298, 209);
constexpr QRect kStatusRect(16, 8, 265, 17);
constexpr QRect kListRect(16, 32, 265, 108);
constexpr QRect kUseAndLaunchRect(72, 152, 145, 25);

QString fromUtf8(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

} // namespace

MainWindow::MainWindow(TrayIcon& tray, std::function<void(Command)> run, std::function<void()> quit, QWidget* parent)
    : QMainWindow(parent), m_tray(tray), m_run(std::move(run)), m_quit(std::move(quit)) {
    initResources();
    m_icon = QIcon(QStringLiteral(":/tamberly.ico"));
    setObjectName(QStringLiteral("mainWindow"));
    setWindowTitle(QStringLiteral("Tamberly"));
    setWindowIcon(m_icon);
    buildControls();
    buildMenus();
}

MainWindow::~MainWindow() = default;

void MainWindow::buildControls() {
    auto* client = new QWidget(this);
    client->setFixedSize(kClientArea);
    // Qt has no scroll-bar colour role; the button face is the colour the platform paints scroll bars with.
    QPalette background = client->palette();
    background.setColor(QPalette::Window, background.color(QPalette::Button));
    client->setPalette(background);
    client->setAutoFillBackground(true);
    setCentralWidget(client);

    m_status = new QLabel(client);
    m_status->setObjectName(QStringLiteral("status"));
    m_status->setGeometry(kStatusRect);
    m_status->setTextFormat(Qt::PlainText);
    m_status->setFocusPolicy(Qt::NoFocus);

    m_model = new ProxyListModel(this);
    m_list = new QListView(client);
    m_list->setObjectName(QStringLiteral("proxyList"));
    m_list->setGeometry(kListRect);
    m_list->setModel(m_model);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setUniformItemSizes(true);
    m_list->setTextElideMode(Qt::ElideRight);
    m_list->setItemDelegate(new CheckMarkDelegate(m_list));

    m_useAndLaunch = new QPushButton(QStringLiteral("Use and launch"), client);
    m_useAndLaunch->setObjectName(QStringLiteral("useAndLaunch"));
    m_useAndLaunch->setGeometry(kUseAndLaunchRect);
    m_useAndLaunch->setAutoDefault(false);
    connect(m_useAndLaunch, &QPushButton::clicked, this, [this] { m_run(Command::UseSelectedAndLaunch); });

    setTabOrder(m_list, m_useAndLaunch);
    m_list->setFocus();

    // The window never changes size: fit it around the menu bar and the fixed client area.
    layout()->setSizeConstraint(QLayout::SetFixedSize);
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

    // Shown only as the notification-area icon's pop-up, never in the menu bar.
    m_trayMenu = menu(this, "trayMenu", "Popup");
    command(m_trayMenu, "turnProxyOffAndLaunch", "No proxy and launch", Command::TurnProxyOffAndLaunch);
    command(m_trayMenu, "useRandomAndLaunch", "Random proxy and launch", Command::UseRandomAndLaunch);
    item(m_trayMenu, "quitFromTray", "Quit", [this] { quit(); });

    QMenu* file = menu(menuBar(), "fileMenu", "File");
    menuBar()->addMenu(file);
    command(file, "visitWebsite", "Visit Website", Command::VisitWebsite);
    item(file, "hideToTray", "Hide", [this] { hideToTray(); });
    QAction* quitAction = item(file, "quit", "Quit", [this] { quit(); });
    quitAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    quitAction->setShortcutContext(Qt::ApplicationShortcut);

    QMenu* proxy = menu(menuBar(), "proxyMenu", "Proxy");
    menuBar()->addMenu(proxy);
    command(proxy, "downloadList", "Download List", Command::DownloadList);
    QMenu* browser = menu(proxy, "internetExplorerMenu", "Internet Explorer");
    proxy->addMenu(browser);
    command(browser, "launchBrowser", "Launch", Command::LaunchBrowser);
    command(browser, "turnProxyOff", "No proxy", Command::TurnProxyOff);
    command(browser, "useSelected", "Use this proxy", Command::UseSelected);
    command(browser, "showProxySettings", "Show Internet Options", Command::ShowProxySettings);
    command(proxy, "showCurrentProxy", "Show current proxy", Command::ShowCurrentProxy);
    command(proxy, "reportDeadProxy", "Report dead proxy", Command::ReportDeadProxy);
    command(proxy, "submitProxy", "Add a new proxy", Command::SubmitProxy);
    command(proxy, "checkProxies", "Check proxies", Command::CheckProxies);
    // Esc stops a check from anywhere in the window, with the menu closed.
    command(proxy, "stopCheck", "Stop checking", Command::StopCheck)->setShortcut(QKeySequence(Qt::Key_Escape));
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
    return selected.first().row();
}

void MainWindow::showMarks(std::vector<RowMark> marks) {
    m_model->showMarks(std::move(marks));
}

void MainWindow::clearMarks() {
    m_model->clearMarks();
}

void MainWindow::setStatus(const std::string& text) {
    const QString full = fromUtf8(text);
    // A text wider than the line ends in an ellipsis, and the whole of it is the tool tip.
    const QString shown = m_status->fontMetrics().elidedText(full, Qt::ElideRight, m_status->width());
    m_status->setText(shown);
    // Tool tips take anything that looks like markup for markup: the text goes in escaped, always as rich text.
    m_status->setToolTip(shown == full ? QString() : QStringLiteral("<qt>%1</qt>").arg(full.toHtmlEscaped()));
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

void MainWindow::trayActivated(int message) {
    if (message == TrayIcon::kLeftButtonDoubleClick)
        restore();
    else if (message == TrayIcon::kRightButtonUp)
        m_trayMenu->popup(QCursor::pos());
}

void MainWindow::restore() {
    showNormal();
    raise();
    activateWindow();
}

void MainWindow::quit() {
    // Nothing is saved on the way out; a download still running is abandoned with its event loop.
    m_tray.remove();
    m_quit();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // Closing always ends the program, never hides it to the notification area.
    event->accept();
    quit();
}

} // namespace tamberly
