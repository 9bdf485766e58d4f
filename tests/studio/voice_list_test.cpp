#include <gtest/gtest.h>

#include <QCoreApplication>
#include <algorithm>
#include <map>

#include "FixtureVoiceSynthesizer.h"
#include "platform/MainQueue.h"
#include "studio/speech/EspeakSpeechSynthesizer.h"

namespace lorvanta {
namespace {

using voicetest::FixtureVoiceState;
using voicetest::FixtureWindow;

// en-gb and fr-a/fr-b carry both attributes (the two French voices get equal titles),
// "plain" carries none, "half" only a locale.
std::shared_ptr<FixtureVoiceState> fiveVoices(const VoiceName& defaultVoice) {
  auto state = std::make_shared<FixtureVoiceState>();
  state->voices = {
      {"en-gb", {{kVoiceLocaleIdentifier, "en_GB"}, {kVoiceDemoText, "Hello, my name is Daniel."}}},
      {"plain", {}},
      {"fr-a", {{kVoiceLocaleIdentifier, "fr_FR"}, {kVoiceDemoText, "Bonjour"}}},
      {"fr-b", {{kVoiceLocaleIdentifier, "fr_FR"}, {kVoiceDemoText, "Bonjour"}}},
      {"half", {{kVoiceLocaleIdentifier, "de_DE"}, {"VoiceGender", "VoiceGenderMale"}}},
  };
  state->defaultVoice = defaultVoice;
  return state;
}

const QStringList kFiveTitles = {"Default voice",
                                 "-",
                                 "en_GB  -  Hello, my name is Daniel.",
                                 "plain  -  plain",
                                 "fr_FR  -  Bonjour",
                                 "fr_FR  -  Bonjour",
                                 "de_DE  -  half"};

class VoiceListTest : public ::testing::Test {
 protected:
  void start(std::shared_ptr<FixtureVoiceState> state) {
    state_ = std::move(state);
    controller_ = voicetest::makeFixtureController(state_);
    window_.bind(*controller_);
    controller_->awakeFromNib();
    controller_->viewDidLoad();
  }

  // Selects `index` in the pop-up and sends the choice; returns what went to stdout.
  std::string choose(int index) {
    window_.voices->setCurrentIndex(index);
    testing::internal::CaptureStdout();
    controller_->voicePopupSelected(window_.voices);
    return testing::internal::GetCapturedStdout();
  }

  FixtureWindow window_;
  std::shared_ptr<FixtureVoiceState> state_;
  std::unique_ptr<ViewController> controller_;
};

TEST_F(VoiceListTest, TwoBuildsLeaveOneItemPerVoiceAndSelectTheDefaultVoicesOwnItem) {
  start(fiveVoices("fr-a"));
  EXPECT_EQ(window_.voiceTitles(), kFiveTitles);
  EXPECT_EQ(window_.voices->currentIndex(), 4);
  EXPECT_EQ(controller_->selectedVoice, "fr-a");
  EXPECT_TRUE(state_->setVoiceCalls.empty()) << "the build never sets the synthesizer's voice";

  controller_->awakeFromNib();
  EXPECT_EQ(window_.voices->count(), 2 + 5);
}

TEST_F(VoiceListTest, AVoiceThatIsNotListedFallsBackToTheDefaultVoiceAndItemZero) {
  struct Case {
    VoiceName defaultVoice;
    VoiceName selectedBeforeBuild;  // empty: as constructed
  };
  for (const Case& c : {Case{"missing-default", ""}, Case{"en-gb", "gone"}}) {
    SCOPED_TRACE(c.defaultVoice + "/" + c.selectedBeforeBuild);
    FixtureWindow window;
    auto state = fiveVoices(c.defaultVoice);
    auto controller = voicetest::makeFixtureController(state);
    window.bind(*controller);
    window.voices->setCurrentIndex(1);  // shows that the build selects item 0
    if (!c.selectedBeforeBuild.empty()) controller->selectedVoice = c.selectedBeforeBuild;
    controller->awakeFromNib();
    EXPECT_EQ(window.voices->currentIndex(), 0);
    EXPECT_EQ(controller->selectedVoice, c.defaultVoice);
    EXPECT_TRUE(state->setVoiceCalls.empty());
  }
}

TEST_F(VoiceListTest, AnEmptyVoiceListLeavesTheFixedItemsAndTheSelection) {
  auto state = fiveVoices("en-gb");
  start(state);
  choose(3);  // "plain"
  state->voices.clear();
  controller_->awakeFromNib();
  EXPECT_EQ(window_.voiceTitles(), (QStringList{"Default voice", "-"}));
  EXPECT_EQ(controller_->selectedVoice, "plain");
}

TEST_F(VoiceListTest, ChoosingAnItemSetsTheVoiceOfTheCurrentList) {
  struct Case {
    int index;
    std::string console;
    VoiceName voice;
  };
  const Case cases[] = {
      {0, "", "en-gb"},  // the default voice, without a console line
      {2, "index= 2\n", "en-gb"}, {3, "index= 3\n", "plain"},
      {5, "index= 5\n", "fr-b"},  // the second of two equal titles
      {6, "index= 6\n", "half"},
  };
  start(fiveVoices("en-gb"));
  controller_->selectedVoice = "fr-a";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.index);
    state_->setVoiceCalls.clear();
    EXPECT_EQ(choose(c.index), c.console);
    EXPECT_EQ(state_->setVoiceCalls, std::vector<VoiceName>{c.voice});
    EXPECT_EQ(state_->voice, c.voice);
    EXPECT_EQ(controller_->selectedVoice, c.voice);
  }
}

