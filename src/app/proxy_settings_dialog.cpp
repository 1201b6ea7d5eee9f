#include "app/proxy_settings_dialog.h"

#include "app/message_box.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace tamberly {

ProxySettingsDialog::ProxySettingsDialog(const std::string& server, bool on, const std::vector<std::string>& places,
                                         View::SaveProxySetting save, QWidget* parent)
    : QDialog(parent), m_save(std::move(save)), m_server(new QLineEdit(this)),
      m_on(new QCheckBox(tr("Use a proxy server"), this)) {
    setWindowTitle(tr("Internet Options"));
    setAttribute(Qt::WA_DeleteOnClose);
    // Wide enough for a host name and port to show whole.
    m_server->setMinimumWidth(m_server->fontMetrics().horizontalAdvance(QStringLiteral("proxy.example.org:65535")) +
                              24);
    m_server->setObjectName(QStringLiteral("server"));
    m_server->setText(QString::fromStdString(server));
    m_server->setPlaceholderText(tr("host:port"));
    m_on->setObjectName(QStringLiteral("useProxy"));
    m_on->setChecked(on);

    auto* form = new QFormLayout;
    form->addRow(tr("Proxy server:"), m_server);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_on);
    layout->addLayout(form);
    if (!places.empty()) {
        QString text = tr("A change is written to:");
        for (const auto& place : places)
            text += QStringLiteral("\n\u2022 ") + QString::fromStdString(place);
        auto* written = new QLabel(text, this);
        written->setObjectName(QStringLiteral("places"));
        written->setTextFormat(Qt::PlainText);
        written->setWordWrap(true);
        layout->addWidget(written);
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &ProxySettingsDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &ProxySettingsDialog::reject);
}

void ProxySettingsDialog::accept() {
    const std::string why = m_save(m_server->text().toStdString(), m_on->isChecked());
    if (!why.empty()) {
        showMessage(this, why);
        return;
    }
    QDialog::accept();
}

} // namespace tamberly
