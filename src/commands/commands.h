#pragma once

#include "commands/command.h"

#include <functional>
#include <memory>

namespace tamberly {

class Platform;
class Settings;
class View;

/// Every command, the same on each front end, built over one window's view and the platform; the window turns
/// its clicks into run() calls.
class Commands final {
public:
    /// Runs a function later on the window's thread; callable from any thread (the proxy check reports through it).
    using Post = std::function<void(std::function<void()>)>;

    /// settings is the one settings object of the program, already read once for start-up.
    Commands(View& view, Platform& platform, Settings& settings, Post post = {});
    ~Commands();
    Commands(const Commands&) = delete;
    Commands& operator=(const Commands&) = delete;

    /// Start-up: shows the stored list and, on the first start, stores the browser it finds.
    void startUp();
    /// Runs one command after reading the settings file once for it.
    void run(Command command);
    /// Whether the user's session starts the program ("Start with the session" is checked).
    bool startsWithSession() const;
    /// Stops a running proxy check at once, dropping what it found (the program quits).
    void abandonCheck();

private:
    struct Handlers;
    void toggleStartWithSession();
    Settings& m_settings;
    std::unique_ptr<Handlers> m_handlers;
};

} // namespace tamberly
