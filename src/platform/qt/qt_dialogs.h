#pragma once

#include "platform/dialogs.h"

class QWidget;

namespace tamberly {

/// Message and input boxes over QMessageBox and QInputDialog, owned by a parent window.
class QtDialogs final : public Dialogs {
public:
    explicit QtDialogs(QWidget* parent = nullptr) : m_parent(parent) {}
    /// The window the boxes are shown over, when it is made after the dialogs.
    void setParent(QWidget* parent) { m_parent = parent; }
    int MsgBox(const std::string& text, int buttons, const std::string& title) override;
    std::string InputBox(const std::string& prompt, const std::string& title) override;

private:
    QWidget* m_parent;
};

} // namespace tamberly
