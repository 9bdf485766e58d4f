#include <gtest/gtest.h>
#include <stdlib.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QSocketNotifier>
#include <QWidget>
#include <cstdio>
#include <cstring>
#include <string>

#include "update/UpdateManager.h"

namespace {

// True while a thread of this process has the name `name`.
bool threadNamed(const QString& name) {
  const QDir tasks("/proc/self/task");
  for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
    QFile comm(tasks.filePath(task + "/comm"));
    if (comm.open(QIODevice::ReadOnly) && QString::fromUtf8(comm.readAll()).trimmed() == name) return true;
  }
  return false;
}

// Child mode: start a check against the given address, then quit as soon as standard input
// becomes readable (the parent closes it) and return from main; 3 when the check's worker
// still runs once the application object is gone.
int quitDuringCheck(int argc, char** argv, const char* url) {
  int code = 0;
  {
    QApplication app(argc, argv);
    lorvanta::UpdateManager::create(url);
    QSocketNotifier stdinReadable(0, QSocketNotifier::Read);
    QObject::connect(&stdinReadable, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    code = QApplication::exec();
  }
  if (threadNamed("UpdateManager")) return 3;
  return code;
}

// Child mode: show the alert for 1.0 against 1.2 with the program's own string tables and
// print its texts, one a line: message, informative text, button titles.
int printAlertTexts(int argc, char** argv, const char* refusedURL) {
  QApplication app(argc, argv);
  QWidget window;
  window.show();
  lorvanta::UpdateManager::create(refusedURL)->showUpdateAlert(1.0f, 1.2f, "1.2", "1.0");
  auto* box = window.findChild<QMessageBox*>();
  if (box == nullptr) return 1;
  QStringList lines{box->text(), box->informativeText()};
  for (QAbstractButton* button : box->buttons()) lines << button->text();
  std::fputs(lines.join('\n').toUtf8().constData(), stdout);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  // Child modes keep the languages their parent gave them.
  const char* mode = argc == 3 ? argv[1] : "";
  if (std::strcmp(mode, "--quit-during-check") == 0) return quitDuringCheck(1, argv, argv[2]);
  if (std::strcmp(mode, "--print-alert-texts") == 0) return printAlertTexts(1, argv, argv[2]);

  // The English string table applies when the user's language is English.
  setenv("LC_ALL", "en_US.UTF-8", 1);
  setenv("LANGUAGE", "en", 1);

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
