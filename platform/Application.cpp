#include "platform/Application.h"

#include <QApplication>
#include <QMainWindow>
#include <QPointer>
#include <algorithm>
#include <cstdio>
#include <memory>

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

}  // namespace

int applicationMain(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Lorvanta");
  QApplication::setOrganizationName("Lorvanta");
  QApplication::setApplicationDisplayName("Lorvanta");
  installTranslations(Bundle::main());
  return runMainInterface(Bundle::main());
}

int runMainInterface(const Bundle& bundle) {
  const QString path = bundle.pathForResource(kMainInterfaceFile);
  if (path.isEmpty()) {
    std::fprintf(stderr, "Lorvanta: the main interface file %s is missing from %s\n", kMainInterfaceFile,
                 bundle.resourceDirectory().toLocal8Bit().constData());
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
