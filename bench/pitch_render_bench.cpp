// Renders a file offline through player -> time-pitch unit -> output into a WAV file, in
// passes of 8096 frames, and prints the time it took and the process's peak memory.
// Usage: pitch_render_bench IN OUT [CENTS]
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "studio/audio/AudioEngine.h"
#include "studio/audio/AudioFile.h"
#include "studio/audio/AudioPlayerNode.h"
#include "studio/audio/AudioUnitTimePitch.h"
#include "studio/audio/NullOutputDevice.h"

using namespace lorvanta;

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s IN OUT [CENTS]\n", argv[0]);
    return 2;
  }
  const float cents = argc > 3 ? std::strtof(argv[3], nullptr) : 300.0f;
  const auto began = std::chrono::steady_clock::now();

  AudioError error;
  auto input = AudioFile::openForReading(argv[1], &error);
  if (!input) {
    std::fprintf(stderr, "%s\n", error.message.c_str());
    return 1;
  }
  const AudioFormat format = input->processingFormat();
  AudioEngine engine(std::make_unique<NullOutputDevice>());
  auto player = std::make_shared<AudioPlayerNode>();
  auto unit = std::make_shared<AudioUnitTimePitch>();
  unit->setPitch(cents);
  engine.attachNode(player);
  engine.attachNode(unit);
  engine.connect(player, unit, format);
  engine.connect(unit, engine.outputNode(), format);
  player->scheduleFile(input);
  if (!engine.enableManualRenderingMode(AudioEngineManualRenderingMode::Offline, format, 8096, &error) ||
      !engine.startAndReturnError(&error)) {
    std::fprintf(stderr, "%s\n", error.message.c_str());
    return 1;
  }
  player->play();
  int64_t written = 0;
  {
    auto output = AudioFile::openForWriting(argv[2], input->fileFormat().settings, &error);
    auto buffer =
        AudioPCMBuffer::create(engine.manualRenderingFormat(), engine.manualRenderingMaximumFrameCount());
    if (!output || !buffer) {
      std::fprintf(stderr, "%s\n", error.message.c_str());
      return 1;
    }
    while (engine.manualRenderingSampleTime() < input->length()) {
      const auto frames = static_cast<uint32_t>(
          std::min<int64_t>(buffer->frameCapacity(), input->length() - engine.manualRenderingSampleTime()));
      if (engine.renderOffline(frames, *buffer, &error) != AudioEngineManualRenderingStatus::Success) {
        std::fprintf(stderr, "%s\n", error.message.c_str());
        return 1;
      }
      output->writeFromBuffer(*buffer);
      written += frames;
    }
  }
  engine.stop();
  engine.disableManualRenderingMode();

  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("frames %lld seconds %.3f peak_kib %ld\n", static_cast<long long>(written), seconds,
              usage.ru_maxrss);
  return 0;
}
