#include "net/commands.h"

namespace tamberly {

Commands::Commands(const CommandParts& parts)
    : m_IniPath(parts.iniPath), systemProxy(parts.registry, parts.status, parts.dialogs),
      browserLaunch(parts.shell, parts.dialogs, m_IniPath),
      selection(parts.Proxydisplay, systemProxy, browserLaunch, parts.random, m_IniPath),
      download(systemProxy, parts.transfer, parts.Timer1, parts.status, parts.Proxydisplay, m_proxylist, m_IniPath),
      submission(parts.transfer, parts.status, parts.Proxydisplay, parts.dialogs, m_IniPath),
      website(parts.webBrowser, parts.optionsPanel, parts.dialogs, m_IniPath) {}

} // namespace tamberly
