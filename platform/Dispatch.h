#pragma once

#include <functional>
#include <memory>
#include <string>

namespace lorvanta {

// A set of queued blocks; nothing here waits on it.
class DispatchGroup {
 public:
  void enter();
  void leave();
  int pending() const;

 private:
  struct State;
  std::shared_ptr<State> state_ = std::make_shared<State>();
  friend class DispatchQueue;
};

// A labelled concurrent queue: each block runs on a worker thread of its own, and the
// process never waits for a block at exit.
class DispatchQueue {
 public:
  explicit DispatchQueue(std::string label);
  const std::string& label() const { return label_; }
  void async(DispatchGroup& group, std::function<void()> block);

 private:
  std::string label_;
};

}  // namespace lorvanta
