#pragma once

#include "commands/view.h"

#include <QDialog>

#include <string>
#include <vector>

class QCheckBox;
class QLineEdit;

namespace tamberly {

/// The program's own proxy settings window, for a desktop without a page of its own: the proxy server and whether it
/// is used, with the places a change is written to. OK saves through the commands and closes, or says why not and
/// stays open. The window deletes itself when closed.
class ProxySettingsDialog final : public QDialog {
    Q_OBJECT

public:
    ProxySettingsDialog(const std::string& server, bool on, const std::vector<std::string>& places,
                        View::SaveProxySetting save, QWidget* parent = nullptr);

    void accept() override;

private:
    View::SaveProxySetting m_save;
    QLineEdit* m_server;
    QCheckBox* m_on;
};

} // namespace tamberly
