// Studio tests: real widgets on the offscreen platform, preferences and temporary files in
// a directory of their own.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <cstdlib>

#include "platform/Bundle.h"

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QTemporaryDir sandbox;
  if (!sandbox.isValid()) return 1;
  qputenv("XDG_CONFIG_HOME", (sandbox.path() + "/config").toLocal8Bit());
  qputenv("HOME", (sandbox.path() + "/home").toLocal8Bit());
  // Every request leaves its temporary speech file behind; keep them here.
  qputenv("TMPDIR", (sandbox.path() + "/tmp").toLocal8Bit());
  for (const char* dir : {"/config", "/home", "/tmp"}) QDir().mkpath(sandbox.path() + dir);

  QApplication app(argc, argv);
  lorvanta::Bundle::setMainResourceDirectory(QStringLiteral(LORVANTA_RESOURCE_DIR));
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
