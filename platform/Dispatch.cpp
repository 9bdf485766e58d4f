#include "platform/Dispatch.h"

#include <pthread.h>

#include <system_error>
#include <thread>

namespace lorvanta {

namespace {

// Thread names are at most 15 bytes: the label's last component, cut to fit.
std::string threadNameFor(const std::string& label) {
  const auto dot = label.rfind('.');
  std::string name = dot == std::string::npos ? label : label.substr(dot + 1);
  if (name.size() > 15) name.resize(15);
  return name;
}

}  // namespace

void DispatchQueue::async(DispatchGroup& group, std::function<void()> block) {
  if (!block) return;
  std::shared_ptr<DispatchGroup::State> state = group.state_;
  state->pending.fetch_add(1);
  try {
    std::thread worker([state, name = threadNameFor(label_), block = std::move(block)]() mutable {
      pthread_setname_np(pthread_self(), name.c_str());
      block();
      // Whatever the block captured goes before the group hears that it is done.
      block = nullptr;
      state->pending.fetch_sub(1);
    });
    worker.detach();
  } catch (const std::system_error&) {
    // No thread to be had: the block is dropped, as if it had done nothing.
    state->pending.fetch_sub(1);
  }
}

}  // namespace lorvanta
