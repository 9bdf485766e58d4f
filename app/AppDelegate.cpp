#include "app/AppDelegate.h"

#include <utility>

#include "platform/Workspace.h"
#include "update/UpdateManager.h"

namespace lorvanta {

AppDelegate::AppDelegate() : AppDelegate(std::string(kStoreLookupURL)) {}

AppDelegate::AppDelegate(const InterfaceCoder&) : AppDelegate() {}

AppDelegate::AppDelegate(std::string storeLookupURL) : storeLookupURL_(std::move(storeLookupURL)) {}

void AppDelegate::applicationDidFinishLaunching() { UpdateManager::create(storeLookupURL_); }

void AppDelegate::applicationWillTerminate() {}

bool AppDelegate::applicationSupportsSecureRestorableState() { return true; }

bool AppDelegate::applicationShouldTerminateAfterLastWindowClosed() { return true; }

void AppDelegate::adout_us(QObject*) { openURLString(kAboutPageAddress); }

void AppDelegate::more_excellent_app(QObject*) { openURLString(kShopPageAddress); }

void AppDelegate::openURLString(const QString& address) {
  const std::optional<QUrl> url = urlFromString(address);
  if (!url) return;
  Workspace::shared().openURL(*url);
}

bool AppDelegate::setOutlet(const QString&, QWidget*) { return false; }

bool AppDelegate::respondsToAction(const QString& action) const {
  return action == "adout_us" || action == "more_excellent_app";
}

void AppDelegate::performAction(const QString& action, QObject* sender) {
  if (action == "adout_us") {
    adout_us(sender);
  } else if (action == "more_excellent_app") {
    more_excellent_app(sender);
  }
}

}  // namespace lorvanta
