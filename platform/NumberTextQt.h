#pragma once

#include <QString>
#include <optional>

#include "base/NumberText.h"

namespace lorvanta {

// The number-text conversions for Qt text.
inline std::optional<float> parseDecimalText(const QString& text) {
  return parseWholeDecimal(text.toStdString());
}
inline QString floatText(float value) { return QString::fromStdString(floatTextForm(value)); }

}  // namespace lorvanta
