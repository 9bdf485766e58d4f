#include <gtest/gtest.h>

#include <bit>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>

#include "base/NumberText.h"

namespace lorvanta {
namespace {

const struct {
  const char* text;
  float value;
} kParsed[] = {
    {"12", 12.0f},     {"12.5", 12.5f},     {".5", 0.5f},           {"5.", 5.0f},
    {"1e3", 1000.0f},  {"2.5E-2", 0.025f},  {"1e2", 100.0f},        {"0x1p3", 8.0f},
    {"0X1.8P1", 3.0f}, {"0x.8", 0.5f},      {"0xA", 10.0f},         {"+5", 5.0f},
    {"-3.9", -3.9f},   {"180.7", 180.7f},   {"1.10", 1.1f},         {"180", 180.0f},
    {"0", 0.0f},       {"1e39", INFINITY},  {"1e-50", 0.0f},        {"1e+2", 100.0f},
    {"inf", INFINITY}, {"-INF", -INFINITY}, {"Infinity", INFINITY}, {"+iNfInItY", INFINITY},
};

TEST(WholeDecimalParse, Values) {
  for (const auto& c : kParsed) {
    const std::optional<float> value = parseWholeDecimal(c.text);
    ASSERT_TRUE(value.has_value()) << c.text;
    EXPECT_EQ(std::bit_cast<std::uint32_t>(*value), std::bit_cast<std::uint32_t>(c.value)) << c.text;
  }
}

TEST(WholeDecimalParse, SignedZeroAndNotANumber) {
  EXPECT_TRUE(std::signbit(*parseWholeDecimal("-0")));
  EXPECT_FALSE(std::signbit(*parseWholeDecimal("0.0")));
  for (const char* text : {"nan", "NaN", "-nan", "nan()", "nan(0x7f_ab)", "NAN(abc123)"}) {
    const std::optional<float> value = parseWholeDecimal(text);
    ASSERT_TRUE(value.has_value()) << text;
    EXPECT_TRUE(std::isnan(*value)) << text;
  }
}

TEST(WholeDecimalParse, TextsWithoutValue) {
  const std::string withNul("1\0", 2);
  for (const std::string& text : std::initializer_list<std::string>{
           "",        " 180", "180 ",     "\t1",  "\n1", "\v1",   "\f1", "\r1", "1\n",       "1,5",
           "1.2.10",  "abc",  "+",        "-",    ".",   "1e",    "1e+", "0x",  "0x1p",      "in",
           "infinit", "nan(", "nan(a-b)", "nan)", "1 2", "12abc", "--1", "+-1", "0x1.8p1.5", withNul,
       }) {
    EXPECT_FALSE(parseWholeDecimal(text).has_value()) << '"' << text << '"';
  }
}

TEST(FloatTextForm, Examples) {
  const struct {
    float value;
    const char* text;
  } cases[] = {
      {180.0f, "180.0"},  {0.0f, "0.0"},        {-0.0f, "-0.0"},   {12.5f, "12.5"},     {0.1f, "0.1"},
      {-3.0f, "-3.0"},    {180.7f, "180.7"},    {1.1f, "1.1"},     {100.0f, "100.0"},   {-1200.0f, "-1200.0"},
      {1e10f, "1.0e+10"}, {1.5e-7f, "1.5e-07"}, {INFINITY, "inf"}, {-INFINITY, "-inf"},
  };
  for (const auto& c : cases) EXPECT_EQ(floatTextForm(c.value), c.text) << c.text;
  EXPECT_EQ(floatTextForm(std::numeric_limits<float>::quiet_NaN()), "nan");
}

// Every finite float reads back as itself, and the text is the shortest that does.
TEST(FloatTextForm, ReadsBackAsSameValue) {
  std::mt19937 random(1234);
  std::vector<float> values = {std::numeric_limits<float>::max(),
                               std::numeric_limits<float>::min(),
                               std::numeric_limits<float>::denorm_min(),
                               std::numeric_limits<float>::lowest(),
                               16777216.0f,
                               16777217.0f,
                               0.3f,
                               1.0f / 3.0f};
  for (int i = 0; i < 20000; ++i) {
    const float value = std::bit_cast<float>(static_cast<std::uint32_t>(random()));
    if (std::isfinite(value)) values.push_back(value);
  }
  for (const float value : values) {
    const std::string text = floatTextForm(value);
    const std::optional<float> back = parseWholeDecimal(text);
    ASSERT_TRUE(back.has_value()) << text;
    EXPECT_EQ(std::bit_cast<std::uint32_t>(*back), std::bit_cast<std::uint32_t>(value)) << text;
    const size_t point = text.find('.');
    ASSERT_NE(point, std::string::npos) << text;
    EXPECT_TRUE(point + 1 < text.size() && std::isdigit(static_cast<unsigned char>(text[point + 1]))) << text;
  }
}

// A locale whose decimal mark is a comma changes neither conversion.
TEST(NumberTextLocale, DecimalCommaLocaleChangesNothing) {
  const std::string previous = std::setlocale(LC_ALL, nullptr);
  const char* chosen = nullptr;
  for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8"}) {
    if ((chosen = std::setlocale(LC_ALL, name)) != nullptr) break;
  }
  ASSERT_NE(chosen, nullptr) << "no locale with a decimal comma installed (package locales-all)";
  ASSERT_STREQ(std::localeconv()->decimal_point, ",");

  EXPECT_EQ(parseWholeDecimal("12.5"), 12.5f);
  EXPECT_EQ(parseWholeDecimal("1,5"), std::nullopt);
  EXPECT_EQ(parseWholeDecimal("1.10"), 1.1f);
  EXPECT_EQ(parseWholeDecimal("0x1p3"), 8.0f);
  EXPECT_EQ(floatTextForm(12.5f), "12.5");
  EXPECT_EQ(floatTextForm(180.0f), "180.0");
  EXPECT_EQ(floatTextForm(-0.0f), "-0.0");

  std::setlocale(LC_ALL, previous.c_str());
}

}  // namespace
}  // namespace lorvanta
