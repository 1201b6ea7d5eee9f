#pragma once

#include <string>

namespace tamberly {

/// Opens web pages in the user's browser.
class WebBrowser {
public:
    virtual ~WebBrowser() = default;
    /// Opens url in a new browser window, once. Returns the empty text on success, otherwise why it failed.
    virtual std::string openInNewWindow(const std::string& url) = 0;
};

} // namespace tamberly
