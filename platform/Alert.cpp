#include "platform/Alert.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QPushButton>
#include <memory>
#include <vector>

namespace lorvanta {

void Alert::beginSheetModalForWindow(QWidget* window, std::function<void(int64_t)> handler) const {
  if (window == nullptr) return;
  auto* box = new QMessageBox(window);
  box->setWindowModality(Qt::WindowModal);
  if (style_ == Style::Warning) box->setIcon(QMessageBox::Warning);
  box->setText(messageText_);
  box->setInformativeText(informativeText_);
  // One role for all, so the box keeps them in the order they were added.
  auto buttons = std::make_shared<std::vector<QAbstractButton*>>();
  for (const QString& title : buttons_) buttons->push_back(box->addButton(title, QMessageBox::AcceptRole));
  if (!buttons->empty()) {
    box->setDefaultButton(static_cast<QPushButton*>(buttons->front()));
    box->setEscapeButton(buttons->back());
  }
  // The handler, and whatever it holds, goes as soon as it has run.
  auto pending = std::make_shared<std::function<void(int64_t)>>(std::move(handler));
  QObject::connect(box, &QMessageBox::finished, box, [box, buttons, pending](int) {
    int64_t code = kNoButtonReturn;
    for (size_t i = 0; i < buttons->size(); ++i) {
      if ((*buttons)[i] == box->clickedButton()) code = kFirstButtonReturn + static_cast<int64_t>(i);
    }
    box->deleteLater();
    std::function<void(int64_t)> handler = std::move(*pending);
    *pending = nullptr;
    if (handler) handler(code);
  });
  box->open();
}

}  // namespace lorvanta
