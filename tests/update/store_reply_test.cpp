#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "update/StoreReply.h"

namespace lorvanta {
namespace {

TEST(StoreReplyTest, OnlyATopLevelObjectGivesADictionary) {
  struct Case {
    const char* text;
    bool empty;
  };
  const Case cases[] = {
      {R"({"results":[{"version":"1.2"}]})", false},
      {R"([{"results":[{"version":"1.2"}]}])", true},
      {R"("1.2")", true},
      {"1.2", true},
      {"null", true},
      {"", true},
      {R"({"results":[)", true},
      {R"({"a":1} trailing)", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(dictionaryFromJSONText(QString::fromUtf8(c.text)).isEmpty(), c.empty);
  }
}

TEST(StoreReplyTest, StoreVersionIsTheLastResultsVersion) {
  struct Case {
    const char* text;
    std::optional<QString> version;
  };
  const Case cases[] = {
      {R"({"results":[{"version":"1.2"}]})", "1.2"},
      {R"({"results":[{"version":"9"},{"version":"1.10","x":1}]})", "1.10"},
      {R"({"results":[{"version":"9"},{}]})", std::nullopt},
      {R"({"results":[{"version":null}]})", std::nullopt},
      {R"({"results":[]})", std::nullopt},
      {R"({"result":[{"version":"1.2"}]})", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(storeVersionString(dictionaryFromJSONText(QString::fromUtf8(c.text))), c.version);
  }
}

TEST(StoreReplyTest, Utf8DecodingRejectsEveryMalformedForm) {
  struct Case {
    std::string bytes;
    bool valid;
  };
  const Case cases[] = {
      {"", true},
      {"plain", true},
      {"\xE5\xB7\xB2", true},          // 已
      {"\xF0\x9F\x98\x80", true},      // U+1F600
      {"\xF4\x8F\xBF\xBF", true},      // U+10FFFF
      {std::string("a\0b", 3), true},  // NUL is a character
      {"\xEF\xBB\xBF{}", true},        // a byte order mark stays
      {"\xE9", false},                 // Latin-1 é
      {"\xC0\xAF", false},             // overlong '/'
      {"\xE0\x80\xAF", false},         // overlong, three bytes
      {"\xF0\x80\x80\xAF", false},     // overlong, four bytes
      {"\xED\xA0\x80", false},         // surrogate
      {"\xF4\x90\x80\x80", false},     // past U+10FFFF
      {"\xE5\xB7", false},             // cut short
      {"\x80", false},                 // lone continuation byte
      {"\xE5\x41\xB2", false},         // continuation missing
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.bytes));
    const std::optional<QString> text = textFromUTF8(c.bytes);
    EXPECT_EQ(text.has_value(), c.valid);
    if (text) {
      // The same characters, less a leading byte order mark.
      const std::string expected = c.bytes.starts_with("\xEF\xBB\xBF") ? c.bytes.substr(3) : c.bytes;
      EXPECT_EQ(text->toUtf8().toStdString(), expected);
    }
  }
}

}  // namespace
}  // namespace lorvanta
