#pragma once

#include <functional>

namespace lorvanta {

// Starts noting the application's key presses (and text from an input method); later
// calls do nothing. Main thread, with the application object made.
void watchKeyPresses();

// Seconds since the last key press noted, on a monotonic clock; a very large number when
// none was noted.
double secondsSinceLastKeyPress();

// True while a modal window (a dialog run modally, a window-modal sheet) or a pop-up of
// the application is open.
bool modalWindowIsOpen();

// Runs `work` on the main thread once no key has been pressed for `quietSeconds` and no
// modal window is open: at once when that already holds. Main thread.
void whenUserIsIdle(double quietSeconds, std::function<void()> work);

}  // namespace lorvanta
