#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <stop_token>
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

// A labelled concurrent queue: each block runs on a worker thread of its own. The process
// owns the workers: when the application quits (or, without one, when the process exits)
// each is asked to stop through the stop token its block gets, and joined. A block
// therefore ends soon once its token asks it to.
class DispatchQueue {
 public:
  explicit DispatchQueue(std::string label) : label_(std::move(label)) {}
  const std::string& label() const { return label_; }
  // Runs `block` on a new worker thread as a member of `group`; returns at once.
  void async(DispatchGroup& group, std::function<void(std::stop_token)> block);

 private:
  std::string label_;
};

}  // namespace lorvanta
