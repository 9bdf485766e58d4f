#include <gtest/gtest.h>

#include <cstdio>

#include "AudioTestSupport.h"
#include "studio/SmallDisk.h"
#include "studio/audio/AudioFile.h"
#include "studio/audio/AudioPCMBuffer.h"

namespace lorvanta {
namespace {

using testing_audio::readShorts;
using testing_audio::TempDir;
using testing_audio::tone;
using testing_audio::writeSamples;
using Settings = AudioFileSettings;

std::string commandOutput(const std::string& command) {
  std::string text;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char chunk[256];
    while (fgets(chunk, sizeof chunk, pipe)) text += chunk;
    pclose(pipe);
  }
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

TEST(AudioPCMBuffer, CreatesOnlyValidBuffers) {
  EXPECT_EQ(AudioPCMBuffer::create(AudioFormat{22050, 1}, 0), nullptr);
  EXPECT_EQ(AudioPCMBuffer::create(AudioFormat{0, 1}, 16), nullptr);
  EXPECT_EQ(AudioPCMBuffer::create(AudioFormat{22050, 0}, 16), nullptr);
  auto buffer = AudioPCMBuffer::create(AudioFormat{22050, 2}, 8096);
  ASSERT_NE(buffer, nullptr);
  EXPECT_EQ(buffer->frameCapacity(), 8096u);
  EXPECT_EQ(buffer->frameLength(), 0u);
  buffer->setFrameLength(9000);
  EXPECT_EQ(buffer->frameLength(), 8096u);
  EXPECT_NE(buffer->channelData(1), nullptr);
  EXPECT_EQ(buffer->channelData(2), nullptr);
}

TEST(AudioFile, PlaceholderIsNoFile) {
  AudioFile placeholder;
  EXPECT_FALSE(placeholder.isOpen());
  EXPECT_FALSE(placeholder.processingFormat().isValid());
  EXPECT_EQ(placeholder.length(), 0);
}

TEST(AudioFile, ReadsAiffFormatSettingsAndFrames) {
  TempDir dir;
  const std::string path = dir.file("speech.aiff");
  writeSamples(path, tone(20000, 440.0));
  AudioError error;
  auto file = AudioFile::openForReading(path, &error);
  ASSERT_NE(file, nullptr) << error.message;
  EXPECT_EQ(file->length(), 20000);
  EXPECT_EQ(file->processingFormat(), (AudioFormat{22050, 1}));
  EXPECT_EQ(file->fileFormat().settings,
            (Settings{Settings::Container::AIFF, Settings::SampleFormat::PCM16, 22050, 1, 16}));

  auto buffer = AudioPCMBuffer::create(file->processingFormat(), 4096);
  EXPECT_EQ(file->readFrames(19000, 4096, *buffer), 1000u);
  EXPECT_EQ(buffer->frameLength(), 1000u);
  EXPECT_EQ(file->readFrames(20000, 16, *buffer), 0u);
}

TEST(AudioFile, OpenErrorsAreReported) {
  TempDir dir;
  AudioError error;
  EXPECT_EQ(AudioFile::openForReading(dir.file("missing.aiff"), &error), nullptr);
  EXPECT_FALSE(error.message.empty());

  const Settings pcm16{Settings::Container::AIFF, Settings::SampleFormat::PCM16, 22050, 1, 16};
  struct Case {
    const char* name;
    Settings settings;
  } cases[] = {
      {"noextension", Settings{Settings::Container::Unknown, Settings::SampleFormat::PCM16, 22050, 1, 16}},
      {"x.wav", Settings{Settings::Container::WAV, Settings::SampleFormat::PCM16, 0, 1, 16}},
      {"x.wav", Settings{Settings::Container::WAV, Settings::SampleFormat::PCM16, 22050, 0, 16}},
      {"x.wav", Settings{Settings::Container::WAV, Settings::SampleFormat::Unknown, 22050, 1, 0}},
      {"nodir/x.wav", pcm16},
  };
  for (const Case& c : cases) {
    error = {};
    EXPECT_EQ(AudioFile::openForWriting(dir.file(c.name), c.settings, &error), nullptr) << c.name;
    EXPECT_FALSE(error.message.empty()) << c.name;
  }
}

// A save with the temporary AIFF's settings to "x.wav" gives a 16-bit RIFF WAVE file that
// holds the samples exactly and is complete once the object is released.
TEST(AudioFile, WritesWavFromAiffSettingsExactlyAndCompletely) {
  TempDir dir;
  const std::string source = dir.file("speech.aiff");
  writeSamples(source, tone(30000, 440.0, 0.9));
  auto input = AudioFile::openForReading(source);
  ASSERT_NE(input, nullptr);
  const std::string destination = dir.file("x.wav");
  {
    AudioError error;
    auto output = AudioFile::openForWriting(destination, input->fileFormat().settings, &error);
    ASSERT_NE(output, nullptr) << error.message;
    EXPECT_EQ(output->fileFormat().settings.container, Settings::Container::WAV);
    auto buffer = AudioPCMBuffer::create(input->processingFormat(), 8096);
    for (int64_t at = 0; at < input->length(); at += buffer->frameLength()) {
      ASSERT_GT(input->readFrames(at, 8096, *buffer), 0u);
      ASSERT_TRUE(output->writeFromBuffer(*buffer));
    }
    EXPECT_EQ(output->length(), 30000);
  }
  FILE* raw = std::fopen(destination.c_str(), "rb");
  ASSERT_NE(raw, nullptr);
  char header[12] = {};
  ASSERT_EQ(std::fread(header, 1, 12, raw), 12u);
  std::fclose(raw);
  EXPECT_EQ(std::string(header, 4), "RIFF");
  EXPECT_EQ(std::string(header + 8, 4), "WAVE");
  EXPECT_EQ(commandOutput("soxi -r '" + destination + "'"), "22050");
  EXPECT_EQ(commandOutput("soxi -c '" + destination + "'"), "1");
  EXPECT_EQ(commandOutput("soxi -b '" + destination + "'"), "16");
  EXPECT_EQ(commandOutput("soxi -s '" + destination + "'"), "30000");
  EXPECT_EQ(commandOutput("sox '" + destination + "' -n stat 2>&1 | grep -c Samples"), "1");
  EXPECT_EQ(readShorts(destination), readShorts(source));
}

TEST(AudioFile, ClipsOutOfRangeFloatInsteadOfWrapping) {
  TempDir dir;
  struct Case {
    Settings::SampleFormat format;
    uint32_t bits;
    double top;
  } cases[] = {
      {Settings::SampleFormat::PCM8, 8, 127.0 / 128},
      {Settings::SampleFormat::PCM16, 16, 32767.0 / 32768},
      {Settings::SampleFormat::PCM24, 24, 8388607.0 / 8388608},
  };
  for (const Case& c : cases) {
    const std::string path = dir.file("clip" + std::to_string(c.bits) + ".wav");
    {
      auto out =
          AudioFile::openForWriting(path, Settings{Settings::Container::WAV, c.format, 22050, 1, c.bits});
      ASSERT_NE(out, nullptr);
      auto buffer = AudioPCMBuffer::create(AudioFormat{22050, 1}, 4);
      const float values[] = {1.5f, -1.5f, 1.0f, -1.0f};
      std::copy(values, values + 4, buffer->channelData(0));
      buffer->setFrameLength(4);
      ASSERT_TRUE(out->writeFromBuffer(*buffer));
    }
    const auto samples = testing_audio::readSamples(path);
    ASSERT_EQ(samples.size(), 4u);
    EXPECT_DOUBLE_EQ(samples[0], static_cast<float>(c.top)) << c.bits;
    EXPECT_DOUBLE_EQ(samples[1], -1.0f) << c.bits;
    EXPECT_DOUBLE_EQ(samples[2], static_cast<float>(c.top)) << c.bits;
    EXPECT_DOUBLE_EQ(samples[3], -1.0f) << c.bits;
  }
}

TEST(AudioFile, WriteWithWrongChannelCountFails) {
  TempDir dir;
  auto out = AudioFile::openForWriting(
      dir.file("x.aiff"), Settings{Settings::Container::WAV, Settings::SampleFormat::Float32, 48000, 2, 32});
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(out->fileFormat().settings.container, Settings::Container::AIFF);
  auto mono = AudioPCMBuffer::create(AudioFormat{48000, 1}, 16);
  mono->setFrameLength(16);
  AudioError error;
  EXPECT_FALSE(out->writeFromBuffer(*mono, &error));
  EXPECT_FALSE(error.message.empty());
  EXPECT_EQ(out->length(), 0);
}

TEST(AudioFile, AFullDiskFailsTheWriteAndTheClose) {
  testing_disk::SmallDisk disk;
  if (!disk.mounted()) GTEST_SKIP() << "no tmpfs can be mounted here";
  const Settings wav{Settings::Container::WAV, Settings::SampleFormat::PCM16, 22050, 1, 16};
  AudioError error;
  auto out = AudioFile::openForWriting(disk.file("full.wav"), wav, &error);
  ASSERT_NE(out, nullptr) << error.message;
  auto buffer = AudioPCMBuffer::create(AudioFormat{22050, 1}, 8096);
  buffer->setFrameLength(8096);
  // 256 KiB hold about 8 such buffers.
  int written = 0;
  while (written < 100 && out->writeFromBuffer(*buffer, &error)) ++written;
  EXPECT_LT(written, 100);
  EXPECT_EQ(error.message, "No space left on device");

  // The file is not complete, and closing says so.
  AudioError closeError;
  EXPECT_FALSE(out->close(&closeError));
  EXPECT_EQ(closeError.message, "No space left on device");
  EXPECT_FALSE(out->isOpen());
  EXPECT_TRUE(out->close());

  // Opening where nothing fits any more fails with the same reason, and leaves no file.
  EXPECT_EQ(AudioFile::openForWriting(disk.file("more.wav"), wav, &error), nullptr);
  EXPECT_EQ(error.message, "No space left on device");
  EXPECT_FALSE(std::filesystem::exists(disk.file("more.wav")));
}

TEST(AudioFile, CloseFinishesAWrittenFile) {
  TempDir dir;
  auto out = AudioFile::openForWriting(
      dir.file("done.wav"), Settings{Settings::Container::WAV, Settings::SampleFormat::PCM16, 22050, 1, 16});
  ASSERT_NE(out, nullptr);
  auto buffer = AudioPCMBuffer::create(AudioFormat{22050, 1}, 1000);
  buffer->setFrameLength(1000);
  ASSERT_TRUE(out->writeFromBuffer(*buffer));
  AudioError error;
  EXPECT_TRUE(out->close(&error)) << error.message;
  // Complete on disk while the object still lives.
  EXPECT_EQ(readShorts(dir.file("done.wav")).size(), 1000u);
  EXPECT_FALSE(out->writeFromBuffer(*buffer));
}

}  // namespace
}  // namespace lorvanta
