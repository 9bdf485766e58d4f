#include "app/AppDelegate.h"

#include <utility>

#include "platform/ActionTable.h"
#include "platform/Workspace.h"
#include "update/UpdateManager.h"

namespace lorvanta {

namespace {

constexpr ActionTable<AppDelegate>::Entry kActionEntries[] = {
    {"adout_us", &AppDelegate::adout_us},
    {"more_excellent_app", &AppDelegate::more_excellent_app},
};
constexpr ActionTable<AppDelegate> kActions(kActionEntries);

}  // namespace

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

bool AppDelegate::respondsToAction(const QString& action) const { return kActions.contains(action); }

void AppDelegate::performAction(const QString& action, QObject* sender) {
  kActions.perform(*this, action, sender);
}

}  // namespace lorvanta
