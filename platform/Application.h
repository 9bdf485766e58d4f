#pragma once

#include <vector>

#include <QWidget>

namespace lorvanta {

// Runs the application: makes the QApplication, loads the main interface file from the
// main bundle, shows its window, tells the delegate that launching finished and runs the
// event loop. Returns the loop's exit code.
int applicationMain(int argc, char** argv);

// The application's top-level windows, in the platform's order.
std::vector<QWidget*> applicationWindows();

}  // namespace lorvanta
