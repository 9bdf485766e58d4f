#include <gtest/gtest.h>

#include <QObject>
#include <vector>

#include "app/AppDelegate.h"
#include "platform/Workspace.h"

namespace lorvanta {
namespace {

class AppDelegateTest : public testing::Test {
 protected:
  void SetUp() override {
    Workspace::shared().setOpener([this](const QUrl& url) {
      opened.push_back(url.toString());
      return true;
    });
  }
  void TearDown() override { Workspace::shared().setOpener({}); }
  std::vector<QString> opened;
};

TEST_F(AppDelegateTest, LifecycleAnswersAreTheSameOnEveryCall) {
  AppDelegate delegate;
  for (int i = 0; i < 2; ++i) {
    EXPECT_TRUE(delegate.applicationSupportsSecureRestorableState());
    EXPECT_TRUE(delegate.applicationShouldTerminateAfterLastWindowClosed());
    delegate.applicationDidFinishLaunching();
    delegate.applicationWillTerminate();
  }
  EXPECT_TRUE(opened.empty());
}

TEST_F(AppDelegateTest, CommandsOpenTheirPageEachTimeWhateverTheSender) {
  AppDelegate delegate;
  QObject button;
  delegate.adout_us(nullptr);
  delegate.adout_us(&button);
  delegate.more_excellent_app(&button);
  delegate.performAction("more_excellent_app", nullptr);
  const std::vector<QString> expected{"https://www.lorvanta.app/about-us",
                                      "https://www.lorvanta.app/about-us", "https://shop.lorvanta.app/shop",
                                      "https://shop.lorvanta.app/shop"};
  EXPECT_EQ(opened, expected);
}

TEST_F(AppDelegateTest, AnswersForItsTwoActionsOnlyAndHasNoOutlets) {
  AppDelegate delegate;
  EXPECT_TRUE(delegate.respondsToAction("adout_us"));
  EXPECT_TRUE(delegate.respondsToAction("more_excellent_app"));
  EXPECT_FALSE(delegate.respondsToAction("playTTS"));
  EXPECT_FALSE(delegate.setOutlet("fSpokenTextView", nullptr));
}

TEST(AppDelegateAddresses, AreAbsoluteHttpsWithTheirPaths) {
  const auto about = urlFromString(kAboutPageAddress);
  const auto shop = urlFromString(kShopPageAddress);
  ASSERT_TRUE(about && shop);
  EXPECT_EQ(about->scheme(), "https");
  EXPECT_EQ(about->path(), "/about-us");
  EXPECT_EQ(shop->scheme(), "https");
  EXPECT_EQ(shop->path(), "/shop");
  EXPECT_NE(about->host(), shop->host());
}

}  // namespace
}  // namespace lorvanta
