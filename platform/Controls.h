#pragma once

#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QSlider>
#include <QString>

namespace lorvanta {

// Thin adapters over the window's widgets with the value semantics the window code uses.
// Each holds its widget weakly: once the widget is gone, the adapter is null.

class PopUpButton {
 public:
  explicit PopUpButton(QComboBox* box = nullptr) : box_(box) {}
  bool isNull() const { return box_.isNull(); }
  QComboBox* widget() const { return box_; }

  int numberOfItems() const;
  void removeItemAtIndex(int index);
  void addItemWithTitle(const QString& title);  // appends, even when the title exists
  void selectItemAtIndex(int index);
  int indexOfSelectedItem() const;  // -1 when none
  QString itemTitleAtIndex(int index) const;

 private:
  QPointer<QComboBox> box_;
};

class TextView {
 public:
  explicit TextView(QPlainTextEdit* edit = nullptr) : edit_(edit) {}
  bool isNull() const { return edit_.isNull(); }
  QPlainTextEdit* widget() const { return edit_; }
  QString string() const;
  void setString(const QString& text);

 private:
  QPointer<QPlainTextEdit> edit_;
};

class TextField {
 public:
  explicit TextField(QLineEdit* edit = nullptr) : edit_(edit) {}
  bool isNull() const { return edit_.isNull(); }
  QLineEdit* widget() const { return edit_; }
  QString stringValue() const;
  void setStringValue(const QString& text);

 private:
  QPointer<QLineEdit> edit_;
};

// A QSlider carrying a double value within its range. stringValue is the text form of
// the value; setStringValue takes a number, bounded to the range. A text that is not a
// number, and a not-a-number, leave the value as it was.
class Slider {
 public:
  explicit Slider(QSlider* slider = nullptr) : slider_(slider) {}
  bool isNull() const { return slider_.isNull(); }
  QSlider* widget() const { return slider_; }
  double minValue() const;
  double maxValue() const;
  double doubleValue() const;
  void setDoubleValue(double value);
  QString stringValue() const;
  void setStringValue(const QString& text);

 private:
  QPointer<QSlider> slider_;
};

// A busy indicator (QProgressBar with range 0..0).
class ProgressIndicator {
 public:
  explicit ProgressIndicator(QProgressBar* bar = nullptr) : bar_(bar) {}
  bool isNull() const { return bar_.isNull(); }
  QProgressBar* widget() const { return bar_; }
  void startAnimation();
  void stopAnimation();
  bool isAnimating() const;
  // A determinate bar filled to `fraction` (0 to 1); startAnimation goes back to the busy bar.
  void setDoubleValue(double fraction);
  void setHidden(bool hidden);
  bool isHidden() const;

 private:
  QPointer<QProgressBar> bar_;
};

}  // namespace lorvanta
