#pragma once

#include <cstdint>
#include <functional>

#include <QString>
#include <QStringList>
#include <QWidget>

namespace lorvanta {

// A message with buttons, shown window-modal on a window (QMessageBox).
class Alert {
 public:
  static constexpr int64_t kFirstButtonReturn = 1000;
  static constexpr int64_t kSecondButtonReturn = 1001;
  static constexpr int64_t kThirdButtonReturn = 1002;

  void setMessageText(const QString& text) { messageText_ = text; }
  void setInformativeText(const QString& text) { informativeText_ = text; }
  void addButtonWithTitle(const QString& title) { buttons_ << title; }
  const QString& messageText() const { return messageText_; }
  const QString& informativeText() const { return informativeText_; }
  const QStringList& buttonTitles() const { return buttons_; }

  // Returns at once; later calls `handler` once, on the main thread, with the code of the
  // button that ended the alert (1000 + its index).
  void beginSheetModalForWindow(QWidget* window, std::function<void(int64_t)> handler) const;

 private:
  QString messageText_;
  QString informativeText_;
  QStringList buttons_;
};

}  // namespace lorvanta
