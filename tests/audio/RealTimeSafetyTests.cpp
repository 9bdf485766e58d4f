#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "AllocationCounter.h"
#include "AudioTestSupport.h"
#include "studio/audio/NullOutputDevice.h"

namespace lorvanta {
namespace {

using namespace std::chrono_literals;
using testing_audio::Graph;
using testing_audio::TempDir;
using testing_audio::tone;
using testing_audio::writeSamples;

// A null device whose render calls are marked, so that allocations inside them are seen.
class WatchedDevice final : public AudioOutputDevice {
 public:
  bool start(const AudioFormat& format, RenderCallback render, AudioError* error) override {
    return inner_.start(
        format,
        [render = std::move(render)](float* const* channels, uint32_t frames, double outputTime) {
          testing_audio::markRendering(true);
          render(channels, frames, outputTime);
          testing_audio::markRendering(false);
        },
        error);
  }
  void stop() override { inner_.stop(); }
  double currentTime() const override { return inner_.currentTime(); }

 private:
  NullOutputDevice inner_;
};

TEST(RealTimeSafety, RenderThreadNeverAllocates) {
  TempDir dir;
  const std::string path = dir.file("speech.aiff");
  writeSamples(path, tone(22050, 440.0));  // 1 s
  Graph g(std::make_unique<WatchedDevice>());
  g.setUp(AudioFile::openForReading(path), 300.0f);
  std::atomic<bool> done{false};
  ASSERT_TRUE(g.engine.startAndReturnError());
  g.player->play();
  g.player->scheduleFile(g.file, AudioPlayerNodeCompletionCallbackType::DataPlayedBack,
                         [&](AudioPlayerNodeCompletionCallbackType) { done = true; });
  // Pitch changes while playing, back through 0, to both ends of the range.
  for (float cents : {-1200.0f, 0.0f, 2400.0f, -2400.0f, 700.0f}) {
    std::this_thread::sleep_for(120ms);
    g.unit->setPitch(cents);
  }
  for (int i = 0; i < 300 && !done; ++i) std::this_thread::sleep_for(10ms);
  EXPECT_TRUE(done);
  g.engine.stop();
  g.player->stop();
  EXPECT_EQ(testing_audio::renderThreadAllocations(), 0);
}

}  // namespace
}  // namespace lorvanta
