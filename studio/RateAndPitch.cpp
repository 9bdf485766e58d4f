// The rate and pitch controls: the sliders hold the values, the text fields show them and
// feed the sliders.

#include <cmath>
#include <cstdint>
#include <optional>
#include <string>

#include "base/ConsoleLine.h"
#include "platform/NumberTextQt.h"
#include "studio/ViewController.h"

namespace lorvanta {

namespace {

constexpr float kFallbackRate = 180.0f;
constexpr float kFallbackPitch = 0.0f;

// The whole part of `value` cut toward zero through a 64-bit integer; the fallback rate
// when the value has no 64-bit whole part (an infinity, a not-a-number, out of range).
float wholeRate(float value) {
  constexpr float kInt64Bound = 9223372036854775808.0f;  // 2^63
  if (!std::isfinite(value) || value < -kInt64Bound || value >= kInt64Bound) return kFallbackRate;
  return static_cast<float>(static_cast<int64_t>(value));
}

}  // namespace

void ViewController::set_rate_slider_action(QObject* /*sender*/) {
  rate = wholeRate(parseDecimalText(rate_slider.stringValue()).value_or(kFallbackRate));
  rate_textfield.setStringValue(floatText(rate));

  std::optional<float> newPitch = parseDecimalText(pitch_slider.stringValue());
  // A not-a-number is no pitch the unit can play.
  if (newPitch && std::isnan(*newPitch)) newPitch.reset();
  pitch = newPitch.value_or(kFallbackPitch);
  if (auTimePitch) auTimePitch->setPitch(pitch);
  pitch_textfield.setStringValue(floatText(pitch));
}

void ViewController::set_picth_rate_textfield_action(QObject* sender) {
  const QString rateText = rate_textfield.stringValue();
  const QString pitchText = pitch_textfield.stringValue();
  const std::optional<float> typedRate = parseDecimalText(rateText);
  const std::string line = pitchText.toStdString() + " " +
                           (typedRate ? "Optional(" + floatTextForm(*typedRate) + ")" : std::string("nil"));
  printLine(line);

  rate_slider.setStringValue(rateText);
  pitch_slider.setStringValue(pitchText);
  set_rate_slider_action(sender);
}

}  // namespace lorvanta
