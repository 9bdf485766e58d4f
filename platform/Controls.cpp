#include "platform/Controls.h"

#include <QSignalBlocker>
#include <QVariant>
#include <algorithm>
#include <cmath>
#include <string>

#include "platform/NumberTextQt.h"

namespace lorvanta {

// PopUpButton

int PopUpButton::numberOfItems() const { return box_ ? box_->count() : 0; }

void PopUpButton::removeItemAtIndex(int index) {
  if (box_ && index >= 0 && index < box_->count()) box_->removeItem(index);
}

void PopUpButton::addItemWithTitle(const QString& title) {
  if (box_) box_->addItem(title);
}

void PopUpButton::selectItemAtIndex(int index) {
  if (box_ && index >= -1 && index < box_->count()) box_->setCurrentIndex(index);
}

int PopUpButton::indexOfSelectedItem() const { return box_ ? box_->currentIndex() : -1; }

QString PopUpButton::itemTitleAtIndex(int index) const { return box_ ? box_->itemText(index) : QString(); }

// TextView

QString TextView::string() const { return edit_ ? edit_->toPlainText() : QString(); }

void TextView::setString(const QString& text) {
  if (edit_) edit_->setPlainText(text);
}

// TextField

QString TextField::stringValue() const { return edit_ ? edit_->text() : QString(); }

void TextField::setStringValue(const QString& text) {
  if (edit_) edit_->setText(text);
}

// Slider
//
// The exact value lives in a dynamic property of the QSlider, so every adapter over the
// same widget sees it. The handle shows the nearest integer position. Once the user moves
// the handle, the property is dropped and the value is the handle's position again.

namespace {

constexpr const char* kValueProperty = "lorvantaSliderValue";
constexpr const char* kWatchedProperty = "lorvantaSliderWatched";

void watchUserMoves(QSlider* slider) {
  if (slider->property(kWatchedProperty).toBool()) return;
  slider->setProperty(kWatchedProperty, true);
  // actionTriggered comes from the mouse, the keyboard and the wheel, never from setValue.
  QObject::connect(slider, &QAbstractSlider::actionTriggered, slider,
                   [slider](int) { slider->setProperty(kValueProperty, QVariant()); });
}

}  // namespace

double Slider::minValue() const { return slider_ ? slider_->minimum() : 0.0; }

double Slider::maxValue() const { return slider_ ? slider_->maximum() : 0.0; }

double Slider::doubleValue() const {
  if (!slider_) return 0.0;
  const QVariant stored = slider_->property(kValueProperty);
  if (stored.isValid()) {
    const double value = stored.toDouble();
    // A position set by other means (setValue, a range change) wins over a stale value.
    if (std::lround(value) == slider_->value()) return value;
  }
  return slider_->value();
}

void Slider::setDoubleValue(double value) {
  if (!slider_) return;
  // A not-a-number is no position: the slider stays where it is.
  if (std::isnan(value)) return;
  value = std::clamp(value, minValue(), maxValue());
  watchUserMoves(slider_);
  // setProperty keeps a stored value that compares equal, and 0.0 equals -0.0.
  slider_->setProperty(kValueProperty, QVariant());
  slider_->setProperty(kValueProperty, value);
  // A value set from code is no user action: nothing is sent.
  const QSignalBlocker blocker(slider_);
  slider_->setValue(static_cast<int>(std::lround(value)));
}

QString Slider::stringValue() const { return floatText(static_cast<float>(doubleValue())); }

void Slider::setStringValue(const QString& text) {
  // A text that is not a number leaves the slider where it was.
  if (const std::optional<float> parsed = parseDecimalText(text)) setDoubleValue(*parsed);
}

// ProgressIndicator

void ProgressIndicator::startAnimation() {
  if (bar_) bar_->setRange(0, 0);
}

void ProgressIndicator::stopAnimation() {
  if (!bar_) return;
  bar_->setRange(0, 1);
  bar_->setValue(0);
}

bool ProgressIndicator::isAnimating() const { return bar_ && bar_->minimum() == 0 && bar_->maximum() == 0; }

void ProgressIndicator::setDoubleValue(double fraction) {
  constexpr int kSteps = 1000;
  if (!bar_ || std::isnan(fraction)) return;
  bar_->setRange(0, kSteps);
  bar_->setValue(static_cast<int>(std::lround(std::clamp(fraction, 0.0, 1.0) * kSteps)));
}

void ProgressIndicator::setHidden(bool hidden) {
  if (bar_) bar_->setHidden(hidden);
}

bool ProgressIndicator::isHidden() const { return !bar_ || bar_->isHidden(); }

}  // namespace lorvanta
