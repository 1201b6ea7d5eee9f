#pragma once

#include <string>
#include <vector>

namespace tamberly {

/// How a page is opened on a Linux desktop: the stored browser gets the address as its argument ("--new-window"
/// first where it takes one), and xdg-open opens it in the desktop's default browser when none is stored.
namespace desktop_browser {

/// Whether program (a path or a bare name) is a browser known to open a new window for "--new-window URL"; others
/// get the plain URL, which most of them open in a new window or tab.
bool takesNewWindow(const std::string& program);

/// The program and arguments that open url with browser (a path or a bare name), or with the desktop's default
/// browser when browser is empty. The address stays one word: a blank or quote in it is percent-encoded.
std::vector<std::string> command(const std::string& browser, const std::string& url);

} // namespace desktop_browser
} // namespace tamberly
