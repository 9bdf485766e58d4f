#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <thread>

#include "AllocationCounter.h"
#include "AudioTestSupport.h"
#include "studio/audio/NullOutputDevice.h"

namespace lorvanta {
namespace {

using namespace std::chrono_literals;
using testing_audio::frequencyOf;
using testing_audio::Graph;
using testing_audio::liveHeapBytes;
using testing_audio::readSamples;
using testing_audio::saveTo;
using testing_audio::TempDir;
using testing_audio::tone;
using testing_audio::writeSamples;

// Every set-up attaches a new unit; the earlier ones stay attached but unconnected and must
// give back their processing memory, so the heap stays flat however many requests there are.
// An earlier unit connected again processes again.
TEST(GraphMemory, UnitsOfEarlierSetUpsHoldNoProcessingMemory) {
  constexpr int kSetUps = 30;
  constexpr int kFirstCounted = 5;
  // What one set-up may add for good: the unit's object and the engine's note of it.
  constexpr int64_t kBytesPerSetUp = 2048;
  struct Case {
    const char* name;
    bool save;
    float cents;
  };
  for (const Case& c : {Case{"speak", false, 700.0f}, Case{"save", true, -500.0f}}) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string input = dir.file("speech.aiff");
    writeSamples(input, tone(5512, 440.0));
    auto owned = std::make_unique<NullOutputDevice>(NullOutputDevice::Options{.realTime = false});
    NullOutputDevice* device = owned.get();
    Graph g(std::move(owned));
    std::shared_ptr<AudioUnitTimePitch> first;
    int64_t counted = 0;
    for (int i = 1; i <= kSetUps; ++i) {
      g.setUp(AudioFile::openForReading(input), c.cents);
      if (!first) first = g.unit;
      if (c.save) {
        ASSERT_TRUE(saveTo(g, dir.file("saved.aiff")).opened);
      } else {
        ASSERT_TRUE(g.engine.startAndReturnError());
        g.player->play();
        g.player->scheduleFile(g.file, AudioPlayerNodeCompletionCallbackType::DataPlayedBack,
                               [](AudioPlayerNodeCompletionCallbackType) {});
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (device->framesRendered() < 2048 && std::chrono::steady_clock::now() < deadline)
          std::this_thread::sleep_for(1ms);
        ASSERT_GE(device->framesRendered(), 2048u) << "the device did not render 2048 frames in ten seconds";
        g.engine.stop();
        g.player->stop();
      }
      if (i == kFirstCounted) counted = liveHeapBytes();
    }
    const int64_t grown = liveHeapBytes() - counted;
    EXPECT_LT(grown, kBytesPerSetUp * (kSetUps - kFirstCounted))
        << grown << " bytes more after set-up " << kSetUps << " than after set-up " << kFirstCounted;
    EXPECT_TRUE(g.engine.isAttached(*first));
    EXPECT_NE(g.engine.inputOf(*g.engine.outputNode()), first);

    const AudioFormat format = g.file->processingFormat();
    g.unit = first;
    g.engine.connect(g.player, first, format);
    g.engine.connect(first, g.engine.outputNode(), format);
    const std::string saved = dir.file("again.aiff");
    ASSERT_TRUE(saveTo(g, saved).opened);
    const auto samples = readSamples(saved);
    ASSERT_EQ(samples.size(), 5512u);
    EXPECT_NEAR(frequencyOf(samples, 1500, 4500), 440.0 * std::exp2(c.cents / 1200.0), 4.0);
  }
}

}  // namespace
}  // namespace lorvanta
