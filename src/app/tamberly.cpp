#include "app/tamberly.h"

#include "net/desktop_web_browser.h"
#include "platform/linux/user_paths.h"
#include "platform/qt/check_mark_delegate.h"
#include "platform/qt/internet_options_dialog.h"
#include "platform/qt/proxy_list_model.h"
#include "platform/qt/qt_dialogs.h"
#include "platform/qt/qt_list_box.h"
#include "platform/qt/qt_status_line.h"
#include "platform/qt/qt_timer.h"
#include "platform/qt/qt_transfer_control.h"
#include "platform/browser_locator.h"
#include "storage/ini_file.h"
#include "storage/proxy_list_store.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QCursor>
#include <QLabel>
#include <QLayout>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSystemTrayIcon>

#include <algorithm>

// The icon lives in a resource of this static library; the linker drops it unless something refers to it.
static void initResources() { Q_INIT_RESOURCE(resources); }

namespace tamberly {
namespace {

// Client area and control rectangles in pixels at 96 dpi (the design's twips divided by 15); Qt scales them
// on denser screens.
constexpr QSize kClientArea(298, 209);
constexpr QRect kStatusRect(16, 8, 265, 17);
constexpr QRect kProxydisplayRect(16, 32, 265, 108);
constexpr QRect kChoiceRect(72, 152, 145, 25);

// Mouse message numbers of the notification-area icon.
constexpr int WM_LBUTTONDOWN = 0x201;
constexpr int WM_LBUTTONDBLCLK = 0x203;
constexpr int WM_RBUTTONUP = 0x205;
constexpr int WM_MBUTTONDOWN = 0x207;

} // namespace

Tamberly::Tamberly(TamberlyServices services, QWidget* parent)
    : QMainWindow(parent), m_services(std::move(services)) {
    initResources();
    m_imgIcon = QIcon(QStringLiteral(":/tamberly.ico"));
    setObjectName(QStringLiteral("Tamberly"));
    setWindowTitle(QStringLiteral("Tamberly"));
    setWindowIcon(m_imgIcon);

    if (m_services.dialogs) {
        m_dialogs = m_services.dialogs;
    } else {
        m_ownDialogs = std::make_unique<QtDialogs>(this);
        m_dialogs = m_ownDialogs.get();
    }
    if (m_services.transfer) {
        m_Inet1 = m_services.transfer;
    } else {
        m_ownInet1 = std::make_unique<QtTransferControl>();
        m_Inet1 = m_ownInet1.get();
    }
    buildControls();
    buildMenus();

    m_systemProxy = std::make_unique<SystemProxy>(m_services.registry, *m_statusLine, *m_dialogs);
    m_browserLaunch = std::make_unique<BrowserLaunch>(m_services.shell, *m_dialogs, m_IniPath);
    m_selection = std::make_unique<SelectionCommands>(*m_listBox, *m_systemProxy, *m_browserLaunch,
                                                      m_services.random, m_IniPath);
    connect(m_choice, &QPushButton::clicked, this, [this] { m_selection->choice_Click(); });
    m_download = std::make_unique<ListDownload>(*m_systemProxy, *m_Inet1, *m_timer, *m_statusLine, *m_listBox,
                                                m_proxylist, m_IniPath);
    connect(&m_Timer1, &QTimer::timeout, this, [this] { m_download->Timer1_Timer(); });
    m_submission = std::make_unique<ProxySubmission>(*m_Inet1, *m_statusLine, *m_listBox, *m_dialogs, m_IniPath);
    m_webBrowser = std::make_unique<DesktopWebBrowser>(m_services.shell, m_IniPath);
    m_optionsPanel = std::make_unique<InternetOptionsDialog>(
        m_services.registry, *m_dialogs, this, m_services.writtenSettings, m_services.openDesktopProxyPage);
    m_website = std::make_unique<Website>(*m_webBrowser, *m_optionsPanel, *m_dialogs, m_IniPath);
    m_check = std::make_unique<CheckCommand>(
        *m_listBox, *m_statusLine, *m_proxyModel,
        [this](std::function<void()> task) { QMetaObject::invokeMethod(this, std::move(task), Qt::QueuedConnection); },
        m_IniPath);
    // A check's verdicts belong to the rows it read: a new list drops a check still running.
    connect(m_proxyModel, &QAbstractItemModel::modelAboutToBeReset, this, [this] { m_check->abandon(); });

    Form_Load();
}

Tamberly::~Tamberly() = default;

void Tamberly::buildControls() {
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

    m_proxyModel = new ProxyListModel(this);
    m_Proxydisplay = new QListView(client);
    m_Proxydisplay->setObjectName(QStringLiteral("Proxydisplay"));
    m_Proxydisplay->setGeometry(kProxydisplayRect);
    m_Proxydisplay->setModel(m_proxyModel);
    m_Proxydisplay->setSelectionMode(QAbstractItemView::SingleSelection);
    m_Proxydisplay->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_Proxydisplay->setUniformItemSizes(true);
    m_Proxydisplay->setTextElideMode(Qt::ElideRight);
    m_Proxydisplay->setItemDelegate(new CheckMarkDelegate(m_Proxydisplay));

    m_choice = new QPushButton(QStringLiteral("Use and launch"), client);
    m_choice->setObjectName(QStringLiteral("choice"));
    m_choice->setGeometry(kChoiceRect);
    m_choice->setAutoDefault(false);

    setTabOrder(m_Proxydisplay, m_choice);
    m_Proxydisplay->setFocus();

    m_Timer1.setParent(this);
    m_Timer1.setObjectName(QStringLiteral("Timer1"));
    m_Timer1.setInterval(250);

    m_statusLine = std::make_unique<QtStatusLine>(*m_status);
    m_listBox = std::make_unique<QtListBox>(*m_Proxydisplay, *m_proxyModel);
    m_timer = std::make_unique<QtTimer>(m_Timer1);

    // The window never changes size: fit it around the menu bar and the fixed client area.
    layout()->setSizeConstraint(QLayout::SetFixedSize);
}

void Tamberly::buildMenus() {
    const auto item = [this](QMenu* menu, const char* name, const char* caption, auto handler) {
        QAction* action = menu->addAction(QString::fromUtf8(caption));
        action->setObjectName(QString::fromUtf8(name));
        connect(action, &QAction::triggered, this, handler);
        return action;
    };
    const auto menu = [](QWidget* parent, const char* name, const char* caption) {
        auto* m = new QMenu(QString::fromUtf8(caption), parent);
        m->setObjectName(QString::fromUtf8(name));
        return m;
    };

    // Shown only as the notification-area icon's pop-up, never in the menu bar.
    m_Mnupopup = menu(this, "Mnupopup", "Popup");
    item(m_Mnupopup, "Mnunoproxy2", "No proxy and launch", [this] { m_selection->Mnunoproxy2_Click(); });
    item(m_Mnupopup, "MnuSwitch", "Random proxy and launch", [this] { m_selection->MnuSwitch_Click(); });
    item(m_Mnupopup, "Mnuquit2", "Quit", [this] { Mnuquit2_Click(); });

    QMenu* file = menu(menuBar(), "Mnufile", "File");
    menuBar()->addMenu(file);
    item(file, "Mnuvisit", "Visit Website", [this] { m_website->Mnuvisit_Click(); });
    item(file, "Mnuhide", "Hide", [this] { Mnuhide_Click(); });
    QAction* quit = item(file, "Mnuquit", "Quit", [this] { Mnuquit_Click(); });
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    quit->setShortcutContext(Qt::ApplicationShortcut);

    QMenu* proxy = menu(menuBar(), "Mnuproxy", "Proxy");
    menuBar()->addMenu(proxy);
    item(proxy, "Mnulist", "Download List", [this] { m_download->Mnulist_Click(); });
    QMenu* ie = menu(proxy, "MnuIE", "Internet Explorer");
    proxy->addMenu(ie);
    item(ie, "Mnulaunch", "Launch", [this] { m_browserLaunch->Mnulaunch_Click(); });
    item(ie, "Mnunoproxy", "No proxy", [this] { m_systemProxy->Mnunoproxy_Click(); });
    item(ie, "Mnuthisproxy", "Use this proxy", [this] { m_selection->Mnuthisproxy_Click(); });
    item(ie, "Mnuclose", "Show Internet Options", [this] { m_website->Mnuclose_Click(); });
    item(proxy, "currproxy", "Show current proxy", [this] { m_systemProxy->currproxy_Click(); });
    item(proxy, "Mnudead", "Report dead proxy", [this] { m_submission->Mnudead_Click(); });
    item(proxy, "Mnuadd", "Add a new proxy", [this] { m_submission->Mnuadd_Click(); });
    item(proxy, "Mnucheck", "Check proxies", [this] { m_check->Mnucheck_Click(); });
}

void Tamberly::Form_Load() {
    m_IniPath = configDir() + "/prefs.ini";
    FillList(LoadList(m_IniPath), *m_listBox);
    // A stored path is trusted as it is, even when the file has gone; the lookup runs only while none is stored.
    if (ReadINI("Path", "IE", m_IniPath).empty()) {
        const std::string browser = m_services.browserLocator.findBrowser();
        if (!browser.empty())
            WriteINI("Path", "IE", browser, m_IniPath);
    }
}

void Tamberly::Mnuhide_Click() {
    const bool trayAvailable =
        m_services.trayAvailable ? m_services.trayAvailable() : QSystemTrayIcon::isSystemTrayAvailable();
    if (!trayAvailable) {
        // Without a notification area a hidden window could never be brought back.
        showMinimized();
        return;
    }
    if (!m_tray) {
        // Asked once: Qt, too, picks the kind of host when the icon is made and keeps it.
        m_trayHost = m_services.trayHost ? m_services.trayHost() : currentTrayHost();
        m_tray = new QSystemTrayIcon(m_imgIcon, this);
        m_tray->setToolTip(QStringLiteral(":-)"));
        if (m_trayHost == TrayHost::StatusNotifierItem) {
            // Such a host shows the icon's menu itself, where it chooses (the pointer's place is unknown on
            // Wayland): hand it the pop-up's three commands.
            auto* hostMenu = new QMenu(this);
            hostMenu->setObjectName(QStringLiteral("MnupopupForHost"));
            hostMenu->addActions(m_Mnupopup->actions());
            m_tray->setContextMenu(hostMenu);
        }
        connect(m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
            switch (reason) {
            case QSystemTrayIcon::DoubleClick:
                pichook_MouseDown(WM_LBUTTONDBLCLK);
                break;
            case QSystemTrayIcon::Context:
                // Only a host that does not show the menu itself asks for it this way.
                pichook_MouseDown(WM_RBUTTONUP);
                break;
            case QSystemTrayIcon::Trigger:
                // A StatusNotifierItem host never reports a double click, only this activation: the one way
                // back to the window there.
                pichook_MouseDown(m_trayHost == TrayHost::StatusNotifierItem ? WM_LBUTTONDBLCLK : WM_LBUTTONDOWN);
                break;
            case QSystemTrayIcon::MiddleClick:
                pichook_MouseDown(WM_MBUTTONDOWN);
                break;
            case QSystemTrayIcon::Unknown:
                break;
            }
        });
    }
    m_tray->show();
    hide();
}