TEST_F(VoiceListTest, AnIndexThatNamesNoVoiceChangesNothing) {
  auto state = fiveVoices("en-gb");
  start(state);
  choose(4);  // "fr-a"
  state->setVoiceCalls.clear();

  EXPECT_EQ(choose(1), "index= 1\n");
  EXPECT_EQ(choose(-1), "index= -1\n");
  // The list shrank to two voices since the build: item 5 names none, item 3 names the
  // second voice of the new list.
  state->voices.erase(state->voices.begin(), state->voices.begin() + 3);
  EXPECT_EQ(choose(5), "index= 5\n");
  EXPECT_TRUE(state->setVoiceCalls.empty());
  EXPECT_EQ(state->voice, "fr-a");
  EXPECT_EQ(controller_->selectedVoice, "fr-a");

  EXPECT_EQ(choose(3), "index= 3\n");
  EXPECT_EQ(controller_->selectedVoice, "half");
}

TEST_F(VoiceListTest, ARefusedVoiceStillBecomesTheSelectedVoice) {
  auto state = fiveVoices("en-gb");
  state->refusedVoices = {"plain"};
  start(state);
  EXPECT_EQ(choose(3), "index= 3\n");
  EXPECT_EQ(state->setVoiceCalls, std::vector<VoiceName>{"plain"});
  EXPECT_EQ(state->voice, "en-gb");
  EXPECT_EQ(controller_->selectedVoice, "plain");
}

TEST_F(VoiceListTest, ANewControllerStartsAgainFromTheDefaultVoice) {
  auto state = fiveVoices("en-gb");
  start(state);
  choose(6);
  FixtureWindow window;
  auto restarted = voicetest::makeFixtureController(state);
  window.bind(*restarted);
  restarted->awakeFromNib();
  EXPECT_EQ(restarted->selectedVoice, "en-gb");
  EXPECT_EQ(window.voices->currentIndex(), 2);
}

TEST(VoiceListEspeakTest, ListsEveryInstalledVoiceAndChoosesOne) {
  StudioServices services;
  services.makeOutputDevice = [] { return std::make_unique<voicetest::SilentOutputDevice>(); };
  services.makeSynthesizer = [] { return std::make_unique<EspeakSpeechSynthesizer>(mainQueueAsync); };
  ViewController controller(std::nullopt, nullptr, services);
  FixtureWindow window;
  window.bind(controller);
  controller.awakeFromNib();
  controller.viewDidLoad();

  const std::vector<VoiceName> voices = controller.speechSynthesizer->availableVoices();
  ASSERT_FALSE(voices.empty()) << "espeak-ng lists no voice";
  ASSERT_EQ(window.voices->count(), static_cast<int>(2 + voices.size()));
  int defaultItem = 0;
  for (size_t k = 0; k < voices.size(); ++k) {
    const VoiceAttributes attributes = controller.speechSynthesizer->attributesForVoice(voices[k]);
    const auto value = [&](const char* key) {
      const auto found = attributes.find(key);
      return QString::fromStdString(found != attributes.end() ? found->second : voices[k]);
    };
    EXPECT_EQ(window.voices->itemText(static_cast<int>(k) + 2),
              value(kVoiceLocaleIdentifier) + "  -  " + value(kVoiceDemoText));
    if (voices[k] == controller.speechSynthesizer->defaultVoice()) defaultItem = static_cast<int>(k) + 2;
  }
  EXPECT_GE(defaultItem, 2) << "the default voice is one of the listed voices";

  // Titles a person reads: a locale and a sentence or a language name, never a voice path.
  const std::map<VoiceName, QString> titles = {
      {"gmw/en-US", "en_US  -  Hello, this is my voice."},
      {"gmw/de", "de  -  Hallo, das ist meine Stimme."},
      {"dra/kn", "kn  -  Kannada"},
      {"inc/as", "as  -  Assamese"},
      {"iro/chr", "chr_US_qaaa-x-west  -  Cherokee"},
  };
  for (const auto& [voice, title] : titles) {
    const auto found = std::find(voices.begin(), voices.end(), voice);
    ASSERT_NE(found, voices.end()) << voice;
    EXPECT_EQ(window.voices->itemText(static_cast<int>(found - voices.begin()) + 2), title);
  }
  for (int item = 2; item < window.voices->count(); ++item) {
    EXPECT_FALSE(window.voices->itemText(item).contains('/')) << window.voices->itemText(item).toStdString();
  }
  EXPECT_EQ(window.voices->currentIndex(), defaultItem);

  const int last = window.voices->count() - 1;
  window.voices->setCurrentIndex(last);
  testing::internal::CaptureStdout();
  controller.voicePopupSelected(window.voices);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "index= " + std::to_string(last) + "\n");
  EXPECT_EQ(controller.selectedVoice, voices.back());
}

}  // namespace
}  // namespace lorvanta
