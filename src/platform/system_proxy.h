#pragma once

#include "core/proxy_setting.h"

#include <optional>
#include <string>
#include <vector>

namespace tamberly {

/// What became of a change in one place where the system keeps the proxy setting.
struct BackendOutcome {
    enum class State {
        Written,    // written, and read back as written
        NotPresent, // this place does not exist here (no schema, no session bus, ...): nothing to keep up to date
        Failed,     // it exists, but the change did not take; why says so
    };
    /// The place, in words for the user: "registry.reg", "the GNOME proxy setting (org.gnome.system.proxy)", ...
    std::string name;
    State state = State::Written;
    /// Failed: a whole sentence for the user, shown as it is. The record's failure reads "The proxy setting could not
    /// be changed: " and the reason; a desktop's names that desktop ("The GNOME proxy setting (...) could not be
    /// changed: ...").
    std::string why;
};

/// The outcome of one change, place by place.
struct ApplyOutcome {
    /// The record of the proxy in force comes first (registry.reg on Linux, the Internet Settings on Windows); when
    /// it failed, nothing else was written.
    std::vector<BackendOutcome> backends;

    /// The record was written: the change is in force.
    bool recorded() const { return !backends.empty() && backends.front().state != BackendOutcome::State::Failed; }
    /// The sentence saying why the record could not be written; empty when it was.
    std::string failure() const {
        return backends.empty() || recorded() ? std::string() : backends.front().why;
    }
    /// The other places that failed, their sentences joined by a blank; empty when none did.
    std::string problems() const {
        std::string text;
        for (std::size_t i = 1; i < backends.size(); ++i)
            if (backends[i].state == BackendOutcome::State::Failed)
                text += (text.empty() ? "" : " ") + backends[i].why;
        return text;
    }
};

/// The setting in force, or why it could not be read.
struct CurrentSetting {
    std::optional<ProxySetting> setting;
    std::string why;
};

/// The user's web proxy as the system keeps it: the one port through which the program reads and changes it.
class SystemProxy {
public:
    virtual ~SystemProxy() = default;
    /// The setting the user's programs follow now, with every field filled (servers empty rather than nullopt).
    virtual CurrentSetting current() = 0;
    /// Writes change in every place, the record first, each place at most once, and checks each write by reading it
    /// back; bounded in time.
    virtual ApplyOutcome apply(const ProxySetting& change) = 0;
    /// The places a change is written to, in words for the user.
    virtual std::vector<std::string> places() const = 0;
    /// Opens the system's own page for the proxy settings and returns at once; false when there is none here.
    virtual bool openSettingsPage() = 0;
};

} // namespace tamberly
