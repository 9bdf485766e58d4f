#pragma once

// Answers the warnings the window shows (a message box with one OK button) the way a user
// would, and records what they said. Questions with a Yes button are left to the panel driver.

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

}  // namespace lorvanta::roadtest
