// The save road without the panel: synthesis of a text file into a temporary AIFF file,
// then the offline render through player, time-pitch unit and output into a WAV file.
//
// Usage: save_road_bench TEXT_FILE OUT.wav [PITCH_CENTS [RATE_WPM]]
// Prints one line: synthesis, render and total seconds, frames and peak resident memory.

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>

#include "studio/audio/AudioEngine.h"
#include "studio/audio/AudioFile.h"
#include "studio/audio/AudioOutputDevice.h"
#include "studio/audio/AudioPCMBuffer.h"
#include "studio/audio/AudioPlayerNode.h"
#include "studio/audio/AudioUnitTimePitch.h"
#include "studio/speech/EspeakSpeechSynthesizer.h"

namespace {

using namespace lorvanta;
using Clock = std::chrono::steady_clock;

// The bench's "main queue": work posted by the synthesizer, run by main().
class WorkQueue {
 public:
  void post(std::function<void()> work) {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(std::move(work));
    ready_.notify_one();
  }
  void runOne() {
    std::function<void()> work;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      ready_.wait(lock, [&] { return !queue_.empty(); });
      work = std::move(queue_.front());
      queue_.pop_front();
    }
    work();
  }

 private:
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<std::function<void()>> queue_;
};

class Finished final : public SpeechSynthesizerDelegate {
 public:
  void speechSynthesizerDidFinishSpeaking(SpeechSynthesizer&, bool finishedSpeaking) override {
    done = true;
    ok = finishedSpeaking;
  }
  bool done = false;
  bool ok = false;
};

// Takes every start and plays nothing: the save never uses the device.
class NoDevice final : public AudioOutputDevice {
 public:
  bool start(const AudioFormat&, RenderCallback, AudioError*) override { return true; }
  void stop() override {}
  double currentTime() const override { return 0.0; }
};

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s TEXT_FILE OUT.wav [PITCH_CENTS [RATE_WPM]]\n", argv[0]);
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", argv[1]);
    return 2;
  }
  std::stringstream content;
  content << in.rdbuf();
  const std::string text = content.str();
  const std::string outPath = argv[2];
  const float pitch = argc > 3 ? std::stof(argv[3]) : 300.0f;
  const float rate = argc > 4 ? std::stof(argv[4]) : 180.0f;
  const std::string tempPath = outPath + ".temp.aiff";

  const Clock::time_point start = Clock::now();

  WorkQueue mainQueue;
  EspeakSpeechSynthesizer synthesizer([&](std::function<void()> work) { mainQueue.post(std::move(work)); });
  Finished finished;
  synthesizer.setDelegate(&finished);
  synthesizer.setRate(rate);
  synthesizer.startSpeakingStringToURL(text, tempPath);
  while (!finished.done) mainQueue.runOne();
  const Clock::time_point synthesized = Clock::now();
  if (!finished.ok) {
    std::fprintf(stderr, "synthesis failed\n");
    return 1;
  }

  // Graph set-up as for a request, then the offline render.
  AudioEngine engine(std::make_unique<NoDevice>());
  auto player = std::make_shared<AudioPlayerNode>();
  auto unit = std::make_shared<AudioUnitTimePitch>();
  const std::shared_ptr<AudioFile> file = AudioFile::openForReading(tempPath);
  if (!file) {
    std::fprintf(stderr, "cannot open %s\n", tempPath.c_str());
    return 1;
  }
  const AudioFormat format = file->processingFormat();
  engine.attachNode(player);
  unit->setPitch(pitch);
  engine.attachNode(unit);
  engine.connect(player, unit, format);
  engine.connect(unit, engine.outputNode(), format);

  player->scheduleFile(file);
  if (!engine.enableManualRenderingMode(AudioEngineManualRenderingMode::Offline, format, 8096)) return 1;
  if (engine.startAndReturnError()) player->play();
  std::remove(outPath.c_str());
  std::shared_ptr<AudioFile> output = AudioFile::openForWriting(outPath, file->fileFormat().settings);
  if (!output) return 1;
  const std::unique_ptr<AudioPCMBuffer> buffer =
      AudioPCMBuffer::create(engine.manualRenderingFormat(), engine.manualRenderingMaximumFrameCount());
  if (!buffer) return 1;
  int idle = 0;
  while (engine.manualRenderingSampleTime() < file->length() && idle < 16) {
    const int64_t before = engine.manualRenderingSampleTime();
    const auto frames =
        static_cast<uint32_t>(std::min<int64_t>(buffer->frameCapacity(), file->length() - before));
    const AudioEngineManualRenderingStatus status = engine.renderOffline(frames, *buffer);
    if (status == AudioEngineManualRenderingStatus::Error) break;
    if (status == AudioEngineManualRenderingStatus::Success) output->writeFromBuffer(*buffer);
    idle = engine.manualRenderingSampleTime() > before ? 0 : idle + 1;
  }
  const int64_t frames = output->length();
  output.reset();
  engine.stop();
  player->stop();
  engine.reset();
  player->reset();
  unit->reset();
  engine.disableManualRenderingMode();
  const Clock::time_point rendered = Clock::now();
  std::remove(tempPath.c_str());

  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("synthesis_s=%.3f render_s=%.3f total_s=%.3f frames=%lld maxrss_kb=%ld\n",
              seconds(synthesized - start), seconds(rendered - synthesized), seconds(rendered - start),
              static_cast<long long>(frames), usage.ru_maxrss);
  return frames == file->length() ? 0 : 1;
}
