#include "commands/start_up.h"

#include "commands/view.h"
#include "core/proxy_list_store.h"
#include "core/settings.h"
#include "platform/launcher.h"

namespace tamberly {

void startUp(View& view, ProxyListStore& store, Settings& settings, Launcher& launcher) {
    const std::string list = store.load();
    view.showEntries(splitListText(list));
    // A stored path is trusted as it is, even when the file has gone; the lookup runs only while none is stored.
    if (settings.browserPath().empty()) {
        const std::string browser = launcher.findBrowser();
        if (!browser.empty())
            settings.setBrowserPath(browser);
    }
}

} // namespace tamberly
