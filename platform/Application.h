#pragma once

#include <QWidget>
#include <vector>

namespace lorvanta {

// Runs the application: makes the QApplication, loads the main interface file from the
// main bundle, shows its window, tells the delegate that launching finished and runs the
// event loop. Returns the loop's exit code.
int applicationMain(int argc, char** argv);

class Bundle;
// The part of applicationMain after the QApplication exists: loads the main interface file
// of `bundle`, shows its window and runs the event loop. 1 when the file is missing or
// holds no window.
int runMainInterface(const Bundle& bundle);

// True once SIGTERM, SIGINT or SIGHUP has asked the program to end; the event loop then
// ends as when the last window closes. Any thread; work that blocks the loop (a save's
// render) looks at it to stop early.
bool quitSignalReceived();

// The application's top-level windows, in the platform's order.
std::vector<QWidget*> applicationWindows();

}  // namespace lorvanta