void Tamberly::pichook_MouseDown(int message) {
    if (message == WM_LBUTTONDBLCLK)
        RestoreWindow();
    else if (message == WM_RBUTTONUP)
        m_Mnupopup->popup(QCursor::pos());
}

void Tamberly::RestoreWindow() {
    showNormal();
    raise();
    activateWindow();
}

void Tamberly::reportDesktopProblem(const std::string& text) {
    // A command writes two values, and its own status text comes between them: show its problems after it ends.
    if (std::find(m_desktopProblems.begin(), m_desktopProblems.end(), text) != m_desktopProblems.end())
        return;
    m_desktopProblems.push_back(text);
    if (m_desktopProblems.size() > 1)
        return;
    QTimer::singleShot(0, this, [this] {
        std::string all;
        for (const auto& problem : m_desktopProblems)
            all += (all.empty() ? "" : " ") + problem;
        m_desktopProblems.clear();
        m_statusLine->setCaption(all);
    });
}

void Tamberly::RemoveTrayIcon() {
    ++m_trayRemovals;
    if (m_tray)
        m_tray->hide();
}

void Tamberly::endProcess() {
    // Nothing is saved on the way out; a download still running is abandoned with its event loop, a check at once.
    if (m_check)
        m_check->abandon();
    if (m_services.endProcess)
        m_services.endProcess();
    else
        QCoreApplication::exit(0);
}

void Tamberly::Mnuquit_Click() {
    RemoveTrayIcon();
    endProcess();
}

void Tamberly::Mnuquit2_Click() {
    RemoveTrayIcon();
    endProcess();
}

void Tamberly::closeEvent(QCloseEvent* event) {
    // form_unload: closing always ends the program, never hides it to the notification area.
    RemoveTrayIcon();
    event->accept();
    endProcess();
}

} // namespace tamberly
