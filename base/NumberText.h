#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace lorvanta {

// Whole-string decimal parse: strtof's number syntax in the POSIX locale, whatever the
// process locale is. Empty text, leading white space or anything left over gives no value.
std::optional<float> parseWholeDecimal(std::string_view text);

// Shortest text that parses back to the same float, always with a digit after the point
// ("180.0", "0.0", "-0.0", "12.5").
std::string floatTextForm(float value);

}  // namespace lorvanta
