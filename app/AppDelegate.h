#pragma once

#include <QObject>
#include <QString>
#include <string>

#include "platform/InterfaceLoader.h"
#include "platform/InterfaceTarget.h"

namespace lorvanta {

inline constexpr const char* kAboutPageAddress = "https://www.lorvanta.app/about-us";
inline constexpr const char* kShopPageAddress = "https://shop.lorvanta.app/shop";

// The application delegate: lifecycle answers, the update check at launch and the two
// web-page commands. Created by the main interface file; it holds only the address the
// update check asks (the store's, unless its creator gives another).
class AppDelegate final : public ApplicationDelegate {
 public:
  AppDelegate();
  explicit AppDelegate(const InterfaceCoder&);
  // Asks `storeLookupURL` at launch instead of the store (tests give a local server).
  explicit AppDelegate(std::string storeLookupURL);

  void applicationDidFinishLaunching() override;
  void applicationWillTerminate() override;
  bool applicationSupportsSecureRestorableState() override;
  bool applicationShouldTerminateAfterLastWindowClosed() override;
  void adout_us(QObject* sender);
  void more_excellent_app(QObject* sender);

  // InterfaceTarget
  bool setOutlet(const QString& name, QWidget* widget) override;
  bool respondsToAction(const QString& action) const override;
  void performAction(const QString& action, QObject* sender) override;

 private:
  void openURLString(const QString& address);

  const std::string storeLookupURL_;
};

}  // namespace lorvanta
