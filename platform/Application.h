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

// The application's top-level windows, in the platform's order.
std::vector<QWidget*> applicationWindows();

}  // namespace lorvanta
