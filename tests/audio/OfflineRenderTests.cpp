#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "AudioTestSupport.h"
#include "studio/audio/NullOutputDevice.h"

namespace lorvanta {
namespace {

using testing_audio::frequencyOf;
using testing_audio::Graph;
using testing_audio::onsetOf;
using testing_audio::readSamples;
using testing_audio::readShorts;
using testing_audio::saveTo;
using testing_audio::TempDir;
using testing_audio::tone;
using testing_audio::writeSamples;

std::unique_ptr<AudioOutputDevice> nullDevice() { return std::make_unique<NullOutputDevice>(); }

std::shared_ptr<AudioFile> toneFile(const TempDir& dir, size_t frames, double frequency = 440.0) {
  const std::string path = dir.file("tone" + std::to_string(frames) + ".aiff");
  writeSamples(path, tone(frames, frequency));
  return AudioFile::openForReading(path);
}

TEST(OfflineRender, PassesFollowTheFileLength) {
  struct Case {
    size_t frames;
    std::vector<uint32_t> passes;
  } cases[] = {
      {20000, {8096, 8096, 3808}},
      {8096, {8096}},
      {1, {1}},
      {0, {}},
  };
  for (const Case& c : cases) {
    TempDir dir;
    Graph g(nullDevice());
    g.setUp(toneFile(dir, c.frames), 300.0f);
    const std::string destination = dir.file("x.wav");
    const auto result = saveTo(g, destination);
    EXPECT_TRUE(result.opened);
    EXPECT_EQ(result.passes, c.passes) << c.frames;
    SF_INFO info{};
    readSamples(destination, &info);
    EXPECT_EQ(info.frames, static_cast<sf_count_t>(c.frames));
    EXPECT_EQ(info.samplerate, 22050);
    EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    // The closing sequence leaves the engine stopped and live, the player empty.
    EXPECT_FALSE(g.engine.isRunning());
    EXPECT_FALSE(g.engine.isInManualRenderingMode());
    EXPECT_FALSE(g.player->isPlaying());
  }
}

TEST(OfflineRender, SampleTimeCountsRenderedFrames) {
  TempDir dir;
  Graph g(nullDevice());
  g.setUp(toneFile(dir, 1000), 0.0f);
  const AudioFormat format = g.file->processingFormat();
  ASSERT_TRUE(g.engine.enableManualRenderingMode(AudioEngineManualRenderingMode::Offline, format, 8096));
  EXPECT_EQ(g.engine.manualRenderingFormat(), format);
  EXPECT_EQ(g.engine.manualRenderingMaximumFrameCount(), 8096u);
  EXPECT_EQ(g.engine.manualRenderingSampleTime(), 0);
  ASSERT_TRUE(g.engine.startAndReturnError());
  auto buffer = AudioPCMBuffer::create(format, 8096);
  for (uint32_t frames : {100u, 0u, 8096u, 7u}) {
    const int64_t before = g.engine.manualRenderingSampleTime();
    EXPECT_EQ(g.engine.renderOffline(frames, *buffer), AudioEngineManualRenderingStatus::Success);
    EXPECT_EQ(buffer->frameLength(), frames);
    EXPECT_EQ(g.engine.manualRenderingSampleTime(), before + frames);
  }
  g.engine.stop();
  // Switching manual rendering on again starts the count afresh.
  ASSERT_TRUE(g.engine.enableManualRenderingMode(AudioEngineManualRenderingMode::Offline, format, 512));
  EXPECT_EQ(g.engine.manualRenderingSampleTime(), 0);
  EXPECT_EQ(g.engine.manualRenderingMaximumFrameCount(), 512u);
}

TEST(OfflineRender, StatusesAndErrors) {
  TempDir dir;
  Graph g(nullDevice());
  g.setUp(toneFile(dir, 1000), 0.0f);
  const AudioFormat format = g.file->processingFormat();
  auto buffer = AudioPCMBuffer::create(format, 8096);
  auto stereo = AudioPCMBuffer::create(AudioFormat{22050, 2}, 8096);
  AudioError error;

  EXPECT_EQ(g.engine.renderOffline(10, *buffer, &error), AudioEngineManualRenderingStatus::Error);
  EXPECT_FALSE(error.message.empty()) << "not in manual rendering mode";

  EXPECT_FALSE(
      g.engine.enableManualRenderingMode(AudioEngineManualRenderingMode::Realtime, format, 8096, &error));
  EXPECT_FALSE(g.engine.enableManualRenderingMode(AudioEngineManualRenderingMode::Offline, AudioFormat{},
                                                  8096, &error));
  EXPECT_FALSE(
      g.engine.enableManualRenderingMode(AudioEngineManualRenderingMode::Offline, format, 0, &error));
  EXPECT_FALSE(g.engine.isInManualRenderingMode());

  ASSERT_TRUE(g.engine.enableManualRenderingMode(AudioEngineManualRenderingMode::Offline, format, 4096));
  error = {};
  EXPECT_EQ(g.engine.renderOffline(10, *buffer, &error), AudioEngineManualRenderingStatus::Error);
  EXPECT_FALSE(error.message.empty()) << "not started: an error, so that a render loop ends";

  ASSERT_TRUE(g.engine.startAndReturnError());
  EXPECT_FALSE(
      g.engine.enableManualRenderingMode(AudioEngineManualRenderingMode::Offline, format, 8096, &error))
      << "running";
  for (auto [frames, target] : {std::pair{4097u, buffer.get()}, std::pair{10u, stereo.get()}}) {
    error = {};
    EXPECT_EQ(g.engine.renderOffline(frames, *target, &error), AudioEngineManualRenderingStatus::Error);
    EXPECT_FALSE(error.message.empty());
  }
  EXPECT_EQ(g.engine.manualRenderingSampleTime(), 0);
  EXPECT_EQ(g.engine.renderOffline(4096, *buffer, &error), AudioEngineManualRenderingStatus::Success);
}

std::vector<float> noise(size_t frames) {
  std::vector<float> samples(frames);
  uint32_t state = 1;
  for (float& s : samples) {
    state = state * 1664525u + 1013904223u;
    s = static_cast<float>(static_cast<int32_t>(state) / 2147483648.0 * 0.8);
  }
  return samples;
}

TEST(OfflineRender, PitchZeroKeepsEverySample) {
  TempDir dir;
  const std::string source = dir.file("speech.aiff");
  writeSamples(source, noise(30011));
  Graph g(nullDevice());
  g.setUp(AudioFile::openForReading(source), 0.0f);
  const std::string destination = dir.file("x.wav");
  saveTo(g, destination);
  EXPECT_EQ(readShorts(destination), readShorts(source));
}

// A save made while a long file was playing: the request stops the engine and the player
// with the player's prefetch full, then renders the new file.
TEST(OfflineRender, SaveAfterInterruptedPlaybackKeepsEverySample) {
  TempDir dir;
  const std::string playing = dir.file("playing.aiff");
  writeSamples(playing, tone(5 * 22050, 440.0));
  const std::string source = dir.file("speech.aiff");
  writeSamples(source, noise(30011));
  Graph g(nullDevice());
  g.setUp(AudioFile::openForReading(playing), 0.0f);
  ASSERT_TRUE(g.engine.startAndReturnError());
  g.player->play();
  g.player->scheduleFile(g.file, AudioPlayerNodeCompletionCallbackType::DataPlayedBack, [](auto) {});
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  g.engine.stop();
  g.player->stop();

  g.setUp(AudioFile::openForReading(source), 0.0f);
  const std::string destination = dir.file("x.wav");
  saveTo(g, destination);
  EXPECT_EQ(readShorts(destination), readShorts(source));
}

// One octave up and down: the tone's frequency, the file's length and its onset.
TEST(OfflineRender, OctaveShiftKeepsLengthAndOnset) {
  for (float cents : {1200.0f, -1200.0f}) {
    TempDir dir;
    Graph g(nullDevice());
    g.setUp(toneFile(dir, 22050), cents);
    const std::string destination = dir.file("x.wav");
    saveTo(g, destination);
    SF_INFO info{};
    const auto out = readSamples(destination, &info);
    ASSERT_EQ(info.frames, 22050) << cents;
    const double expected = cents > 0 ? 880.0 : 220.0;
    EXPECT_NEAR(frequencyOf(out, 2000, 20000), expected, expected * 0.01) << cents;
    // A tone that starts at frame 0 starts at frame 0 of the output (2 ms = 44 frames).
    EXPECT_LE(onsetOf(out, 0.05f), 44) << cents;
  }
}

TEST(OfflineRender, PitchChangeMidStreamIsHeardWithinTenMilliseconds) {
  TempDir dir;
  Graph g(nullDevice());
  g.setUp(toneFile(dir, 22050), 0.0f);
  const AudioFormat format = g.file->processingFormat();
  g.player->scheduleFile(g.file);
  ASSERT_TRUE(g.engine.enableManualRenderingMode(AudioEngineManualRenderingMode::Offline, format, 8096));
  ASSERT_TRUE(g.engine.startAndReturnError());
  g.player->play();
  auto buffer = AudioPCMBuffer::create(format, 8096);
  std::vector<float> out;
  const uint32_t pass = 441;  // 20 ms
  for (int i = 0; i < 50; ++i) {
    if (i == 25) g.unit->setPitch(1200.0f);
    ASSERT_EQ(g.engine.renderOffline(pass, *buffer), AudioEngineManualRenderingStatus::Success);
    out.insert(out.end(), buffer->channelData(0), buffer->channelData(0) + pass);
  }
  const size_t change = 25 * pass;
  const size_t tenMs = 221;
  EXPECT_NEAR(frequencyOf(out, change - 4000, change), 440.0, 4.4);
  EXPECT_NEAR(frequencyOf(out, change + tenMs, change + tenMs + 2000), 880.0, 8.8);
}

// Each request attaches a new unit; only the newest is connected, and only it is heard.
TEST(GraphConnections, NewestUnitReplacesTheEarlierOne) {
  TempDir dir;
  const std::string source = dir.file("speech.aiff");
  writeSamples(source, tone(10000, 440.0));
  Graph g(nullDevice());
  g.setUp(AudioFile::openForReading(source), 1200.0f);
  const auto first = g.unit;
  g.setUp(AudioFile::openForReading(source), 0.0f);
  EXPECT_TRUE(g.engine.isAttached(*first));
  EXPECT_TRUE(g.engine.isAttached(*g.unit));
  EXPECT_EQ(g.engine.inputOf(*first), nullptr);
  EXPECT_EQ(g.engine.inputOf(*g.unit), g.player);
  EXPECT_EQ(g.engine.inputOf(*g.engine.outputNode()), g.unit);

  const std::string destination = dir.file("x.wav");
  saveTo(g, destination);
  EXPECT_EQ(readShorts(destination), readShorts(source));
}

TEST(GraphConnections, ConnectRefusesWhatCannotBeWired) {
  Graph g(nullDevice());
  const AudioFormat format{22050, 1};
  auto unit = std::make_shared<AudioUnitTimePitch>();
  auto stray = std::make_shared<AudioUnitTimePitch>();
  g.engine.attachNode(g.player);
  g.engine.attachNode(g.player);
  g.engine.attachNode(unit);
  EXPECT_FALSE(g.engine.isAttached(*stray));
  g.engine.connect(g.player, stray, format);  // not attached
  EXPECT_EQ(g.engine.inputOf(*stray), nullptr);
  g.engine.connect(g.player, unit, format);
  g.engine.connect(unit, g.player, format);  // a player has no input
  EXPECT_EQ(g.engine.inputOf(*g.player), nullptr);
  g.engine.connect(unit, unit, format);  // a node cannot feed itself
  EXPECT_EQ(g.engine.inputOf(*unit), g.player);
  g.engine.connect(g.player, g.engine.outputNode(), format);  // replaces the player's earlier connection
  EXPECT_EQ(g.engine.inputOf(*unit), nullptr);
  EXPECT_EQ(g.engine.inputOf(*g.engine.outputNode()), g.player);
}

TEST(TimePitch, PitchIsClampedToTwoOctaves) {
  AudioUnitTimePitch unit;
  EXPECT_EQ(unit.pitch(), 0.0f);
  for (auto [given, kept] :
       {std::pair{3000.0f, 2400.0f}, std::pair{-5000.0f, -2400.0f}, std::pair{-150.5f, -150.5f}}) {
    unit.setPitch(given);
    EXPECT_EQ(unit.pitch(), kept);
  }
}

}  // namespace
}  // namespace lorvanta
