#pragma once

#include <QObject>
#include <QString>

#include "platform/InterfaceLoader.h"
#include "platform/InterfaceTarget.h"

namespace lorvanta {

inline constexpr const char* kAboutPageAddress = "https://www.lorvanta.app/about-us";
inline constexpr const char* kShopPageAddress = "https://shop.lorvanta.app/shop";

// The application delegate: lifecycle answers and the two web-page commands. Created by the
// main interface file; holds no state.
class AppDelegate final : public ApplicationDelegate {
 public:
  AppDelegate() = default;
  explicit AppDelegate(const InterfaceCoder&) {}

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
};

}  // namespace lorvanta
