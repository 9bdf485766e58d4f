#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

#include "studio/speech/VoiceCatalog.h"

namespace lorvanta::speech {
namespace {

TEST(VoiceCatalog, LocaleIdentifierFromLanguage) {
  const struct {
    const char* language;
    const char* locale;
  } cases[] = {
      {"en-us", "en_US"},
      {"de", "de"},
      {"en-gb", "en_GB"},
      {"en-029", "en_029"},
      {"pt-BR", "pt_BR"},
      {"cmn-latn-pinyin", "cmn_Latn_pinyin"},
      {"en-gb-x-rp", "en_GB_x-rp"},
      {"en-gb-scotland", "en_GB_scotland"},
      {"vi-vn-x-central", "vi_VN_x-central"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(localeIdentifierForLanguage(c.language), c.locale) << c.language;
}

TEST(VoiceCatalog, DemoTextOnlyForKnownLanguages) {
  EXPECT_EQ(demoTextForLanguage("en-us"), "Hello, this is my voice.");
  EXPECT_EQ(demoTextForLanguage("en"), demoTextForLanguage("en-gb-x-rp"));
  EXPECT_EQ(demoTextForLanguage("de"), "Hallo, das ist meine Stimme.");
  EXPECT_EQ(demoTextForLanguage("no"), demoTextForLanguage("nb"));
  EXPECT_EQ(demoTextForLanguage("tlh"), std::nullopt);
  EXPECT_EQ(demoTextForLanguage(""), std::nullopt);
  EXPECT_EQ(demoTextForLanguage("english"), std::nullopt);
}

class UserLocale : public testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : kVariables) {
      const char* value = std::getenv(name);
      saved_.push_back(value ? std::optional<std::string>(value) : std::nullopt);
      unsetenv(name);
    }
  }
  void TearDown() override {
    for (size_t i = 0; i < std::size(kVariables); ++i) {
      if (saved_[i]) {
        setenv(kVariables[i], saved_[i]->c_str(), 1);
      } else {
        unsetenv(kVariables[i]);
      }
    }
  }
  static constexpr const char* kVariables[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
  std::vector<std::optional<std::string>> saved_;
};

TEST_F(UserLocale, FirstSetVariableWithoutEncodingOrModifier) {
  EXPECT_EQ(userLocaleFromEnvironment(), "");
  setenv("LANG", "de_DE.UTF-8", 1);
  EXPECT_EQ(userLocaleFromEnvironment(), "de_DE");
  setenv("LC_MESSAGES", "fr_FR@euro", 1);
  EXPECT_EQ(userLocaleFromEnvironment(), "fr_FR");
  setenv("LC_ALL", "", 1);  // empty counts as unset
  EXPECT_EQ(userLocaleFromEnvironment(), "fr_FR");
  setenv("LC_ALL", "C", 1);
  EXPECT_EQ(userLocaleFromEnvironment(), "C");
}

TEST(VoiceCatalog, ChooseVoiceForLocale) {
  const std::vector<VoiceInfo> voices = {
      {"a/de", "German", {{5, "de"}}},
      {"a/en", "English (Great Britain)", {{2, "en-gb"}, {2, "en"}}},
      {"a/en-US", "English (America)", {{2, "en-us"}, {3, "en"}}},
      {"a/pt", "Portuguese", {{5, "pt"}}},
      {"a/pt-BR", "Portuguese (Brazil)", {{5, "pt-br"}, {6, "pt"}}},
      {"a/yue", "Cantonese", {{5, "yue"}, {8, "zh"}}},
      {"a/cmn", "Mandarin", {{5, "cmn"}, {5, "zh"}}},
      {"a/de-CH", "Swiss German", {{5, "de-ch"}}},
  };
  const struct {
    const char* locale;
    const char* voice;
  } cases[] = {
      {"de_DE", "a/de"}, {"de", "a/de"},       {"de_CH", "a/de-CH"}, {"en_US", "a/en-US"}, {"en_GB", "a/en"},
      {"en_AU", "a/en"}, {"pt_BR", "a/pt-BR"}, {"pt_PT", "a/pt"},    {"zh_CN", "a/cmn"},   {"C", "a/en"},
      {"POSIX", "a/en"}, {"", "a/en"},         {"xx_YY", "a/en"},
  };
  for (const auto& c : cases) EXPECT_EQ(chooseVoiceForLocale(voices, c.locale), c.voice) << c.locale;

  EXPECT_EQ(chooseVoiceForLocale({}, "de_DE"), "");
  // Without any English voice the first one stands in.
  EXPECT_EQ(chooseVoiceForLocale({voices[0], voices[3]}, "xx"), "a/de");
}

}  // namespace
}  // namespace lorvanta::speech
