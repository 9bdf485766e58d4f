#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <mutex>
#include <optional>
#include <thread>

#include "studio/SmallDisk.h"
#include "studio/speech/EspeakSpeechSynthesizer.h"

namespace lorvanta {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Stands in for the application's main queue: any thread posts, the test thread runs.
class TestMainQueue {
 public:
  MainQueuePoster poster() {
    return [this](std::function<void()> work) {
      {
        std::lock_guard lock(mutex_);
        items_.push_back(std::move(work));
      }
      posted_.notify_all();
    };
  }

  // Runs posted work on the calling thread until `done` holds; false on time-out.
  bool runUntil(const std::function<bool()>& done, std::chrono::seconds limit = 60s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
      std::function<void()> work;
      {
        std::unique_lock lock(mutex_);
        if (!posted_.wait_until(lock, deadline, [&] { return !items_.empty(); })) return false;
        work = std::move(items_.front());
        items_.pop_front();
      }
      work();
    }
    return true;
  }

  // Waits until something is posted, without running it.
  bool waitForPost(std::chrono::seconds limit = 60s) {
    std::unique_lock lock(mutex_);
    return posted_.wait_for(lock, limit, [&] { return !items_.empty(); });
  }

  // Runs whatever is queued now.
  void drain() {
    for (;;) {
      std::function<void()> work;
      {
        std::lock_guard lock(mutex_);
        if (items_.empty()) return;
        work = std::move(items_.front());
        items_.pop_front();
      }
      work();
    }
  }

 private:
  std::mutex mutex_;
  std::condition_variable posted_;
  std::deque<std::function<void()>> items_;
};

struct Report {
  bool finished = false;
  std::thread::id thread;
  sf_count_t framesAtReport = -1;  // frames of the watched file, read inside the call
};

class RecordingDelegate : public SpeechSynthesizerDelegate {
 public:
  void speechSynthesizerDidFinishSpeaking(SpeechSynthesizer&, bool finishedSpeaking) override {
    Report report;
    report.finished = finishedSpeaking;
    report.thread = std::this_thread::get_id();
    if (!watchedPath.empty()) {
      SF_INFO info{};
      if (SNDFILE* file = sf_open(watchedPath.c_str(), SFM_READ, &info)) {
        report.framesAtReport = info.frames;
        sf_close(file);
      }
    }
    reports.push_back(report);
  }

  void speechSynthesizerDidProgress(SpeechSynthesizer&, double fractionSpoken) override {
    progress.push_back({fractionSpoken, reports.size(), std::this_thread::get_id()});
  }

  struct Progress {
    double fraction;
    size_t reportsBefore;  // finished calls made before this one
    std::thread::id thread;
  };

  std::string watchedPath;
  std::vector<Report> reports;
  std::vector<Progress> progress;
};

struct AiffContents {
  SF_INFO info{};
  std::vector<short> samples;
};

std::optional<AiffContents> readAiff(const fs::path& path) {
  AiffContents contents;
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &contents.info);
  if (file == nullptr) return std::nullopt;
  contents.samples.resize(static_cast<size_t>(contents.info.frames * contents.info.channels));
  sf_readf_short(file, contents.samples.data(), contents.info.frames);
  sf_close(file);
  return contents;
}

// espeak-ng output varies by a few hundred samples from run to run, so lengths are compared
// within a tolerance, never sample by sample.
bool similarLength(const AiffContents& a, const AiffContents& b, double tolerance = 0.02) {
  const auto fa = static_cast<double>(a.info.frames);
  const auto fb = static_cast<double>(b.info.frames);
  return std::abs(fa - fb) <= tolerance * std::max(fa, fb);
}

constexpr const char* kSentence = "The quick brown fox jumps over the lazy dog.";

std::string longText() {
  std::string text;
  for (int i = 0; i < 200; ++i)
    text += "This sentence is long enough to keep the synthesizer busy for a while. ";
  return text;
}

