#pragma once

// Answers the next save panel the way a user would: types a path and confirms (also the
// question whether to replace an existing file), or cancels.

#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <memory>

namespace lorvanta::roadtest {

struct PanelSeen {
  int panels = 0;            // save panels that opened
  int replaceQuestions = 0;  // "replace the existing file?" questions answered with yes
  QStringList nameFilters;
  QString defaultSuffix;
  bool acceptSave = false;
  bool readOnly = true;
  int stuckTicks = 0;
};

// An empty `path` cancels the panel. The driver stays active until `seen` is dropped or
// `limit` panels were answered.
inline std::shared_ptr<PanelSeen> answerSavePanels(const QString& path, int limit = 1) {
  auto seen = std::make_shared<PanelSeen>();
  auto* timer = new QTimer(qApp);
  timer->setInterval(10);
  std::weak_ptr<PanelSeen> weak = seen;
  QObject::connect(timer, &QTimer::timeout, timer, [timer, weak, path, limit] {
    const std::shared_ptr<PanelSeen> record = weak.lock();
    if (!record) {
      timer->deleteLater();
      return;
    }
    QWidget* modal = QApplication::activeModalWidget();
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
      if (QAbstractButton* yes = box->button(QMessageBox::Yes)) {
        ++record->replaceQuestions;
        yes->click();
      }
      return;
    }
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    if (!dialog) return;
    if (record->panels >= limit) {
      // A panel that did not take the answer (or one too many) must not block the test.
      if (++record->stuckTicks > 200) dialog->reject();
      return;
    }
    record->stuckTicks = 0;
    ++record->panels;
    record->nameFilters = dialog->nameFilters();
    record->defaultSuffix = dialog->defaultSuffix();
    record->acceptSave = dialog->acceptMode() == QFileDialog::AcceptSave;
    record->readOnly = dialog->testOption(QFileDialog::ReadOnly);
    if (path.isEmpty()) {
      dialog->reject();
      return;
    }
    // The name field takes a whole path, as a user may type it.
    auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    if (!name) {
      dialog->reject();
      return;
    }
    name->setText(path);
    // Queued, so a question the panel asks (replace?) is answered by the next tick. The
    // panel's own checks run, as for a click on Save.
    QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
  });
  timer->start();
  return seen;
}

}  // namespace lorvanta::roadtest
