#pragma once

#include "commands/view.h"

#include <optional>
#include <string>

#include <windows.h>

namespace tamberly::win32 {

/// The title of a message that has none of its own, and of the window.
inline constexpr const wchar_t* kApplicationTitle = L"Tamberly";

/// A modal message with an OK button and no icon; an empty title shows the application's title.
void showMessage(HWND owner, const std::string& text, const std::string& title = {});
/// A modal question with Yes (the default) and No, no icon.
View::Answer askQuestion(HWND owner, const std::string& question, const std::string& title);
/// One line of text with an empty default, from the dialog resource IDD_ASK_TEXT of instance; nullopt when
/// cancelled, the empty text when OK was pressed on an empty line.
std::optional<std::string> askForText(HINSTANCE instance, HWND owner, const std::string& prompt,
                                      const std::string& title);

/// A window's text in UTF-8.
std::string windowText(HWND window);

} // namespace tamberly::win32
