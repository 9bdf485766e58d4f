#pragma once

#include <functional>

namespace lorvanta {

// Runs `work` on the main thread's event loop. Callable from any thread.
void mainQueueAsync(std::function<void()> work);
// Runs `work` on the main thread once `seconds` have passed on a monotonic clock,
// counted from this call. Callable from any thread.
void mainQueueAfter(double seconds, std::function<void()> work);

}  // namespace lorvanta
