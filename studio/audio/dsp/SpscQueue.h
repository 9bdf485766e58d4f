#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <vector>

namespace lorvanta::audio {

// Fixed-capacity single-producer single-consumer queue of trivially copyable items.
// Storage is allocated at construction; push and pop never allocate or block.
template <typename T>
class SpscQueue {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  explicit SpscQueue(size_t capacity) : items_(capacity) {}

  // Producer thread.
  bool push(const T& item) {
    const uint64_t tail = tail_.load(std::memory_order_relaxed);
    if (tail - head_.load(std::memory_order_acquire) >= items_.size()) return false;
    items_[tail % items_.size()] = item;
    tail_.store(tail + 1, std::memory_order_release);
    return true;
  }

  // Consumer thread.
  bool peek(T& item) const {
    const uint64_t head = head_.load(std::memory_order_relaxed);
    if (head == tail_.load(std::memory_order_acquire)) return false;
    item = items_[head % items_.size()];
    return true;
  }
  void popFront() { head_.store(head_.load(std::memory_order_relaxed) + 1, std::memory_order_release); }
  bool pop(T& item) {
    if (!peek(item)) return false;
    popFront();
    return true;
  }

 private:
  std::vector<T> items_;
  std::atomic<uint64_t> head_{0};
  std::atomic<uint64_t> tail_{0};
};

}  // namespace lorvanta::audio
