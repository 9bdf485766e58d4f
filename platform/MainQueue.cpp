#include "platform/MainQueue.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QTimer>
#include <chrono>
#include <climits>
#include <cmath>
#include <utility>

namespace lorvanta {

void mainQueueAsync(std::function<void()> work) {
  QCoreApplication* app = QCoreApplication::instance();
  if (app == nullptr || !work) return;
  QMetaObject::invokeMethod(app, std::move(work), Qt::QueuedConnection);
}

void mainQueueAfter(double seconds, std::function<void()> work) {
  using Clock = std::chrono::steady_clock;
  if (!work) return;
  // The deadline counts from this call, not from when the main thread gets to it.
  if (!(seconds > 0.0)) seconds = 0.0;
  const double maxSeconds = static_cast<double>(INT_MAX) / 1000.0;
  if (seconds > maxSeconds) seconds = maxSeconds;
  const Clock::time_point deadline =
      Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  mainQueueAsync([deadline, work = std::move(work)]() mutable {
    const auto left = deadline - Clock::now();
    auto ms = std::chrono::ceil<std::chrono::milliseconds>(left);
    if (ms.count() < 0) ms = std::chrono::milliseconds(0);
    QTimer::singleShot(ms, Qt::PreciseTimer, QCoreApplication::instance(), std::move(work));
  });
}

}  // namespace lorvanta
