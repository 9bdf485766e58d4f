#include "base/NumberText.h"

#include <locale.h>

#include <array>
#include <charconv>
#include <clocale>
#include <cstdlib>

namespace lorvanta {

namespace {

locale_t posixLocale() {
  static const locale_t locale = newlocale(LC_ALL_MASK, "POSIX", locale_t{});
  return locale;
}

bool isLeadingSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

std::optional<float> parseWholeDecimal(std::string_view text) {
  if (text.empty() || isLeadingSpace(text.front())) {
    return std::nullopt;
  }
  // strtof needs a terminated string; an embedded NUL ends the number early and so
  // leaves text over, which gives no value below.
  const std::string copy(text);
  char* end = nullptr;
  const float value = strtof_l(copy.c_str(), &end, posixLocale());
  if (end != copy.c_str() + copy.size()) {
    return std::nullopt;
  }
  return value;
}

std::string floatTextForm(float value) {
  std::array<char, 64> digits{};
  const auto [end, ec] = std::to_chars(digits.data(), digits.data() + digits.size(), value);
  if (ec != std::errc{}) {
    return {};
  }
  std::string text(digits.data(), end);
  if (text.find_first_of("infa") != std::string::npos) {
    return text;  // "inf", "-inf", "nan"
  }
  const auto exponent = text.find('e');
  const auto mantissaEnd = exponent == std::string::npos ? text.size() : exponent;
  if (text.find('.') == std::string::npos) {
    text.insert(mantissaEnd, ".0");
  }
  return text;
}

}  // namespace lorvanta
