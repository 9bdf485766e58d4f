#include <gtest/gtest.h>

#include <cmath>

#include "FixtureVoiceSynthesizer.h"

namespace lorvanta {
namespace {

using voicetest::FixtureVoiceState;
using voicetest::FixtureWindow;

class RatePitchTest : public ::testing::Test {
 protected:
  RatePitchTest() : state_(std::make_shared<FixtureVoiceState>()) {
    state_->voices = {{"en", {}}};
    state_->defaultVoice = "en";
    controller_ = voicetest::makeFixtureController(state_);
  }

  void bindAndLoad() {
    window_.bind(*controller_);
    controller_->awakeFromNib();
    controller_->viewDidLoad();
  }

  // Types into both fields and sends the fields' action; returns what went to stdout.
  std::string typeIntoFields(const QString& rateText, const QString& pitchText) {
    window_.rateField->setText(rateText);
    window_.pitchField->setText(pitchText);
    testing::internal::CaptureStdout();
    controller_->set_picth_rate_textfield_action(window_.rateField);
    return testing::internal::GetCapturedStdout();
  }

  std::string moveSliders(const QString& rateText, const QString& pitchText) {
    controller_->rate_slider.setStringValue(rateText);
    controller_->pitch_slider.setStringValue(pitchText);
    testing::internal::CaptureStdout();
    controller_->set_rate_slider_action(window_.rateSlider);
    return testing::internal::GetCapturedStdout();
  }

  std::shared_ptr<FixtureVoiceState> state_;
  FixtureWindow window_;
  std::unique_ptr<ViewController> controller_;
};

TEST_F(RatePitchTest, SliderActionCutsTheRateAndKeepsThePitchFraction) {
  window_.rateSlider->setRange(-10, 500);  // lets a negative rate reach the cut
  bindAndLoad();
  struct Case {
    QString rateText, pitchText;
    float rate, pitch;
    QString rateField, pitchField;
  };
  const Case cases[] = {
      {"180.7", "12.5", 180.0f, 12.5f, "180.0", "12.5"},
      {"-3.9", "-3.9", -3.0f, -3.9f, "-3.0", "-3.9"},
      {"449.999", "0.1", 449.0f, 0.1f, "449.0", "0.1"},
      {"-0.5", "-0", 0.0f, -0.0f, "0.0", "-0.0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rateText.toStdString() + " / " + c.pitchText.toStdString());
    EXPECT_EQ(moveSliders(c.rateText, c.pitchText), "") << "the slider action prints nothing";
    EXPECT_EQ(controller_->rate, c.rate);
    EXPECT_EQ(controller_->pitch, c.pitch);
    EXPECT_EQ(std::signbit(controller_->pitch), std::signbit(c.pitch));
    EXPECT_EQ(window_.rateField->text(), c.rateField);
    EXPECT_EQ(window_.pitchField->text(), c.pitchField);
  }
  EXPECT_TRUE(state_->rates.empty()) << "a new rate waits for the next request";
}

TEST_F(RatePitchTest, PitchReachesTheCurrentTimePitchUnitAtOnce) {
  bindAndLoad();
  const std::shared_ptr<AudioUnitTimePitch> unit = controller_->auTimePitch;
  ASSERT_NE(unit, nullptr);
  moveSliders("200", "12.5");
  EXPECT_EQ(unit->pitch(), 12.5f);
  typeIntoFields("200.0", "-1200");
  EXPECT_EQ(unit->pitch(), -1200.0f);
}

TEST_F(RatePitchTest, FieldActionPrintsTheTypedRateAndGoesThroughTheSliders) {
  bindAndLoad();
  struct Case {
    QString rateText, pitchText;
    std::string console;
    float rate, pitch;
    QString rateField, pitchField;
  };
  const Case cases[] = {
      {"180.0", "0.0", "0.0 Optional(180.0)\n", 180.0f, 0.0f, "180.0", "0.0"},
      {"180.7", "12.5", "12.5 Optional(180.7)\n", 180.0f, 12.5f, "180.0", "12.5"},
      {"300", "-0", "-0 Optional(300.0)\n", 300.0f, -0.0f, "300.0", "-0.0"},
      // Not a number (a not-a-number included): the slider keeps its value and the field
      // shows it again.
      {"abc", "-1200", "-1200 nil\n", 300.0f, -1200.0f, "300.0", "-1200.0"},
      {"", "x", "x nil\n", 300.0f, -1200.0f, "300.0", "-1200.0"},
      {" 180", " 5", " 5 nil\n", 300.0f, -1200.0f, "300.0", "-1200.0"},
      {"inf", "nan", "nan Optional(inf)\n", 450.0f, -1200.0f, "450.0", "-1200.0"},
      {"nan", "abc", "abc Optional(nan)\n", 450.0f, -1200.0f, "450.0", "-1200.0"},
      // Out of range: bounded by the slider.
      {"1000", "3000.5", "3000.5 Optional(1000.0)\n", 450.0f, 2400.0f, "450.0", "2400.0"},
      {"-3.9", "-2500", "-2500 Optional(-3.9)\n", 80.0f, -2400.0f, "80.0", "-2400.0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rateText.toStdString() + " / " + c.pitchText.toStdString());
    EXPECT_EQ(typeIntoFields(c.rateText, c.pitchText), c.console);
    EXPECT_EQ(controller_->rate, c.rate);
    EXPECT_EQ(controller_->pitch, c.pitch);
    EXPECT_EQ(std::signbit(controller_->pitch), std::signbit(c.pitch));
    EXPECT_EQ(window_.rateField->text(), c.rateField);
    EXPECT_EQ(window_.pitchField->text(), c.pitchField);
    EXPECT_EQ(controller_->auTimePitch->pitch(), c.pitch);
  }
}

}  // namespace
}  // namespace lorvanta
