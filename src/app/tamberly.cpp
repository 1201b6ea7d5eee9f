#include "app/tamberly.h"

#include "net/commands.h"
#include "platform/qt/check_mark_delegate.h"
#include "platform/qt/proxy_list_model.h"
#include "platform/qt/qt_list_box.h"
#include "platform/qt/qt_status_line.h"
#include "platform/qt/qt_timer.h"
#include "platform/qt/tray_icon.h"

#include <QCloseEvent>
#include <QCursor>
#include <QLabel>
#include <QLayout>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>

#include <algorithm>

// The icon lives in a resource of this static library; the linker drops it unless something refers to it.
static void initResources() {
    Q_INIT_RESOURCE(resources);
}

namespace tamberly {
namespace {

// Client area and control rectangles in pixels at 96 dpi (the design's twips divided by 15); Qt scales them
// on denser screens.
constexpr QSize kClientArea(298, 209);
constexpr QRect kStatusRect(16, 8, 265, 17);
constexpr QRect kProxydisplayRect(16, 32, 265, 108);
constexpr QRect kChoiceRect(72, 152, 145, 25);

} // namespace

Tamberly::Tamberly(TrayIcon& tray, std::function<void()> endProcess, QWidget* parent)
    : QMainWindow(parent), m_tray(tray), m_endProcess(std::move(endProcess)) {
    initResources();
    m_imgIcon = QIcon(QStringLiteral(":/tamberly.ico"));
    setObjectName(QStringLiteral("Tamberly"));
    setWindowTitle(QStringLiteral("Tamberly"));
    setWindowIcon(m_imgIcon);
    buildControls();
    buildMenus();
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

StatusLine& Tamberly::statusLine() {
    return *m_statusLine;
}

ListBox& Tamberly::listBox() {
    return *m_listBox;
}

Timer& Tamberly::timer() {
    return *m_timer;
}

CheckMarks& Tamberly::checkMarks() {
    return *m_proxyModel;
}

CheckCommand::Post Tamberly::post() {
    return
        [this](std::function<void()> task) { QMetaObject::invokeMethod(this, std::move(task), Qt::QueuedConnection); };
}

void Tamberly::forwardTo(Commands& commands, CheckCommand& check) {
    m_commands = &commands;
    m_check = &check;
    connect(m_choice, &QPushButton::clicked, this, [this] { m_commands->selection.choice_Click(); });
    connect(&m_Timer1, &QTimer::timeout, this, [this] { m_commands->download.Timer1_Timer(); });
    // A check's verdicts belong to the rows it read: a new list drops a check still running.
    connect(m_proxyModel, &QAbstractItemModel::modelAboutToBeReset, this, [this] { m_check->abandon(); });
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
    item(m_Mnupopup, "Mnunoproxy2", "No proxy and launch", [this] { m_commands->selection.Mnunoproxy2_Click(); });
    item(m_Mnupopup, "MnuSwitch", "Random proxy and launch", [this] { m_commands->selection.MnuSwitch_Click(); });
    item(m_Mnupopup, "Mnuquit2", "Quit", [this] { Mnuquit2_Click(); });

    QMenu* file = menu(menuBar(), "Mnufile", "File");
    menuBar()->addMenu(file);
    item(file, "Mnuvisit", "Visit Website", [this] { m_commands->website.Mnuvisit_Click(); });
    item(file, "Mnuhide", "Hide", [this] { Mnuhide_Click(); });
    QAction* quit = item(file, "Mnuquit", "Quit", [this] { Mnuquit_Click(); });
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    quit->setShortcutContext(Qt::ApplicationShortcut);

    QMenu* proxy = menu(menuBar(), "Mnuproxy", "Proxy");
    menuBar()->addMenu(proxy);
    item(proxy, "Mnulist", "Download List", [this] { m_commands->download.Mnulist_Click(); });
    QMenu* ie = menu(proxy, "MnuIE", "Internet Explorer");
    proxy->addMenu(ie);
    item(ie, "Mnulaunch", "Launch", [this] { m_commands->browserLaunch.Mnulaunch_Click(); });
    item(ie, "Mnunoproxy", "No proxy", [this] { m_commands->systemProxy.Mnunoproxy_Click(); });
    item(ie, "Mnuthisproxy", "Use this proxy", [this] { m_commands->selection.Mnuthisproxy_Click(); });
    item(ie, "Mnuclose", "Show Internet Options", [this] { m_commands->website.Mnuclose_Click(); });
    item(proxy, "currproxy", "Show current proxy", [this] { m_commands->systemProxy.currproxy_Click(); });
    item(proxy, "Mnudead", "Report dead proxy", [this] { m_commands->submission.Mnudead_Click(); });
    item(proxy, "Mnuadd", "Add a new proxy", [this] { m_commands->submission.Mnuadd_Click(); });
    item(proxy, "Mnucheck", "Check proxies", [this] { m_check->Mnucheck_Click(); });
}

void Tamberly::Mnuhide_Click() {
    if (!m_tray.available()) {
        // Without a notification area a hidden window could never be brought back.
        showMinimized();
        return;
    }
    m_tray.show(m_imgIcon, *m_Mnupopup, [this](int message) { pichook_MouseDown(message); });
    hide();
}

void Tamberly::pichook_MouseDown(int message) {
    if (message == TrayIcon::kLeftButtonDoubleClick)
        RestoreWindow();
    else if (message == TrayIcon::kRightButtonUp)
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
    m_tray.remove();
}

void Tamberly::endProcess() {
    // Nothing is saved on the way out; a download still running is abandoned with its event loop, a check at once.
    if (m_check)
        m_check->abandon();
    m_endProcess();
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
