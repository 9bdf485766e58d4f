#pragma once

#include <atomic>
#include <shared_mutex>

namespace lorvanta {

// Keeps a detached worker thread away from process-wide state once the process has begun
// to quit. The worker runs each step that touches such state (preferences, the bundle, the
// main queue, the console) through `pass`; quitting closes the gate, waiting only for a
// step already inside it. Never destroyed.
class ExitGate {
 public:
  static ExitGate& shared();

  // Closes the gate when the application object goes away or the process exits, whichever
  // comes first. Main thread; later calls do nothing.
  void closeWhenQuitting();

  // Runs `step` and returns true, unless the gate is closed.
  template <typename Step>
  bool pass(Step&& step) {
    std::shared_lock lock(mutex_);
    if (closed_.load()) return false;
    step();
    return true;
  }

  bool isClosed() const { return closed_.load(); }
  void close();

 private:
  ExitGate() = default;
  std::shared_mutex mutex_;
  std::atomic<bool> closed_{false};
  std::atomic<bool> hooked_{false};
};

}  // namespace lorvanta
