#pragma once

namespace tamberly {

class Launcher;
class ProxyListStore;
class Settings;
class View;

/// Start-up, the same on every front end: shows the stored list and, on the first start (no browser stored yet),
/// stores the browser the launcher finds.
void startUp(View& view, ProxyListStore& store, Settings& settings, Launcher& launcher);

} // namespace tamberly
