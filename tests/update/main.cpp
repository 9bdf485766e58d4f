#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QDir>
#include <QSocketNotifier>
#include <cstring>
#include <string>

#include "update/UpdateManager.h"

namespace {

// Child mode: start a check against the given address, then quit as soon as standard input
// becomes readable (the parent closes it) and return from main.
int quitDuringCheck(int argc, char** argv, const char* url) {
  QApplication app(argc, argv);
  lorvanta::UpdateManager::create(url);
  QSocketNotifier stdinReadable(0, QSocketNotifier::Read);
  QObject::connect(&stdinReadable, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
  return QApplication::exec();
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  // The English string table applies when the user's language is English.
  setenv("LC_ALL", "en_US.UTF-8", 1);
  setenv("LANGUAGE", "en", 1);

  if (argc == 3 && std::strcmp(argv[1], "--quit-during-check") == 0) {
    return quitDuringCheck(1, argv, argv[2]);
  }

  char configTemplate[] = "/tmp/lorvanta-update-tests-XXXXXX";
  const char* configHome = mkdtemp(configTemplate);
  if (configHome == nullptr) return 1;
  setenv("XDG_CONFIG_HOME", configHome, 1);

  int code = 0;
  {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    code = RUN_ALL_TESTS();
  }
  QDir(configHome).removeRecursively();
  return code;
}
