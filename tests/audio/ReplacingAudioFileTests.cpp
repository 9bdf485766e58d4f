#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "AudioTestSupport.h"
#include "studio/audio/ReplacingAudioFile.h"

namespace lorvanta {
namespace {

using testing_audio::readSamples;
using testing_audio::TempDir;

std::vector<std::string> entries(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

std::string contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::unique_ptr<AudioPCMBuffer> silence(uint32_t frames) {
  auto buffer = AudioPCMBuffer::create(AudioFormat{22050, 1}, frames);
  buffer->setFrameLength(frames);
  return buffer;
}

const AudioFileSettings kSettings{AudioFileSettings::Container::AIFF, AudioFileSettings::SampleFormat::PCM16,
                                  22050, 1, 16};

TEST(ReplacingAudioFile, OnlyACommittedFileTakesTheDestinationsPlace) {
  TempDir dir;
  const std::string folder = dir.file("");
  const std::string path = dir.file("speech.wav");
  { std::ofstream(path) << "old"; }

  for (const bool commit : {false, true}) {
    SCOPED_TRACE(commit);
    AudioError error;
    auto output = ReplacingAudioFile::openReplacing(path, kSettings, &error);
    ASSERT_NE(output, nullptr) << error.message;
    // Written beside the destination under a hidden name that keeps the extension.
    const std::string part = std::filesystem::path(output->partPath()).filename();
    EXPECT_EQ(part.rfind(".lorvanta-", 0), 0u) << part;
    EXPECT_EQ(std::filesystem::path(part).extension(), ".wav");
    EXPECT_EQ(entries(folder), (std::vector<std::string>{part, "speech.wav"}));
    ASSERT_TRUE(output->writeFromBuffer(*silence(100), &error)) << error.message;
    EXPECT_EQ(contents(path), "old");

    if (commit) {
      ASSERT_TRUE(output->commit(&error)) << error.message;
      EXPECT_FALSE(output->commit(&error));
    }
    output.reset();
    EXPECT_EQ(entries(folder), std::vector<std::string>{"speech.wav"});
  }
  SF_INFO info{};
  readSamples(path, &info);
  EXPECT_EQ(info.frames, 100);
  EXPECT_EQ(info.format & SF_FORMAT_TYPEMASK, SF_FORMAT_WAV);
}

TEST(ReplacingAudioFile, APlaceThatCannotTakeTheFileIsRefusedWithItsReason) {
  TempDir dir;
  std::filesystem::create_directory(dir.file("folder.wav"));
  ASSERT_EQ(::symlink("loop-b.wav", dir.file("loop-a.wav").c_str()), 0);
  ASSERT_EQ(::symlink("loop-a.wav", dir.file("loop-b.wav").c_str()), 0);
  const struct {
    std::string destination;
    std::string reason;
  } cases[] = {
      {dir.file("folder.wav"), "Is a directory"},
      {dir.file("loop-a.wav"), "Too many levels of symbolic links"},
      {dir.file("missing/speech.wav"), "No such file or directory"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.destination);
    AudioError error;
    EXPECT_EQ(ReplacingAudioFile::openReplacing(c.destination, kSettings, &error), nullptr);
    EXPECT_EQ(error.message, c.reason);
  }
  EXPECT_EQ(entries(dir.file("")), (std::vector<std::string>{"folder.wav", "loop-a.wav", "loop-b.wav"}));
}

}  // namespace
}  // namespace lorvanta
