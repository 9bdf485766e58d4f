#include "update/ExitGate.h"

#include <QCoreApplication>
#include <cstdlib>
#include <mutex>

namespace lorvanta {

ExitGate& ExitGate::shared() {
  static ExitGate* gate = new ExitGate;  // outlives every static destructor
  return *gate;
}

void ExitGate::closeWhenQuitting() {
  if (hooked_.exchange(true)) return;
  // Runs at the start of ~QCoreApplication, before main() returns and statics go away.
  qAddPostRoutine([] { ExitGate::shared().close(); });
  std::atexit([] { ExitGate::shared().close(); });
}

void ExitGate::close() {
  std::unique_lock lock(mutex_);
  closed_.store(true);
}

}  // namespace lorvanta
