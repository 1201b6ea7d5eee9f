#pragma once

#include <functional>

class QWidget;

namespace tamberly {

/// Starts the program: the application, the platform services and the main window, then runs until Quit.
/// show puts the window on the screen; the start-up benchmark passes one that also ends the program once shown.
int runTamberly(int& argc, char** argv, const std::function<void(QWidget&)>& show);

} // namespace tamberly
