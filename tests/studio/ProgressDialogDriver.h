#pragma once

// Watches for the progress dialog of a long save, records what it showed and, when asked,
// presses its Cancel button as a user would.

#include <QApplication>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>
#include <memory>

namespace lorvanta::roadtest {

struct ProgressSeen {
  bool shown = false;
  QString title;
  QString label;
  bool windowModal = false;
  bool activeModal = false;   // the application's active modal widget
  QWidget* window = nullptr;  // the window it blocks
  int value = -1;             // the last value seen
  int maximum = 0;
  bool cancelled = false;
};

// Stays active until the returned record is dropped; `cancel` presses Cancel once the
// dialog has shown some progress.
inline std::shared_ptr<ProgressSeen> watchProgressDialogs(bool cancel) {
  auto seen = std::make_shared<ProgressSeen>();
  auto* timer = new QTimer(qApp);
  timer->setInterval(5);
  std::weak_ptr<ProgressSeen> weak = seen;
  QObject::connect(timer, &QTimer::timeout, timer, [timer, weak, cancel] {
    const std::shared_ptr<ProgressSeen> record = weak.lock();
    if (!record) {
      timer->deleteLater();
      return;
    }
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      auto* dialog = qobject_cast<QProgressDialog*>(widget);
      if (dialog == nullptr || !dialog->isVisible()) continue;
      record->shown = true;
      record->title = dialog->windowTitle();
      record->label = dialog->labelText();
      record->windowModal = dialog->windowModality() == Qt::WindowModal;
      record->activeModal = QApplication::activeModalWidget() == dialog;
      record->window = dialog->parentWidget() != nullptr ? dialog->parentWidget()->window() : nullptr;
      record->value = dialog->value();
      record->maximum = dialog->maximum();
      if (cancel && !record->cancelled && dialog->value() > dialog->minimum()) {
        for (QPushButton* button : dialog->findChildren<QPushButton*>()) {
          record->cancelled = true;
          button->click();
        }
      }
      return;
    }
  });
  timer->start();
  return seen;
}

}  // namespace lorvanta::roadtest
