#pragma once

#include "commands/command.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace tamberly {

class Platform;
class ProxyProbe;
class Settings;
class View;
class WatchTimer;

/// What the proxy watcher runs on; without both, "Keep me on a working proxy" is not offered.
struct WatchPorts {
    WatchTimer* timer = nullptr;
    ProxyProbe* probe = nullptr;
};

/// Every command, the same on each front end, built over one window's view and the platform; the window turns
/// its clicks into run() calls.
class Commands final {
public:
    /// Runs a function later on the window's thread; callable from any thread (the proxy check reports through it).
    using Post = std::function<void(std::function<void()>)>;

    /// settings is the one settings object of the program, already read once for start-up.
    Commands(View& view, Platform& platform, Settings& settings, Post post = {}, WatchPorts watch = {});
    ~Commands();
    Commands(const Commands&) = delete;
    Commands& operator=(const Commands&) = delete;

    /// Start-up: shows the stored list with the last check's marks and, on the first start, stores the browser it
    /// finds; then watching starts when it is on.
    void startUp();
    /// Runs one command after reading the settings file once for it.
    void run(Command command);
    /// Whether the user's session starts the program ("Start with the session" is checked).
    bool startsWithSession() const;
    /// Whether the list is sorted by the last check ("Sort by last check" is checked).
    bool sortedByCheck() const;
    /// Whether "Keep me on a working proxy" is checked; false where there is no watcher.
    bool watching() const;
    bool canWatch() const;
    /// Stops a running proxy check at once, dropping what it found, and the watcher (the program quits).
    void abandonCheck();

private:
    struct Handlers;
    void runOne(Command command);
    void toggleStartWithSession();
    void toggleSortByCheck();
    // Shows the rows in the order the sorted view asks for, when it is on.
    void showOrder();
    // The entry of the list that the proxy in force names, when it is a manual proxy.
    std::optional<std::string> entryInForce();
    Settings& m_settings;
    std::unique_ptr<Handlers> m_handlers;
};

} // namespace tamberly
