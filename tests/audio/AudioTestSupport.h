#pragma once

#include <sndfile.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "studio/audio/AudioEngine.h"
#include "studio/audio/AudioFile.h"
#include "studio/audio/AudioPlayerNode.h"
#include "studio/audio/AudioUnitTimePitch.h"

namespace lorvanta::testing_audio {

// A fresh directory under the system's temporary directory, removed at destruction.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "lorvanta-audio-XXXXXX").string();
    path_ = mkdtemp(pattern.data());
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  std::string file(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

inline void writeSamples(const std::string& path, const std::vector<float>& samples, int rate = 22050,
                         int format = SF_FORMAT_AIFF | SF_FORMAT_PCM_16) {
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = 1;
  info.format = format;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  if (!file) std::abort();
  sf_writef_float(file, samples.data(), static_cast<sf_count_t>(samples.size()));
  sf_close(file);
}

inline std::vector<float> tone(size_t frames, double frequency, double amplitude = 0.5, int rate = 22050,
                               size_t onset = 0) {
  std::vector<float> samples(frames, 0.0f);
  for (size_t i = onset; i < frames; ++i) {
    samples[i] = static_cast<float>(amplitude * std::sin(2.0 * M_PI * frequency * double(i - onset) / rate));
  }
  return samples;
}

inline std::vector<float> readSamples(const std::string& path, SF_INFO* infoOut = nullptr) {
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  if (!file) return {};
  std::vector<float> samples(static_cast<size_t>(info.frames) * static_cast<size_t>(info.channels));
  sf_readf_float(file, samples.data(), info.frames);
  sf_close(file);
  if (infoOut) *infoOut = info;
  return samples;
}

inline std::vector<short> readShorts(const std::string& path) {
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  if (!file) return {};
  std::vector<short> samples(static_cast<size_t>(info.frames) * static_cast<size_t>(info.channels));
  sf_readf_short(file, samples.data(), info.frames);
  sf_close(file);
  return samples;
}

// Frequency from the zero crossings in [begin, end), interpolated between samples.
inline double frequencyOf(const std::vector<float>& s, size_t begin, size_t end, int rate = 22050) {
  double first = -1.0, last = -1.0;
  int crossings = 0;
  for (size_t i = std::max<size_t>(begin, 1); i < end && i < s.size(); ++i) {
    if (s[i - 1] < 0.0f && s[i] >= 0.0f) {
      const double at = double(i - 1) + s[i - 1] / (s[i - 1] - s[i]);
      if (first < 0.0) {
        first = at;
      } else {
        ++crossings;
      }
      last = at;
    }
  }
  if (crossings == 0) return 0.0;
  return crossings * rate / (last - first);
}

// First frame whose magnitude reaches `threshold`, or -1.
inline long onsetOf(const std::vector<float>& s, float threshold) {
  for (size_t i = 0; i < s.size(); ++i) {
    if (std::fabs(s[i]) >= threshold) return static_cast<long>(i);
  }
  return -1;
}

// The graph a speak or save request builds: player -> new time-pitch unit -> output.
struct Graph {
  explicit Graph(std::unique_ptr<AudioOutputDevice> device) : engine(std::move(device)) {}
  void setUp(const std::shared_ptr<AudioFile>& input, float cents) {
    file = input;
    engine.attachNode(player);
    unit = std::make_shared<AudioUnitTimePitch>();
    unit->setPitch(cents);
    engine.attachNode(unit);
    engine.connect(player, unit, file->processingFormat());
    engine.connect(unit, engine.outputNode(), file->processingFormat());
  }

  AudioEngine engine;
  std::shared_ptr<AudioPlayerNode> player = std::make_shared<AudioPlayerNode>();
  std::shared_ptr<AudioUnitTimePitch> unit;
  std::shared_ptr<AudioFile> file;
};

// The save road: offline rendering of the scheduled file into `destination`, pass by pass.
struct SaveResult {
  std::vector<uint32_t> passes;
  bool opened = false;
};

inline SaveResult saveTo(Graph& g, const std::string& destination, uint32_t maximum = 8096) {
  SaveResult result;
  const AudioFormat format = g.file->processingFormat();
  g.player->scheduleFile(g.file);
  if (!g.engine.enableManualRenderingMode(AudioEngineManualRenderingMode::Offline, format, maximum))
    return result;
  if (g.engine.startAndReturnError()) g.player->play();
  {
    auto out = AudioFile::openForWriting(destination, g.file->fileFormat().settings);
    result.opened = out != nullptr;
    auto buffer =
        AudioPCMBuffer::create(g.engine.manualRenderingFormat(), g.engine.manualRenderingMaximumFrameCount());
    while (out && buffer && g.engine.manualRenderingSampleTime() < g.file->length()) {
      const uint32_t frames = static_cast<uint32_t>(std::min<int64_t>(
          buffer->frameCapacity(), g.file->length() - g.engine.manualRenderingSampleTime()));
      AudioError error;
      const auto status = g.engine.renderOffline(frames, *buffer, &error);
      if (status == AudioEngineManualRenderingStatus::Success) {
        result.passes.push_back(buffer->frameLength());
        out->writeFromBuffer(*buffer);
      } else if (status == AudioEngineManualRenderingStatus::Error) {
        break;
      }
    }
  }
  g.engine.stop();
  g.player->stop();
  g.engine.reset();
  g.player->reset();
  g.unit->reset();
  g.engine.disableManualRenderingMode();
  return result;
}

}  // namespace lorvanta::testing_audio
