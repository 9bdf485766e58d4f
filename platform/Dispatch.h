#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>

namespace lorvanta {

// A set of queued blocks. It only counts them: nothing waits on it.
class DispatchGroup {
 public:
  int pending() const { return state_->pending.load(); }

 private:
  struct State {
    std::atomic<int> pending{0};
  };
  std::shared_ptr<State> state_ = std::make_shared<State>();
  friend class DispatchQueue;
};

// A labelled concurrent queue: each block runs on a detached worker thread of its own, so
// the process never waits for a block when it quits.
class DispatchQueue {
 public:
  explicit DispatchQueue(std::string label) : label_(std::move(label)) {}
  const std::string& label() const { return label_; }
  // Runs `block` on a new worker thread as a member of `group`; returns at once.
  void async(DispatchGroup& group, std::function<void()> block);

 private:
  std::string label_;
};

}  // namespace lorvanta
