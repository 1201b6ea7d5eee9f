#include "platform/qt/internet_options_dialog.h"

#include "platform/dialogs.h"
#include "platform/registry.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include <cstdint>

namespace tamberly {

InternetOptionsWindow::InternetOptionsWindow(Registry& registry, Dialogs& dialogs, const std::string& server,
                                             bool useProxy, QWidget* parent,
                                             const std::vector<std::string>& writtenSettings)
    : QDialog(parent), m_registry(registry), m_dialogs(dialogs), m_server(new QLineEdit(this)),
      m_useProxy(new QCheckBox(tr("Use a proxy server"), this)),
      m_buttons(new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this)) {
    setWindowTitle(tr("Internet Options"));
    // Wide enough for a host name and port to show whole.
    m_server->setMinimumWidth(m_server->fontMetrics().horizontalAdvance(QStringLiteral("proxy.example.org:65535")) +
                              24);
    setAttribute(Qt::WA_DeleteOnClose);
    m_server->setText(QString::fromStdString(server));
    m_server->setPlaceholderText(tr("host:port"));
    m_useProxy->setChecked(useProxy);

    auto* form = new QFormLayout;
    form->addRow(tr("Proxy server:"), m_server);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_useProxy);
    layout->addLayout(form);
    if (!writtenSettings.empty()) {
        QString text = tr("A change is written to registry.reg and to:");
        for (const auto& setting : writtenSettings)
            text += QStringLiteral("\n\u2022 ") + QString::fromStdString(setting);
        auto* written = new QLabel(text, this);
        written->setObjectName(QStringLiteral("writtenSettings"));
        written->setTextFormat(Qt::PlainText);
        written->setWordWrap(true);
        layout->addWidget(written);
    }
    layout->addWidget(m_buttons);
    connect(m_buttons, &QDialogButtonBox::accepted, this, &InternetOptionsWindow::accept);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &InternetOptionsWindow::reject);
}

void InternetOptionsWindow::accept() {
    try {
        // The server first, as a proxy change always does: enabling an unwritten server would use the old one.
        m_registry.RegWrite(kProxyServerName, m_server->text().toStdString(), "REG_SZ");
        m_registry.RegWrite(kProxyEnableName, std::uint32_t{m_useProxy->isChecked() ? 1u : 0u}, "REG_DWORD");
    } catch (const RegistryError& e) {
        m_dialogs.MsgBox(std::string("The proxy settings could not be saved: ") + e.what());
        return;
    }
    QDialog::accept();
}

InternetOptionsDialog::InternetOptionsDialog(Registry& registry, Dialogs& dialogs, QWidget* parent,
                                             std::vector<std::string> writtenSettings,
                                             std::function<bool()> desktopPage)
    : m_registry(registry), m_dialogs(dialogs), m_parent(parent), m_writtenSettings(std::move(writtenSettings)),
      m_desktopPage(std::move(desktopPage)) {}

void InternetOptionsDialog::open() {
    if (m_desktopPage && m_desktopPage())
        return;
    std::string server;
    bool useProxy = false;
    try {
        if (const auto value = m_registry.RegRead(kProxyServerName))
            server = regValueText(*value);
        // Read as "Show current proxy" reads it: only the number 1 means on.
        if (const auto value = m_registry.RegRead(kProxyEnableName))
            useProxy = proxyEnableIsOn(*value);
    } catch (const RegistryError& e) {
        // Offering blank fields would let OK wipe settings that were merely unreadable.
        m_dialogs.MsgBox(std::string("The proxy settings could not be read: ") + e.what());
        return;
    }
    auto* window = new InternetOptionsWindow(m_registry, m_dialogs, server, useProxy, m_parent, m_writtenSettings);
    window->show();
}

} // namespace tamberly
