#pragma once

// Answers the warnings the window shows (a message box with one OK button) the way a user
// would, and records what they said. Questions with a Yes button are left to the panel driver.

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <memory>
#include <sstream>
#include <string>

namespace lorvanta::roadtest {

struct WarningSeen {
  QString text;
  QStringList buttons;
  bool windowModal = false;
  QWidget* window = nullptr;  // the window it was shown on
};

// Stays active until the returned list is dropped.
inline std::shared_ptr<QList<WarningSeen>> answerWarnings() {
  auto seen = std::make_shared<QList<WarningSeen>>();
  auto* timer = new QTimer(qApp);
  timer->setInterval(10);
  std::weak_ptr<QList<WarningSeen>> weak = seen;
  QObject::connect(timer, &QTimer::timeout, timer, [timer, weak] {
    const std::shared_ptr<QList<WarningSeen>> record = weak.lock();
    if (!record) {
      timer->deleteLater();
      return;
    }
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      auto* box = qobject_cast<QMessageBox*>(widget);
      if (box == nullptr || !box->isVisible() || box->button(QMessageBox::Yes) != nullptr) continue;
      WarningSeen warning{box->text(), {}, box->windowModality() == Qt::WindowModal, box->parentWidget()};
      for (QAbstractButton* button : box->buttons()) warning.buttons << button->text();
      record->push_back(warning);
      if (!box->buttons().isEmpty()) box->buttons().front()->click();
      return;
    }
  });
  timer->start();
  return seen;
}

// How often `line` stands as a whole line in `text` (the platform may add lines of its own).
inline int countLines(const std::string& text, const std::string& line) {
  std::istringstream in(text);
  int count = 0;
  for (std::string each; std::getline(in, each);) count += each == line ? 1 : 0;
  return count;
}

// The text of the one warning a request showed, once it is checked that it was told as a
// failure is: one OK button, window-modal on `window`, and the same line once on stderr
// (`errors`). Empty when no warning was shown.
inline QString toldWarning(const QList<WarningSeen>& seen, const std::string& errors, const QWidget* window) {
  if (seen.isEmpty()) return QString();
  EXPECT_EQ(seen.size(), 1);
  const WarningSeen& warning = seen.front();
  EXPECT_EQ(warning.buttons, QStringList{"OK"});
  EXPECT_TRUE(warning.windowModal);
  EXPECT_EQ(warning.window, window);
  EXPECT_EQ(countLines(errors, warning.text.toStdString()), 1) << errors;
  return warning.text;
}

}  // namespace lorvanta::roadtest
