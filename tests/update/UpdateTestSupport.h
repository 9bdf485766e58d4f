#pragma once

#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <chrono>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>

#include "platform/Bundle.h"
#include "platform/UserDefaults.h"
#include "update/UpdateManager.h"

namespace lorvanta::testing {

inline bool waitUntil(const std::function<bool()>& done, double seconds = 15.0) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QThread::msleep(2);
  }
  return true;
}

// A resource directory made the main bundle: Info.json with the given installed version
// (none leaves the key out), and the English string table when asked for.
class FixtureBundle {
 public:
  explicit FixtureBundle(const std::optional<QString>& installedVersion, bool withStringTable = false) {
    QJsonObject info{{"CFBundleName", "Lorvanta"}, {"CFBundleVersion", "1"}};
    if (installedVersion) info.insert(kCFBundleShortVersionStringKey, *installedVersion);
    QFile file(QDir(dir_.path()).filePath("Info.json"));
    file.open(QIODevice::WriteOnly);
    file.write(QJsonDocument(info).toJson());
    file.close();
    if (withStringTable) {
      QFile::copy(QDir(LORVANTA_RESOURCE_DIR).filePath("Localizable_upate_en.qm"),
                  QDir(dir_.path()).filePath("Localizable_upate_en.qm"));
    }
    Bundle::setMainResourceDirectory(dir_.path());
  }

 private:
  QTemporaryDir dir_;
};

// Collects what is written to standard output (file descriptor 1) while it lives.
class StdoutCapture {
 public:
  StdoutCapture() {
    std::fflush(stdout);
    saved_ = ::dup(1);
    file_ = std::tmpfile();
    ::dup2(::fileno(file_), 1);
  }
  ~StdoutCapture() { finish(); }
  std::string finish() {
    if (saved_ >= 0) {
      std::fflush(stdout);
      ::dup2(saved_, 1);
      ::close(saved_);
      saved_ = -1;
      std::rewind(file_);
      char chunk[4096];
      size_t n;
      while ((n = std::fread(chunk, 1, sizeof chunk, file_)) > 0) text_.append(chunk, n);
      std::fclose(file_);
    }
    return text_;
  }

 private:
  int saved_ = -1;
  std::FILE* file_ = nullptr;
  std::string text_;
};

inline QMessageBox* visibleAlert() {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (auto* box = qobject_cast<QMessageBox*>(widget); box != nullptr && box->isVisible()) return box;
  }
  return nullptr;
}

inline QAbstractButton* alertButton(QMessageBox* box, const QString& title) {
  for (QAbstractButton* button : box->buttons()) {
    if (button->text() == title) return button;
  }
  return nullptr;
}

inline QString settingsFilePath() {
  return QSettings(QSettings::NativeFormat, QSettings::UserScope, "Lorvanta", "Lorvanta").fileName();
}

inline QByteArray settingsFileContents() {
  UserDefaults::standard().synchronize();
  QFile file(settingsFilePath());
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline void clearSkipMemory() {
  UserDefaults& defaults = UserDefaults::standard();
  defaults.removeObjectForKey(kNoAlertAgainKey);
  defaults.removeObjectForKey(kNoAlertAgainLocalVersionKey);
  defaults.removeObjectForKey(kNoAlertAgainStoreVersionKey);
  defaults.synchronize();
}

inline std::string lookupReply(const std::string& version) {
  return R"({"resultCount":1,"results":[{"trackName":"Lorvanta","version":")" + version + R"("}]})";
}

inline void closeAllWindows() {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget->parentWidget() == nullptr) delete widget;
  }
  QCoreApplication::processEvents();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

}  // namespace lorvanta::testing
