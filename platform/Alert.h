#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>
#include <cstdint>
#include <functional>

namespace lorvanta {

// A message with buttons, shown window-modal on a window (QMessageBox).
class Alert {
 public:
  static constexpr int64_t kFirstButtonReturn = 1000;
  static constexpr int64_t kSecondButtonReturn = 1001;
  static constexpr int64_t kThirdButtonReturn = 1002;
  // The alert went away without a button (its window was closed under it).
  static constexpr int64_t kNoButtonReturn = 0;

  // How the alert looks: plain, or marked as a warning.
  enum class Style { Informational, Warning };

  void setAlertStyle(Style style) { style_ = style; }
  void setMessageText(const QString& text) { messageText_ = text; }
  void setInformativeText(const QString& text) { informativeText_ = text; }
  void addButtonWithTitle(const QString& title) { buttons_ << title; }
  // For this long after the alert appears, keys do not press its buttons (a click does);
  // a key held down then stays without effect until it is released.
  void setKeysIgnoredFor(double seconds) { keysIgnoredSeconds_ = seconds; }
  const QString& messageText() const { return messageText_; }
  const QString& informativeText() const { return informativeText_; }
  const QStringList& buttonTitles() const { return buttons_; }

  // Opens the alert on `window` (left to right in the order added, the first one the
  // default button; Escape answers with the last one) and returns at once. Later calls
  // `handler` once, on the main thread, with 1000 + the index of the button that ended the
  // alert. Main thread only.
  void beginSheetModalForWindow(QWidget* window, std::function<void(int64_t)> handler) const;

 private:
  Style style_ = Style::Informational;
  QString messageText_;
  QString informativeText_;
  QStringList buttons_;
  double keysIgnoredSeconds_ = 0.0;
};

}  // namespace lorvanta
