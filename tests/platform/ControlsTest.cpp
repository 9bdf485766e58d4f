#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QKeyEvent>
#include <cmath>
#include <memory>

#include "platform/Controls.h"

namespace lorvanta {
namespace {

std::unique_ptr<QSlider> makeSlider(int min, int max) {
  auto slider = std::make_unique<QSlider>(Qt::Horizontal);
  slider->setRange(min, max);
  return slider;
}

TEST(Slider, SetStringValueTable) {
  struct Case {
    int min, max;
    const char* text;
    const char* stringValue;
    int position;
  };
  const Case cases[] = {
      {-2400, 2400, "12.5", "12.5", 13},   // the fraction is kept, the handle rounds
      {-2400, 2400, "-0", "-0.0", 0},      // negative zero survives
      {-2400, 2400, "abc", "300.0", 300},  // not a number: the slider stays
      {-2400, 2400, "", "300.0", 300},
      {-2400, 2400, " 5", "300.0", 300},  // leading blank: no number
      {-2400, 2400, "5 ", "300.0", 300},
      {-2400, 2400, "nan", "300.0", 300},
      {80, 450, "abc", "300.0", 300},
      {-2400, 2400, "9999", "2400.0", 2400},  // bounded to the range
      {-2400, 2400, "-inf", "-2400.0", -2400},
      {-2400, 2400, "inf", "2400.0", 2400},
      {80, 450, "180.0", "180.0", 180},
      {80, 450, "180.7", "180.7", 181},
      {80, 450, "1e2", "100.0", 100},
      {80, 450, "0x1p7", "128.0", 128},
      {80, 450, "-0", "80.0", 80},
      {80, 450, "12", "80.0", 80},
  };
  for (const Case& c : cases) {
    auto widget = makeSlider(c.min, c.max);
    Slider slider(widget.get());
    slider.setStringValue("300");
    slider.setStringValue(c.text);
    EXPECT_EQ(slider.stringValue().toStdString(), c.stringValue) << c.text;
    EXPECT_EQ(widget->value(), c.position) << c.text;
  }
}

TEST(Slider, EachSetReplacesTheStoredValue) {
  auto widget = makeSlider(-2400, 2400);
  Slider slider(widget.get());
  const char* const steps[][2] = {{"-0", "-0.0"},   {"0", "0.0"},  {"-0", "-0.0"},
                                  {"12.5", "12.5"}, {"x", "12.5"}, {"nan", "12.5"}};
  for (const auto& step : steps) {
    slider.setStringValue(step[0]);
    EXPECT_EQ(slider.stringValue().toStdString(), step[1]) << step[0];
  }
}

TEST(Slider, ValueIsSharedByAdaptersAndFollowsTheHand) {
  auto widget = makeSlider(-2400, 2400);
  Slider(widget.get()).setStringValue("12.5");
  Slider other(widget.get());
  EXPECT_EQ(other.doubleValue(), 12.5);
  EXPECT_EQ(other.minValue(), -2400.0);
  EXPECT_EQ(other.maxValue(), 2400.0);
  // The user moves the handle: the value is the handle's integer from then on.
  widget->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  EXPECT_EQ(other.stringValue(), "14.0");
  widget->triggerAction(QAbstractSlider::SliderSingleStepSub);
  EXPECT_EQ(other.stringValue(), "13.0");
  // A position set straight on the widget wins too.
  Slider(widget.get()).setStringValue("7.25");
  widget->setValue(100);
  EXPECT_EQ(other.doubleValue(), 100.0);
}

TEST(Slider, ValueFromCodeSendsNothingButTheHandDoes) {
  auto widget = makeSlider(80, 450);
  int sent = 0;
  QObject::connect(widget.get(), &QSlider::valueChanged, [&sent] { ++sent; });
  Slider slider(widget.get());
  slider.setStringValue("300");
  slider.setDoubleValue(200.0);
  EXPECT_EQ(sent, 0);
  QKeyEvent press(QEvent::KeyPress, Qt::Key_Right, Qt::NoModifier);
  QCoreApplication::sendEvent(widget.get(), &press);
  EXPECT_EQ(sent, 1);
  EXPECT_EQ(slider.doubleValue(), 201.0);
}

TEST(Controls, AdaptersOverDestroyedWidgetsAreNullAndHarmless) {
  Slider slider;
  PopUpButton popUp;
  TextView view;
  TextField field;
  ProgressIndicator indicator;
  {
    auto widget = makeSlider(0, 10);
    slider = Slider(widget.get());
    EXPECT_FALSE(slider.isNull());
  }
  EXPECT_TRUE(slider.isNull());
  slider.setStringValue("5");
  EXPECT_EQ(slider.doubleValue(), 0.0);
  popUp.addItemWithTitle("x");
  EXPECT_EQ(popUp.numberOfItems(), 0);
  EXPECT_EQ(popUp.indexOfSelectedItem(), -1);
  view.setString("x");
  EXPECT_EQ(view.string(), "");
  field.setStringValue("x");
  EXPECT_EQ(field.stringValue(), "");
  indicator.startAnimation();
  EXPECT_FALSE(indicator.isAnimating());
}

TEST(PopUpButton, EqualTitlesStayApartAndSelectingSendsNothing) {
  QComboBox box;
  box.addItems({"System Default Voice", "—"});
  int activated = 0;
  QObject::connect(&box, &QComboBox::activated, [&activated] { ++activated; });
  PopUpButton popUp(&box);
  popUp.addItemWithTitle("en_US  -  Hello");
  popUp.addItemWithTitle("en_US  -  Hello");
  EXPECT_EQ(popUp.numberOfItems(), 4);
  popUp.selectItemAtIndex(3);
  EXPECT_EQ(popUp.indexOfSelectedItem(), 3);
  EXPECT_EQ(popUp.itemTitleAtIndex(3), "en_US  -  Hello");
  while (popUp.numberOfItems() > 2) popUp.removeItemAtIndex(2);
  EXPECT_EQ(popUp.numberOfItems(), 2);
  popUp.removeItemAtIndex(7);  // out of range: nothing
  EXPECT_EQ(popUp.numberOfItems(), 2);
  EXPECT_EQ(activated, 0);
}

TEST(Controls, TextAndIndicatorAdapters) {
  QPlainTextEdit edit;
  TextView view(&edit);
  view.setString(QString::fromUtf8("Hello <speak> 你好\nline two"));
  EXPECT_EQ(view.string(), QString::fromUtf8("Hello <speak> 你好\nline two"));
  QLineEdit line;
  TextField field(&line);
  field.setStringValue("180.0");
  EXPECT_EQ(field.stringValue(), "180.0");
  QProgressBar bar;
  ProgressIndicator indicator(&bar);
  indicator.startAnimation();
  EXPECT_TRUE(indicator.isAnimating());
  EXPECT_EQ(bar.maximum(), 0);
  indicator.setHidden(true);
  EXPECT_TRUE(indicator.isHidden());
  indicator.setHidden(false);
  EXPECT_FALSE(indicator.isHidden());
  indicator.stopAnimation();
  EXPECT_FALSE(indicator.isAnimating());
  indicator.startAnimation();
  indicator.setDoubleValue(0.25);
  EXPECT_FALSE(indicator.isAnimating());
  EXPECT_EQ(bar.value() * 4, bar.maximum());
  indicator.setDoubleValue(7.0);  // past the end: full
  EXPECT_EQ(bar.value(), bar.maximum());
  indicator.startAnimation();
  EXPECT_TRUE(indicator.isAnimating());
}

}  // namespace
}  // namespace lorvanta
