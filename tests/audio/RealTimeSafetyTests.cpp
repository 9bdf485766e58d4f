#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <new>
#include <thread>

#include "AudioTestSupport.h"
#include "studio/audio/NullOutputDevice.h"

namespace {
// Set on the device thread while the engine renders; every allocation made then is counted.
thread_local bool renderingNow = false;
std::atomic<int> renderAllocations{0};

void* allocate(std::size_t size) {
  if (renderingNow) renderAllocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
}  // namespace

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

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
          renderingNow = true;
          render(channels, frames, outputTime);
          renderingNow = false;
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
  EXPECT_EQ(renderAllocations.load(), 0);
}

}  // namespace
}  // namespace lorvanta
