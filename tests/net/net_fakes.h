#pragma once

// Stand-ins for the server exchange tests: a transfer control whose answer is a script (it may run other commands
// while "in flight"), and recorders for the browser and the options panel.

#include "platform/options_panel.h"
#include "platform/transfer_control.h"
#include "platform/web_browser.h"

#include <functional>
#include <string>
#include <vector>

namespace tamberly::test {

/// Answers each OpenURL with `answer(url)`; StillExecuting() is true while the answer runs, as with the real one.
class ScriptedInet final : public TransferControl {
public:
    std::function<TransferResult(const std::string&)> answer = [](const std::string&) {
        return TransferResult{true, {}, {}};
    };
    std::vector<std::string> urls;
    bool busy = false;

    bool StillExecuting() const override { return busy; }
    TransferResult OpenURL(const std::string& url) override {
        urls.push_back(url);
        busy = true;
        TransferResult result = answer(url);
        busy = false;
        return result;
    }
};

class FakeWebBrowser final : public WebBrowser {
public:
    std::vector<std::string> opened;
    std::string failure;
    std::string openInNewWindow(const std::string& url) override {
        opened.push_back(url);
        return failure;
    }
};

class FakeOptionsPanel final : public OptionsPanel {
public:
    int opened = 0;
    void open() override { ++opened; }
};

} // namespace tamberly::test
