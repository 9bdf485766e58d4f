#include "studio/speech/VoiceCatalog.h"

#include <array>
#include <cctype>
#include <climits>
#include <cstdlib>

namespace lorvanta::speech {

namespace {

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

bool allOf(std::string_view text, int (*test)(int)) {
  for (char c : text) {
    if (!test(static_cast<unsigned char>(c))) return false;
  }
  return !text.empty();
}

std::vector<std::string> subtags(std::string_view tag) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= tag.size()) {
    const size_t end = std::min(tag.find_first_of("-_", start), tag.size());
    parts.emplace_back(tag.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

std::string primaryLanguage(std::string_view tag) { return lower(tag.substr(0, tag.find_first_of("-_"))); }

// "de_DE" or "de-DE" -> "de-de", the form espeak-ng gives its languages in.
std::string languageTag(std::string_view locale) {
  std::string tag = lower(locale);
  for (char& c : tag) {
    if (c == '_') c = '-';
  }
  return tag;
}

struct DemoText {
  const char* language;
  const char* text;
};

constexpr std::array kDemoTexts{
    DemoText{"cmn", "你好，这是我的声音。"},
    DemoText{"cs", "Dobrý den, toto je můj hlas."},
    DemoText{"da", "Hej, dette er min stemme."},
    DemoText{"de", "Hallo, das ist meine Stimme."},
    DemoText{"el", "Γεια σας, αυτή είναι η φωνή μου."},
    DemoText{"en", "Hello, this is my voice."},
    DemoText{"es", "Hola, esta es mi voz."},
    DemoText{"fi", "Hei, tämä on minun ääneni."},
    DemoText{"fr", "Bonjour, voici ma voix."},
    DemoText{"it", "Ciao, questa è la mia voce."},
    DemoText{"ja", "こんにちは、これは私の声です。"},
    DemoText{"nb", "Hei, dette er stemmen min."},
    DemoText{"nl", "Hallo, dit is mijn stem."},
    DemoText{"pl", "Dzień dobry, to jest mój głos."},
    DemoText{"pt", "Olá, esta é a minha voz."},
    DemoText{"ru", "Здравствуйте, это мой голос."},
    DemoText{"sv", "Hej, det här är min röst."},
    DemoText{"tr", "Merhaba, bu benim sesim."},
    DemoText{"uk", "Привіт, це мій голос."},
};

}  // namespace

std::string localeIdentifierForLanguage(std::string_view language) {
  if (language.empty()) return {};
  const std::vector<std::string> parts = subtags(language);
  std::string out = lower(parts[0]);
  size_t i = 1;
  if (i < parts.size() && parts[i].size() == 4 && allOf(parts[i], std::isalpha)) {
    std::string script = lower(parts[i++]);
    script[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(script[0])));
    out += '_' + script;
  }
  if (i < parts.size() && ((parts[i].size() == 2 && allOf(parts[i], std::isalpha)) ||
                           (parts[i].size() == 3 && allOf(parts[i], std::isdigit)))) {
    out += '_' + upper(parts[i++]);
  }
  if (i < parts.size()) {
    std::string variant;
    for (; i < parts.size(); ++i) {
      if (!variant.empty()) variant += '-';
      variant += lower(parts[i]);
    }
    out += '_' + variant;
  }
  return out;
}

std::optional<std::string> demoTextForLanguage(std::string_view language) {
  std::string primary = primaryLanguage(language);
  if (primary == "no") primary = "nb";
  for (const DemoText& demo : kDemoTexts) {
    if (primary == demo.language) return std::string(demo.text);
  }
  return std::nullopt;
}

std::string userLocaleFromEnvironment() {
  for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') {
      std::string_view locale(value);
      return std::string(locale.substr(0, locale.find_first_of(".@")));
    }
  }
  return {};
}

std::string chooseVoiceForLocale(const std::vector<VoiceInfo>& voices, std::string_view locale) {
  std::string tag = languageTag(locale);
  if (tag.empty() || tag == "c" || tag == "posix") tag = "en";
  const std::string primary = primaryLanguage(tag);

  // Rank: exact tag, then the primary language alone, then any dialect of it, then English.
  const auto rank = [&](const std::string& language) {
    if (language == tag) return 0;
    if (language == primary) return 1;
    if (primaryLanguage(language) == primary) return 2;
    if (language == "en") return 3;
    return -1;
  };
  const VoiceInfo* best = nullptr;
  std::pair<int, int> bestScore{INT_MAX, INT_MAX};
  for (const VoiceInfo& voice : voices) {
    for (const auto& [priority, language] : voice.languages) {
      const int r = rank(language);
      if (r < 0) continue;
      const std::pair<int, int> score{r, priority};
      if (score < bestScore) {
        bestScore = score;
        best = &voice;
      }
    }
  }
  if (best != nullptr) return best->identifier;
  return voices.empty() ? std::string{} : voices.front().identifier;
}

}  // namespace lorvanta::speech