// The worker creates the file when it starts on a synthesis.
bool waitUntilExists(const fs::path& path) {
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  while (!fs::exists(path)) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

class EspeakSpeechSynthesizerTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("lorvanta-speech-" + std::to_string(::getpid()) + "-" +
                                        testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
    synth_.setDelegate(&delegate_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path file(const std::string& name) const { return dir_ / name; }

  // Speaks `text` into `name` and waits for the report.
  std::optional<AiffContents> speak(const std::string& text, const std::string& name) {
    const size_t before = delegate_.reports.size();
    synth_.startSpeakingStringToURL(text, file(name));
    if (!queue_.runUntil([&] { return delegate_.reports.size() > before; })) return std::nullopt;
    if (!delegate_.reports.back().finished) return std::nullopt;
    return readAiff(file(name));
  }

  fs::path dir_;
  TestMainQueue queue_;
  RecordingDelegate delegate_;
  EspeakSpeechSynthesizer synth_{queue_.poster()};
};

TEST_F(EspeakSpeechSynthesizerTest, WritesMonoSixteenBitAiffAndReportsOnMainThread) {
  delegate_.watchedPath = file("out.aiff");
  ASSERT_TRUE(synth_.startSpeakingStringToURL(kSentence, file("out.aiff")));
  ASSERT_TRUE(queue_.runUntil([&] { return !delegate_.reports.empty(); }));
  queue_.drain();

  ASSERT_EQ(delegate_.reports.size(), 1u);
  const Report& report = delegate_.reports[0];
  EXPECT_TRUE(report.finished);
  EXPECT_EQ(report.thread, std::this_thread::get_id());

  const auto aiff = readAiff(file("out.aiff"));
  ASSERT_TRUE(aiff);
  EXPECT_EQ(aiff->info.format, SF_FORMAT_AIFF | SF_FORMAT_PCM_16);
  EXPECT_EQ(aiff->info.channels, 1);
  EXPECT_EQ(aiff->info.samplerate, 22050);
  EXPECT_GT(aiff->info.frames, 0);
  // The file was complete when the delegate opened it.
  EXPECT_EQ(report.framesAtReport, aiff->info.frames);
  EXPECT_TRUE(
      std::any_of(aiff->samples.begin(), aiff->samples.end(), [](short s) { return std::abs(s) > 1000; }));
}

TEST_F(EspeakSpeechSynthesizerTest, ReportsTheSpokenFractionOfTheTextBeforeItFinishes) {
  // Two bytes a character: a fraction counted in bytes would stop near the middle.
  std::string text;
  for (int i = 0; i < 40; ++i) text += "Здравствуйте, это мой голос, и он читает длинный текст. ";
  ASSERT_TRUE(synth_.setVoice("zle/ru"));
  ASSERT_TRUE(speak(text, "progress.aiff"));
  const auto& progress = delegate_.progress;
  ASSERT_GE(progress.size(), 20u);
  for (size_t i = 0; i < progress.size(); ++i) {
    EXPECT_EQ(progress[i].reportsBefore, 0u) << "reported after the finished call";
    EXPECT_EQ(progress[i].thread, std::this_thread::get_id());
    EXPECT_GT(progress[i].fraction, 0.0);
    EXPECT_LE(progress[i].fraction, 1.0);
    if (i > 0) {
      EXPECT_GT(progress[i].fraction, progress[i - 1].fraction);
    }
  }
  EXPECT_GE(progress.back().fraction, 0.9);
}

TEST_F(EspeakSpeechSynthesizerTest, RateInWordsPerMinuteChangesLength) {
  synth_.setRate(180);
  const auto slow = speak(kSentence, "180.aiff");
  synth_.setRate(360);
  const auto fast = speak(kSentence, "360.aiff");
  ASSERT_TRUE(slow && fast);
  EXPECT_LE(static_cast<double>(fast->info.frames), 0.65 * static_cast<double>(slow->info.frames));
}

TEST_F(EspeakSpeechSynthesizerTest, RateIsClampedToWhatEspeakTakes) {
  const struct {
    float asked;
    float limit;
  } cases[] = {{1.0f, 80.0f}, {-3.0f, 80.0f}, {5000.0f, 450.0f}};
  for (const auto& c : cases) {
    synth_.setRate(c.limit);
    const auto atLimit = speak(kSentence, "limit.aiff");
    synth_.setRate(c.asked);
    const auto beyond = speak(kSentence, "beyond.aiff");
    ASSERT_TRUE(atLimit && beyond) << c.asked;
    EXPECT_TRUE(similarLength(*beyond, *atLimit))
        << c.asked << ": " << beyond->info.frames << " frames against " << atLimit->info.frames;
  }
}

TEST_F(EspeakSpeechSynthesizerTest, UnwritablePathReportsFalse) {
  ASSERT_TRUE(synth_.startSpeakingStringToURL(kSentence, (dir_ / "missing" / "out.aiff").string()));
  ASSERT_TRUE(queue_.runUntil([&] { return !delegate_.reports.empty(); }));
  EXPECT_FALSE(delegate_.reports[0].finished);
  EXPECT_EQ(delegate_.reports[0].thread, std::this_thread::get_id());
  EXPECT_EQ(synth_.lastFailureReason(), "No such file or directory");

  // The synthesizer goes on working afterwards.
  EXPECT_TRUE(speak(kSentence, "after.aiff"));
  EXPECT_EQ(synth_.lastFailureReason(), "");
}

TEST_F(EspeakSpeechSynthesizerTest, AFullDiskFailsWithItsReasonAndLeavesNoFile) {
  testing_disk::SmallDisk disk;
  if (!disk.mounted()) GTEST_SKIP() << "no tmpfs can be mounted here";
  // About a minute of speech; 256 KiB hold six seconds.
  synth_.startSpeakingStringToURL(longText(), disk.file("full.aiff"));
  ASSERT_TRUE(queue_.runUntil([&] { return !delegate_.reports.empty(); }));
  EXPECT_FALSE(delegate_.reports[0].finished);
  EXPECT_EQ(synth_.lastFailureReason(), "No space left on device");
  EXPECT_FALSE(fs::exists(disk.file("full.aiff")));
}

TEST_F(EspeakSpeechSynthesizerTest, SpeechLongerThanTheFileMayHoldFailsAndLeavesNoFile) {
  // A limit of one second stands for the 32-bit size of the file's sound chunk.
  EspeakSpeechSynthesizer limited(queue_.poster(), 22050);
  RecordingDelegate delegate;
  limited.setDelegate(&delegate);
  limited.startSpeakingStringToURL(kSentence, file("long.aiff"));
  ASSERT_TRUE(queue_.runUntil([&] { return !delegate.reports.empty(); }));
  EXPECT_FALSE(delegate.reports[0].finished);
  EXPECT_EQ(limited.lastFailureReason(), "the text is too long to be spoken in one piece");
  EXPECT_FALSE(fs::exists(file("long.aiff")));

  limited.startSpeakingStringToURL("one", file("short.aiff"));
  ASSERT_TRUE(queue_.runUntil([&] { return delegate.reports.size() == 2; }));
  EXPECT_TRUE(delegate.reports[1].finished);
  const auto aiff = readAiff(file("short.aiff"));
  ASSERT_TRUE(aiff);
  EXPECT_GT(aiff->info.frames, 0);
  EXPECT_LE(aiff->info.frames, 22050);
}

TEST_F(EspeakSpeechSynthesizerTest, ControlCharactersAreReadAsBlanksAndNulEndsNothing) {
  const auto one = speak("one", "one.aiff");
  ASSERT_TRUE(one);
  const struct {
    std::string separator;
    std::string reference;
  } cases[] = {
      {std::string(1, '\0'), " "}, {"\x01", " "}, {"\x1b", " "}, {"\f", "\n"}, {"\v", "\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.separator[0]));
    const auto with = speak("one" + c.separator + "two three", "with.aiff");
    const auto reference = speak("one" + c.reference + "two three", "reference.aiff");
    ASSERT_TRUE(with && reference);
    EXPECT_TRUE(similarLength(*with, *reference))
        << with->info.frames << " against " << reference->info.frames;
    EXPECT_GT(static_cast<double>(with->info.frames), 1.8 * static_cast<double>(one->info.frames));
  }
}

TEST_F(EspeakSpeechSynthesizerTest, NewerStartSupersedesRunningSynthesis) {
  delegate_.watchedPath = file("second.aiff");
  synth_.startSpeakingStringToURL(longText(), file("first.aiff"));
  ASSERT_TRUE(waitUntilExists(file("first.aiff")));
  synth_.startSpeakingStringToURL(kSentence, file("second.aiff"));
  ASSERT_TRUE(queue_.runUntil([&] { return !delegate_.reports.empty(); }));
  // Anything the first synthesis could have posted was posted before the second's report.
  queue_.drain();

  ASSERT_EQ(delegate_.reports.size(), 1u);
  EXPECT_TRUE(delegate_.reports[0].finished);
  const auto second = readAiff(file("second.aiff"));
  ASSERT_TRUE(second);
  EXPECT_GT(second->info.frames, 0);
  EXPECT_EQ(delegate_.reports[0].framesAtReport, second->info.frames);
  // The stopped synthesis removes what it wrote.
  EXPECT_FALSE(fs::exists(file("first.aiff")));
}

TEST_F(EspeakSpeechSynthesizerTest, PendingStartIsDroppedForNewerOne) {
  synth_.startSpeakingStringToURL(longText(), file("running.aiff"));
  ASSERT_TRUE(waitUntilExists(file("running.aiff")));
  synth_.startSpeakingStringToURL(kSentence, file("dropped.aiff"));
  synth_.startSpeakingStringToURL(kSentence, file("newest.aiff"));
  ASSERT_TRUE(queue_.runUntil([&] { return !delegate_.reports.empty(); }));
  queue_.drain();
  EXPECT_EQ(delegate_.reports.size(), 1u);
  EXPECT_TRUE(readAiff(file("newest.aiff")));
}

TEST_F(EspeakSpeechSynthesizerTest, StartSupersedesReportStillInMainQueue) {
  delegate_.watchedPath = file("second.aiff");
  synth_.startSpeakingStringToURL(kSentence, file("first.aiff"));
  ASSERT_TRUE(queue_.waitForPost());  // the first is done, its report not yet delivered
  synth_.startSpeakingStringToURL(kSentence, file("second.aiff"));
  ASSERT_TRUE(queue_.runUntil([&] { return !delegate_.reports.empty(); }));
  queue_.drain();

  ASSERT_EQ(delegate_.reports.size(), 1u);
  EXPECT_TRUE(delegate_.reports[0].finished);
  EXPECT_GT(delegate_.reports[0].framesAtReport, 0);  // the report is the second file's
}

TEST_F(EspeakSpeechSynthesizerTest, DelegateReadAtReportTime) {
  RecordingDelegate other;
  synth_.startSpeakingStringToURL(kSentence, file("a.aiff"));
  synth_.setDelegate(&other);
  ASSERT_TRUE(queue_.runUntil([&] { return !other.reports.empty(); }));
  EXPECT_TRUE(delegate_.reports.empty());
  EXPECT_EQ(synth_.delegate(), &other);

  synth_.startSpeakingStringToURL(kSentence, file("b.aiff"));
  synth_.setDelegate(nullptr);
  ASSERT_TRUE(queue_.waitForPost());
  queue_.drain();
  EXPECT_EQ(other.reports.size(), 1u);
  EXPECT_TRUE(delegate_.reports.empty());
}

TEST_F(EspeakSpeechSynthesizerTest, DestroyedWhileSynthesisingNeverReports) {
  RecordingDelegate delegate;
  {
    EspeakSpeechSynthesizer doomed(queue_.poster());
    doomed.setDelegate(&delegate);
    doomed.startSpeakingStringToURL(longText(), file("doomed.aiff"));
    ASSERT_TRUE(waitUntilExists(file("doomed.aiff")));
  }
  // The shared worker carries on for the synthesizer that is still alive.
  EXPECT_TRUE(speak(kSentence, "alive.aiff"));
  queue_.drain();
  EXPECT_TRUE(delegate.reports.empty());
}

TEST(EspeakSpeechSynthesizerLifetime, TheLastSynthesizerGoneStopsTheWorkerAndLeavesNoFile) {
  const fs::path dir = fs::temp_directory_path() / ("lorvanta-speech-last-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  TestMainQueue queue;
  RecordingDelegate delegate;
  for (int round = 0; round < 2; ++round) {
    const fs::path path = dir / ("cut" + std::to_string(round) + ".aiff");
    {
      EspeakSpeechSynthesizer only(queue.poster());
      only.setDelegate(&delegate);
      only.startSpeakingStringToURL(longText(), path);
      ASSERT_TRUE(waitUntilExists(path));
    }
    // The worker has been joined: what it wrote is gone, and nothing was posted.
    EXPECT_FALSE(fs::exists(path));
    queue.drain();
    EXPECT_TRUE(delegate.reports.empty());
    EXPECT_TRUE(delegate.progress.empty());
  }
  // A new synthesizer gets a new worker.
  EspeakSpeechSynthesizer next(queue.poster());
  next.setDelegate(&delegate);
  next.startSpeakingStringToURL(kSentence, dir / "next.aiff");
  EXPECT_TRUE(queue.runUntil([&] { return !delegate.reports.empty(); }));
  EXPECT_TRUE(delegate.reports.at(0).finished);
  fs::remove_all(dir);
}

TEST_F(EspeakSpeechSynthesizerTest, SynthesizersShareTheWorker) {
  RecordingDelegate delegate;
  EspeakSpeechSynthesizer second(queue_.poster());
  second.setDelegate(&delegate);
  synth_.startSpeakingStringToURL(kSentence, file("a.aiff"));
  second.startSpeakingStringToURL(kSentence, file("b.aiff"));
  ASSERT_TRUE(queue_.runUntil([&] { return !delegate_.reports.empty() && !delegate.reports.empty(); }));
  EXPECT_TRUE(delegate_.reports[0].finished);
  EXPECT_TRUE(delegate.reports[0].finished);
  const auto a = readAiff(file("a.aiff"));
  const auto b = readAiff(file("b.aiff"));
  ASSERT_TRUE(a && b);
  EXPECT_GT(a->info.frames, 0);
  EXPECT_TRUE(similarLength(*a, *b));
}

TEST_F(EspeakSpeechSynthesizerTest, MarkupIsReadAsText) {
  // As markup this would be an empty document and give no sound at all.
  const auto aiff = speak("<speak></speak>", "markup.aiff");
  ASSERT_TRUE(aiff);
  EXPECT_GT(aiff->info.frames, 2205);
}

TEST_F(EspeakSpeechSynthesizerTest, VoicesAreListedByLocaleThenIdentifierAndStable) {
  const std::vector<VoiceName> voices = synth_.availableVoices();
  ASSERT_FALSE(voices.empty());
  const auto key = [&](const VoiceName& voice) {
    return std::pair(synth_.attributesForVoice(voice).at(kVoiceLocaleIdentifier), voice);
  };
  for (size_t k = 1; k < voices.size(); ++k) {
    EXPECT_LT(key(voices[k - 1]), key(voices[k])) << voices[k - 1] << " before " << voices[k];
  }
  EXPECT_EQ(synth_.availableVoices(), voices);
  EXPECT_EQ(EspeakSpeechSynthesizer(queue_.poster()).availableVoices(), voices);
  EXPECT_NE(std::find(voices.begin(), voices.end(), synth_.defaultVoice()), voices.end());
  for (const VoiceName& voice : voices) {
    const VoiceAttributes attributes = synth_.attributesForVoice(voice);
    EXPECT_FALSE(attributes.at(kVoiceLocaleIdentifier).empty()) << voice;
    EXPECT_FALSE(attributes.at(kVoiceDemoText).empty()) << voice;
    EXPECT_TRUE(synth_.setVoice(voice)) << voice;
  }
  // A few neighbours in espeak-ng's family folders that the locale order puts apart.
  const auto at = [&](const VoiceName& voice) { return std::find(voices.begin(), voices.end(), voice); };
  EXPECT_LT(at("gmw/af"), at("gmw/de"));
  EXPECT_LT(at("gmw/de"), at("gmw/en"));
  EXPECT_LT(at("gmw/en"), at("gmw/en-US"));
  EXPECT_LT(at("dra/kn"), at("qu"));
  EXPECT_LT(at("qu"), at("aav/vi"));
}

TEST_F(EspeakSpeechSynthesizerTest, AttributesForVoice) {
  struct Case {
    VoiceName voice;
    std::string locale;
    std::string demo;
  };
  // Our sample sentence where we have one, else the voice's name as espeak-ng gives it.
  const Case cases[] = {
      {"gmw/en-US", "en_US", "Hello, this is my voice."},
      {"gmw/de", "de", "Hallo, das ist meine Stimme."},
      {"sit/cmn", "cmn", "你好，这是我的声音。"},
      {"qu", "qu", "Quechua"},
      {"dra/kn", "kn", "Kannada"},
      {"iro/chr", "chr_US_qaaa-x-west", "Cherokee"},  // espeak-ng's name ends in a blank
  };
  for (const Case& c : cases) {
    const VoiceAttributes attributes = synth_.attributesForVoice(c.voice);
    EXPECT_EQ(attributes.at(kVoiceLocaleIdentifier), c.locale) << c.voice;
    EXPECT_EQ(attributes.at(kVoiceDemoText), c.demo) << c.voice;
  }
  EXPECT_TRUE(synth_.attributesForVoice("no such voice").empty());
}

TEST_F(EspeakSpeechSynthesizerTest, UnknownVoiceIsRefusedAndOldVoiceKept) {
  const auto english = speak(kSentence, "english.aiff");
  ASSERT_TRUE(synth_.setVoice("gmw/de"));
  const auto german = speak(kSentence, "german.aiff");
  EXPECT_FALSE(synth_.setVoice("no such voice"));
  EXPECT_FALSE(synth_.setVoice("German"));  // a display name is not a voice name
  const auto afterRefusal = speak(kSentence, "refused.aiff");
  ASSERT_TRUE(english && german && afterRefusal);
  EXPECT_FALSE(similarLength(*german, *english, 0.05));
  EXPECT_TRUE(similarLength(*afterRefusal, *german));
}

class DefaultVoiceTest : public testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
      if (const char* value = std::getenv(name)) saved_.emplace_back(name, value);
      unsetenv(name);
    }
  }
  void TearDown() override {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) unsetenv(name);
    for (const auto& [name, value] : saved_) setenv(name.c_str(), value.c_str(), 1);
  }
  std::vector<std::pair<std::string, std::string>> saved_;
};

TEST_F(DefaultVoiceTest, FollowsUserLocaleWithEnglishFallback) {
  TestMainQueue queue;
  EspeakSpeechSynthesizer synth(queue.poster());
  const struct {
    const char* variable;
    const char* value;
    const char* locale;
  } cases[] = {
      {"LANG", "de_DE.UTF-8", "de"},
      {"LANG", "en_US.UTF-8", "en_US"},
      {"LANG", "fr_FR.UTF-8", "fr_FR"},
      {"LANG", "C", "en_GB"},
      {"LANG", "", "en_GB"},
      {"LANG", "xx_YY.UTF-8", "en_GB"},
      {"LC_ALL", "de_DE.UTF-8", "de"},
  };
  for (const auto& c : cases) {
    setenv("LANG", "en_US.UTF-8", 1);
    setenv(c.variable, c.value, 1);
    const VoiceName voice = synth.defaultVoice();
    EXPECT_EQ(synth.attributesForVoice(voice)[kVoiceLocaleIdentifier], c.locale)
        << c.variable << "=" << c.value;
    unsetenv("LC_ALL");
  }
}

}  // namespace
}  // namespace lorvanta
