#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QObject>
#include <functional>
#include <vector>

#include "app/AppDelegate.h"
#include "platform/Workspace.h"
#include "update/FixtureHttpServer.h"

namespace lorvanta {
namespace {

class AppDelegateTest : public ::testing::Test {
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

// Runs the event loop until `done` holds, for at most `seconds`; returns `done()`.
bool spinUntil(const std::function<bool()>& done, double seconds = 15.0) {
  QElapsedTimer clock;
  clock.start();
  while (!done() && static_cast<double>(clock.elapsed()) < seconds * 1000)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  return done();
}

TEST_F(AppDelegateTest, TheLaunchAsksTheLookupOnceAndTheAnswersStayTheSame) {
  testing::FixtureHttpServer server;
  server.setReply("/lookup", {});  // an empty body: the check ends without a word
  AppDelegate delegate(server.url("/lookup?id=1"));
  EXPECT_TRUE(delegate.applicationSupportsSecureRestorableState());
  EXPECT_TRUE(delegate.applicationShouldTerminateAfterLastWindowClosed());
  delegate.applicationDidFinishLaunching();
  EXPECT_TRUE(spinUntil([&] { return server.requestCount() > 0; }));
  EXPECT_EQ(server.requestCount(), 1);
  delegate.applicationWillTerminate();
  EXPECT_TRUE(delegate.applicationSupportsSecureRestorableState());
  EXPECT_TRUE(delegate.applicationShouldTerminateAfterLastWindowClosed());
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
