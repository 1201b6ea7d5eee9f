#include "proxy/start_up.h"

#include "platform/browser_locator.h"
#include "storage/ini_file.h"
#include "storage/proxy_list_store.h"

namespace tamberly {

void Form_Load(const std::string& iniPath, ListBox& Proxydisplay, BrowserLocator& locator) {
    FillList(LoadList(iniPath), Proxydisplay);
    // A stored path is trusted as it is, even when the file has gone; the lookup runs only while none is stored.
    if (ReadINI("Path", "IE", iniPath).empty()) {
        const std::string browser = locator.findBrowser();
        if (!browser.empty())
            WriteINI("Path", "IE", browser, iniPath);
    }
}

} // namespace tamberly
