#include "platform/Dispatch.h"

#include <pthread.h>

#include <QCoreApplication>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace lorvanta {

namespace {

// Thread names are at most 15 bytes: the label's last component, cut to fit.
std::string threadNameFor(const std::string& label) {
  const auto dot = label.rfind('.');
  std::string name = dot == std::string::npos ? label : label.substr(dot + 1);
  if (name.size() > 15) name.resize(15);
  return name;
}

// The workers of every queue; stopped and joined when the application quits, and at the
// latest when the process exits.
class Workers {
 public:
  static Workers& shared() {
    static Workers workers;
    return workers;
  }
  ~Workers() { stopAll(); }

  // Keeps `thread`; joins the workers that have ended meanwhile.
  void add(std::jthread thread, std::shared_ptr<std::atomic<bool>> ended) {
    std::vector<Worker> finished;
    {
      std::lock_guard lock(mutex_);
      for (auto it = workers_.begin(); it != workers_.end();) {
        if (it->ended->load()) {
          finished.push_back(std::move(*it));
          it = workers_.erase(it);
        } else {
          ++it;
        }
      }
      workers_.push_back({std::move(thread), std::move(ended)});
    }
  }

  void stopAll() {
    std::vector<Worker> workers;
    {
      std::lock_guard lock(mutex_);
      workers.swap(workers_);
    }
    for (Worker& worker : workers) worker.thread.request_stop();
    for (Worker& worker : workers) worker.thread.join();
  }

 private:
  struct Worker {
    std::jthread thread;
    std::shared_ptr<std::atomic<bool>> ended;
  };
  std::mutex mutex_;
  std::vector<Worker> workers_;
};

// Stops the workers when the current application object goes away, before it is gone, so
// that no worker outlives what it uses of it.
void stopWorkersWithTheApplication() {
  static QCoreApplication* hooked = nullptr;
  QCoreApplication* app = QCoreApplication::instance();
  if (app == nullptr || app == hooked) return;
  hooked = app;
  qAddPostRoutine([] {
    hooked = nullptr;
    Workers::shared().stopAll();
  });
}

}  // namespace

void DispatchQueue::async(DispatchGroup& group, std::function<void(std::stop_token)> block) {
  if (!block) return;
  stopWorkersWithTheApplication();
  std::shared_ptr<DispatchGroup::State> state = group.state_;
  auto ended = std::make_shared<std::atomic<bool>>(false);
  state->pending.fetch_add(1);
  try {
    std::jthread worker(
        [state, ended, name = threadNameFor(label_), block = std::move(block)](std::stop_token stop) mutable {
          pthread_setname_np(pthread_self(), name.c_str());
          block(std::move(stop));
          // Whatever the block captured goes before the group hears that it is done.
          block = nullptr;
          state->pending.fetch_sub(1);
          ended->store(true);
        });
    Workers::shared().add(std::move(worker), std::move(ended));
  } catch (const std::system_error&) {
    // No thread to be had: the block is dropped, as if it had done nothing.
    state->pending.fetch_sub(1);
  }
}

}  // namespace lorvanta
