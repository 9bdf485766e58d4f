#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  // Preferences go to a directory of this run only, never to the user's own.
  QTemporaryDir config(QDir::tempPath() + "/lorvanta-app-tests-XXXXXX");
  if (!config.isValid()) return 2;
  qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
  qputenv("XDG_RUNTIME_DIR", config.path().toLocal8Bit());
  testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
