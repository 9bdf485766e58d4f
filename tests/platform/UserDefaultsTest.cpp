#include <gtest/gtest.h>

#include <QSettings>
#include <QStandardPaths>
#include <limits>
#include <thread>
#include <vector>

#include "platform/UserDefaults.h"

namespace lorvanta {
namespace {

TEST(UserDefaults, LivesInTheTestConfigDirectory) {
  QSettings settings(QSettings::NativeFormat, QSettings::UserScope, "Lorvanta", "Lorvanta");
  EXPECT_TRUE(settings.fileName().startsWith(qEnvironmentVariable("XDG_CONFIG_HOME")))
      << settings.fileName().toStdString();
}

TEST(UserDefaults, AbsentKeysAnswerTheirDefaults) {
  UserDefaults& d = UserDefaults::standard();
  EXPECT_FALSE(d.hasKey("absent"));
  EXPECT_FALSE(d.boolForKey("absent"));
  EXPECT_EQ(d.integerForKey("absent"), 0);
  EXPECT_EQ(d.stringForKey("absent"), std::nullopt);
}

TEST(UserDefaults, RoundTripsThroughTheSettingsFile) {
  UserDefaults& d = UserDefaults::standard();
  const int64_t extremes[] = {std::numeric_limits<int64_t>::min(), -1, 0, 5,
                              std::numeric_limits<int64_t>::max()};
  for (int64_t value : extremes) {
    d.setInteger(value, "requestReviewID");
    EXPECT_TRUE(d.synchronize());
    EXPECT_EQ(d.integerForKey("requestReviewID"), value);
  }
  d.setBool(true, "NO_ALERt_AGAIN");
  d.setString("1.10", "NO_ALERt_AGAIN_appStoreVersion");
  d.setString(QString::fromUtf8("版本 ☃"), "text");
  d.setString("", "empty");
  ASSERT_TRUE(d.synchronize());
  EXPECT_TRUE(d.boolForKey("NO_ALERt_AGAIN"));
  EXPECT_EQ(d.stringForKey("NO_ALERt_AGAIN_appStoreVersion"), QString("1.10"));
  EXPECT_EQ(d.stringForKey("text"), QString::fromUtf8("版本 ☃"));
  EXPECT_EQ(d.stringForKey("empty"), QString(""));
  EXPECT_TRUE(d.hasKey("empty"));

  // What another process (or the next start) reads from the file.
  QSettings file(QSettings::NativeFormat, QSettings::UserScope, "Lorvanta", "Lorvanta");
  EXPECT_EQ(file.value("requestReviewID").toLongLong(), std::numeric_limits<int64_t>::max());

  d.setBool(false, "NO_ALERt_AGAIN");
  EXPECT_FALSE(d.boolForKey("NO_ALERt_AGAIN"));
  d.removeObjectForKey("NO_ALERt_AGAIN");
  EXPECT_FALSE(d.hasKey("NO_ALERt_AGAIN"));
}

TEST(UserDefaults, ValuesOfAnotherKindAnswerSafely) {
  UserDefaults& d = UserDefaults::standard();
  d.setString("abc", "word");
  EXPECT_EQ(d.integerForKey("word"), 0);
  EXPECT_FALSE(d.boolForKey("word"));
  d.setInteger(42, "number");
  EXPECT_EQ(d.stringForKey("number"), QString("42"));
  EXPECT_TRUE(d.boolForKey("number"));
  d.setBool(true, "flag");
  EXPECT_EQ(d.integerForKey("flag"), 1);
  {
    QSettings file(QSettings::NativeFormat, QSettings::UserScope, "Lorvanta", "Lorvanta");
    file.setValue("list", QStringList{"a", "b"});
  }
  EXPECT_EQ(d.stringForKey("list"), std::nullopt);
  EXPECT_EQ(d.integerForKey("list"), 0);
}

TEST(UserDefaults, UsableFromSeveralThreads) {
  UserDefaults& d = UserDefaults::standard();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&d, t] {
      for (int i = 0; i < 50; ++i) {
        const QString key = QString("thread%1").arg(t);
        d.setInteger(i, key);
        (void)d.integerForKey(key);
        (void)d.stringForKey("NO_ALERt_AGAIN_appStoreVersion");
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (int t = 0; t < 4; ++t) EXPECT_EQ(d.integerForKey(QString("thread%1").arg(t)), 49);
}

}  // namespace
}  // namespace lorvanta
