#pragma once

#include "commands/view.h"

#include <optional>
#include <string>

class QWidget;

namespace tamberly {

/// A modal message with an OK button and no icon, over parent; an empty title shows the application's title.
void showMessage(QWidget* parent, const std::string& text, const std::string& title = {});
/// A modal question with Yes (the default) and No, no icon.
View::Answer askQuestion(QWidget* parent, const std::string& question, const std::string& title);
/// One line of text with an empty default; nullopt when cancelled.
std::optional<std::string> askForText(QWidget* parent, const std::string& prompt, const std::string& title);

} // namespace tamberly
