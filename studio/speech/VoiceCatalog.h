#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace lorvanta::speech {

// One installed espeak-ng voice as read at start-up.
struct VoiceInfo {
  std::string identifier;  // e.g. "gmw/en-US"; the voice name the synthesizer hands out
  std::string name;        // e.g. "English (America)"
  // (priority, language) pairs in the voice file's order; a lower priority is a better match.
  std::vector<std::pair<int, std::string>> languages;
};

// "en-us" -> "en_US", "de" -> "de", "cmn-latn-pinyin" -> "cmn_Latn_pinyin",
// "en-gb-x-rp" -> "en_GB_x-rp".
std::string localeIdentifierForLanguage(std::string_view language);

// A short sample sentence for the language's primary subtag, where we have one.
std::optional<std::string> demoTextForLanguage(std::string_view language);

// The user's locale from LC_ALL, LC_MESSAGES, LANG (first one set and non-empty),
// without encoding and modifier: "de_DE.UTF-8" -> "de_DE". Empty when none is set.
std::string userLocaleFromEnvironment();

// The best voice for a locale such as "de_DE" or "pt_BR": an exact language match first,
// then one for the primary language, then English; the lowest priority wins, ties go to the
// earlier voice. Empty when the list is empty.
std::string chooseVoiceForLocale(const std::vector<VoiceInfo>& voices, std::string_view locale);

}  // namespace lorvanta::speech
