#include "platform/Alert.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QSet>
#include <memory>
#include <vector>

namespace lorvanta {

namespace {

// Swallows the key events that reach `box` or a widget in it for `milliseconds` after it
// is made, and those of keys pressed in that time until they are released.
class KeyGuard : public QObject {
 public:
  KeyGuard(QWidget* box, qint64 milliseconds) : QObject(box), box_(box), milliseconds_(milliseconds) {
    shown_.start();
    QCoreApplication::instance()->installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    const QEvent::Type type = event->type();
    if (type != QEvent::KeyPress && type != QEvent::KeyRelease && type != QEvent::Shortcut) return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget == nullptr || (widget != box_ && !box_->isAncestorOf(widget))) return false;
    const bool early = shown_.elapsed() < milliseconds_;
    if (type == QEvent::Shortcut) return early;
    const auto* key = static_cast<QKeyEvent*>(event);
    if (early && type == QEvent::KeyPress) held_.insert(key->key());
    if (!held_.contains(key->key())) {
      if (!early && held_.isEmpty()) QCoreApplication::instance()->removeEventFilter(this);
      return false;
    }
    if (type == QEvent::KeyRelease && !key->isAutoRepeat()) held_.remove(key->key());
    return true;
  }

 private:
  QWidget* box_;
  qint64 milliseconds_;
  QElapsedTimer shown_;
  QSet<int> held_;
};

}  // namespace

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
    std::function<void(int64_t)> run = std::move(*pending);
    *pending = nullptr;
    if (run) run(code);
  });
  if (keysIgnoredSeconds_ > 0.0) new KeyGuard(box, static_cast<qint64>(keysIgnoredSeconds_ * 1000.0));
  box->open();
}

}  // namespace lorvanta
