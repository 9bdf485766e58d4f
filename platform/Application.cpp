#include "platform/Application.h"

#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QMainWindow>
#include <QPointer>
#include <QSocketNotifier>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <memory>
#include <string>

#include "base/ConsoleLine.h"
#include "platform/Bundle.h"
#include "platform/InterfaceLoader.h"
#include "platform/MainQueue.h"
#include "platform/Translations.h"

namespace lorvanta {

namespace {

constexpr const char* kMainInterfaceFile = "main.ui";

QPointer<QWidget>& mainWindow() {
  static QPointer<QWidget> window;
  return window;
}

// What the quit signals' handler touches: nothing else runs in it.
std::atomic<bool> quitSignal{false};
static_assert(std::atomic<bool>::is_always_lock_free);
int quitSignalPipe[2] = {-1, -1};

extern "C" void recordQuitSignal(int /*signal*/) {
  const int savedErrno = errno;
  quitSignal.store(true);
  const char byte = 1;
  // A full pipe already holds a wake-up for the loop.
  [[maybe_unused]] const ssize_t written = ::write(quitSignalPipe[1], &byte, 1);
  errno = savedErrno;
}

// SIGTERM, SIGINT and SIGHUP end the event loop as closing the last window does, so the
// window's controller cleans up on the way out. A signal ignored at start (nohup, a
// background job) stays ignored.
void endLoopOnQuitSignals() {
  if (::pipe2(quitSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  auto* notifier = new QSocketNotifier(quitSignalPipe[0], QSocketNotifier::Read, qApp);
  QObject::connect(notifier, &QSocketNotifier::activated, qApp, [] {
    char bytes[16];
    while (::read(quitSignalPipe[0], bytes, sizeof bytes) > 0) {
    }
    // Every loop ends, a modal panel's too; nothing can refuse.
    QCoreApplication::exit(0);
  });
  struct sigaction action {};
  action.sa_handler = recordQuitSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
    struct sigaction previous {};
    if (::sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
    ::sigaction(signal, &action, nullptr);
  }
}

}  // namespace

int applicationMain(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Lorvanta");
  QApplication::setOrganizationName("Lorvanta");
  QApplication::setApplicationDisplayName("Lorvanta");
  installTranslations(Bundle::main());
  endLoopOnQuitSignals();
  return runMainInterface(Bundle::main());
}

bool quitSignalReceived() { return quitSignal.load(); }

int runMainInterface(const Bundle& bundle) {
  const QString path = bundle.pathForResource(kMainInterfaceFile);
  if (path.isEmpty()) {
    printLine(std::string("Lorvanta: the main interface file ") + kMainInterfaceFile + " is missing from " +
                  bundle.resourceDirectory().toLocal8Bit().constData(),
              stderr);
    return 1;
  }
  LoadedInterface interface = loadInterfaceFile(path);
  if (!interface.window) return 1;
  mainWindow() = interface.window.get();

  ApplicationDelegate* delegate = interface.delegate;
  QApplication::setQuitOnLastWindowClosed(delegate == nullptr ||
                                          delegate->applicationShouldTerminateAfterLastWindowClosed());
  QMetaObject::Connection willTerminate;
  if (delegate != nullptr) {
    willTerminate = QObject::connect(qApp, &QCoreApplication::aboutToQuit, qApp,
                                     [delegate] { delegate->applicationWillTerminate(); });
  }

  interface.window->show();
  if (delegate != nullptr) {
    std::weak_ptr<const bool> alive = interface.bindings;
    mainQueueAsync([delegate, alive] {
      if (!alive.expired()) delegate->applicationDidFinishLaunching();
    });
  }
  const int code = QApplication::exec();
  QObject::disconnect(willTerminate);
  mainWindow() = nullptr;
  return code;
}

std::vector<QWidget*> applicationWindows() {
  std::vector<QWidget*> windows;
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (!widget->isWindow()) continue;
    const Qt::WindowType type = widget->windowType();
    if (type == Qt::Popup || type == Qt::ToolTip || type == Qt::Desktop || type == Qt::SplashScreen) continue;
    windows.push_back(widget);
  }
  // The main window first, then other main windows, then the rest in Qt's order.
  QWidget* main = mainWindow();
  std::stable_sort(windows.begin(), windows.end(), [main](QWidget* a, QWidget* b) {
    auto rank = [main](QWidget* w) { return w == main ? 0 : qobject_cast<QMainWindow*>(w) ? 1 : 2; };
    return rank(a) < rank(b);
  });
  return windows;
}

}  // namespace lorvanta
