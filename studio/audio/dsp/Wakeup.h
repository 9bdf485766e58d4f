#pragma once

#include <atomic>
#include <chrono>
#include <semaphore>

namespace lorvanta::audio {

// Wakes one sleeping thread. notify() may be called from any thread, the render thread
// included: it neither blocks nor allocates, and wake-ups that come while one is pending
// fold into it.
class Wakeup {
 public:
  void notify() {
    if (!pending_.exchange(true, std::memory_order_acq_rel)) semaphore_.release();
  }

  // The sleeping thread. Whatever was published before a notify() is visible on return.
  void wait() {
    semaphore_.acquire();
    pending_.exchange(false, std::memory_order_acq_rel);
  }
  // False when the time ran out without a notify().
  template <typename Rep, typename Period>
  bool waitFor(std::chrono::duration<Rep, Period> timeout) {
    if (!semaphore_.try_acquire_for(timeout)) return false;
    pending_.exchange(false, std::memory_order_acq_rel);
    return true;
  }

 private:
  std::atomic<bool> pending_{false};
  std::counting_semaphore<> semaphore_{0};
};

}  // namespace lorvanta::audio
