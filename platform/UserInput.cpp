#include "platform/UserInput.h"

#include <QApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <memory>
#include <optional>

namespace lorvanta {

namespace {

using Clock = std::chrono::steady_clock;

// How often a wait for a modal window to close looks again.
constexpr int kModalRecheckMilliseconds = 100;

std::optional<Clock::time_point>& lastKeyPress() {
  static std::optional<Clock::time_point> last;
  return last;
}

class KeyPressWatcher : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    const QEvent::Type type = event->type();
    if (type == QEvent::KeyPress || type == QEvent::InputMethod) lastKeyPress() = Clock::now();
    return QObject::eventFilter(watched, event);
  }
};

}  // namespace

void watchKeyPresses() {
  static QPointer<KeyPressWatcher> watcher;
  if (watcher != nullptr || QCoreApplication::instance() == nullptr) return;
  watcher = new KeyPressWatcher(QCoreApplication::instance());
  QCoreApplication::instance()->installEventFilter(watcher);
}

double secondsSinceLastKeyPress() {
  const std::optional<Clock::time_point>& last = lastKeyPress();
  if (!last) return std::numeric_limits<double>::infinity();
  return std::chrono::duration<double>(Clock::now() - *last).count();
}

bool modalWindowIsOpen() {
  return QGuiApplication::modalWindow() != nullptr || QApplication::activePopupWidget() != nullptr;
}

void whenUserIsIdle(double quietSeconds, std::function<void()> work) {
  if (!work || QCoreApplication::instance() == nullptr) return;
  watchKeyPresses();
  auto* timer = new QTimer(QCoreApplication::instance());
  timer->setSingleShot(true);
  timer->setTimerType(Qt::PreciseTimer);
  auto check = [timer, quietSeconds, work = std::move(work)] {
    const double quietFor = secondsSinceLastKeyPress();
    if (quietFor >= quietSeconds && !modalWindowIsOpen()) {
      timer->deleteLater();
      work();
      return;
    }
    // Typing: look again when the quiet time would be over; a modal window: now and then.
    int wait = kModalRecheckMilliseconds;
    if (quietFor < quietSeconds)
      wait = std::max(1, static_cast<int>(std::ceil((quietSeconds - quietFor) * 1000)));
    timer->start(wait);
  };
  QObject::connect(timer, &QTimer::timeout, timer, check);
  check();
}

}  // namespace lorvanta
