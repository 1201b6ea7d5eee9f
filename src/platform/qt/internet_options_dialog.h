#pragma once

#include "platform/options_panel.h"

#include <QDialog>

#include <functional>
#include <string>
#include <vector>

class QCheckBox;
class QDialogButtonBox;
class QLineEdit;

namespace tamberly {

class Dialogs;
class Registry;

/// One Internet Options window: the proxy server and whether it is used, written to the registry on OK.
class InternetOptionsWindow final : public QDialog {
    Q_OBJECT

public:
    InternetOptionsWindow(Registry& registry, Dialogs& dialogs, const std::string& server, bool useProxy,
                          QWidget* parent = nullptr, const std::vector<std::string>& writtenSettings = {});

    /// Writes both values and closes; stays open, after saying why, when the registry could not be written.
    void accept() override;

private:
    Registry& m_registry;
    Dialogs& m_dialogs;
    QLineEdit* m_server;
    QCheckBox* m_useProxy;
    QDialogButtonBox* m_buttons;
};

/// The Internet Options panel: the desktop's own proxy page where desktopPage opens one, else the program's own
/// window over the registry: each open() shows a new non-modal window with the values of that moment and returns
/// at once; the window is deleted when it closes, and it names the desktop settings a change writes.
class InternetOptionsDialog final : public OptionsPanel {
public:
    /// Windows are shown over parent (may be null) and message boxes go through dialogs.
    InternetOptionsDialog(Registry& registry, Dialogs& dialogs, QWidget* parent = nullptr,
                          std::vector<std::string> writtenSettings = {}, std::function<bool()> desktopPage = {});

    void open() override;

private:
    Registry& m_registry;
    Dialogs& m_dialogs;
    QWidget* m_parent;
    std::vector<std::string> m_writtenSettings;
    std::function<bool()> m_desktopPage;
};

} // namespace tamberly
