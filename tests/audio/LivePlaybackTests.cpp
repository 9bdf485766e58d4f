#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "AudioTestSupport.h"
#include "studio/audio/NullOutputDevice.h"

extern char** environ;

namespace lorvanta {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testing_audio::frequencyOf;
using testing_audio::Graph;
using testing_audio::TempDir;
using testing_audio::tone;
using testing_audio::writeSamples;

// Collects the completion: when it came, on which thread, with which type.
struct Completion {
  std::mutex mutex;
  std::condition_variable arrived;
  int calls = 0;
  Clock::time_point at;
  std::thread::id thread;
  AudioPlayerNodeCompletionCallbackType type{};

  AudioPlayerNode::CompletionHandler handler() {
    return [this](AudioPlayerNodeCompletionCallbackType t) {
      std::lock_guard lock(mutex);
      ++calls;
      at = Clock::now();
      thread = std::this_thread::get_id();
      type = t;
      arrived.notify_all();
    };
  }
  bool waitFor(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex);
    return arrived.wait_for(lock, timeout, [this] { return calls > 0; });
  }
};

struct DeviceThread {
  std::mutex mutex;
  std::thread::id id;
  NullOutputDevice::Tap tap() {
    return [this](const float* const*, uint32_t, uint32_t) {
      std::lock_guard lock(mutex);
      id = std::this_thread::get_id();
    };
  }
  std::thread::id get() {
    std::lock_guard lock(mutex);
    return id;
  }
};

// The completion waits for the device's latency too: the last frame is heard that much
// after it was handed over.
TEST(NullDevicePlayback, PlayedBackCompletionComesAfterTheFileOnTheNotificationThread) {
  for (const auto latency : {0ms, 1000ms}) {
    TempDir dir;
    const std::string path = dir.file("speech.aiff");
    writeSamples(path, tone(11025, 440.0));  // 0.5 s
    DeviceThread device;
    Graph g(std::make_unique<NullOutputDevice>(
        NullOutputDevice::Options{.latency = std::chrono::duration<double>(latency).count()}, device.tap()));
    g.setUp(AudioFile::openForReading(path), 300.0f);
    Completion completion;
    ASSERT_TRUE(g.engine.startAndReturnError());
    const auto played = Clock::now();
    g.player->play();
    g.player->scheduleFile(g.file, AudioPlayerNodeCompletionCallbackType::DataPlayedBack,
                           completion.handler());
    ASSERT_TRUE(completion.waitFor(5s));
    std::this_thread::sleep_for(100ms);
    {
      std::lock_guard lock(completion.mutex);
      EXPECT_EQ(completion.calls, 1);
      EXPECT_EQ(completion.type, AudioPlayerNodeCompletionCallbackType::DataPlayedBack);
      EXPECT_GE(completion.at - played, 500ms + latency);
      EXPECT_LT(completion.at - played, 1200ms + latency);
      EXPECT_NE(completion.thread, std::this_thread::get_id());
      EXPECT_NE(completion.thread, device.get());
    }
    g.engine.stop();
    g.player->stop();
  }
}

TEST(NullDevicePlayback, StopDropsWhatIsScheduledAndItsCompletion) {
  TempDir dir;
  const std::string path = dir.file("speech.aiff");
  writeSamples(path, tone(22050, 440.0));
  std::atomic<uint64_t> loud{0};
  Graph g(std::make_unique<NullOutputDevice>(NullOutputDevice::Options{},
                                             [&](const float* const* c, uint32_t, uint32_t n) {
                                               for (uint32_t i = 0; i < n; ++i) {
                                                 if (std::fabs(c[0][i]) > 0.01f) loud.fetch_add(1);
                                               }
                                             }));
  g.setUp(AudioFile::openForReading(path), 0.0f);
  Completion completion;
  ASSERT_TRUE(g.engine.startAndReturnError());
  g.player->play();
  g.player->scheduleFile(g.file, AudioPlayerNodeCompletionCallbackType::DataPlayedBack, completion.handler());
  std::this_thread::sleep_for(200ms);
  g.player->stop();
  EXPECT_FALSE(g.player->isPlaying());
  std::this_thread::sleep_for(50ms);
  const uint64_t afterStop = loud.load();
  EXPECT_GT(afterStop, 0u);
  g.player->play();  // nothing is left to play
  EXPECT_FALSE(completion.waitFor(1200ms));
  EXPECT_EQ(loud.load(), afterStop);
  g.engine.stop();
}

TEST(NullDevicePlayback, StartFailsWithAnErrorWithoutAnOutputDevice) {
  for (bool withDevice : {true, false}) {
    Graph g(withDevice ? std::make_unique<NullOutputDevice>(NullOutputDevice::Options{.failToStart = true})
                       : std::unique_ptr<AudioOutputDevice>());
    AudioError error;
    EXPECT_FALSE(g.engine.startAndReturnError(&error)) << "nothing connected";
    g.engine.attachNode(g.player);
    g.engine.connect(g.player, g.engine.outputNode(), AudioFormat{22050, 1});
    error = {};
    EXPECT_FALSE(g.engine.startAndReturnError(&error));
    EXPECT_FALSE(error.message.empty());
    EXPECT_FALSE(g.engine.isRunning());
    g.engine.stop();
  }
}

// ---- Through the sound server: what the device played is recorded from the null sink.

bool soundServerPresent() {
  if (std::getenv("PULSE_SERVER")) return true;
  if (const char* require = std::getenv("LORVANTA_REQUIRE_SOUND"); require && std::string(require) == "1") {
    ADD_FAILURE() << "PULSE_SERVER is not set: run the live tests inside scripts/with-sound-server.sh";
  }
  return false;
}

class Recorder {
 public:
  explicit Recorder(const std::string& path) {
    std::string command =
        "exec parec -d out.monitor --format=float32le --rate=22050 --channels=1 --raw > '" + path + "'";
    const char* argv[] = {"sh", "-c", command.c_str(), nullptr};
    if (posix_spawnp(&pid_, "sh", nullptr, nullptr, const_cast<char**>(argv), environ) != 0) pid_ = -1;
  }
  ~Recorder() { stop(); }
  void stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
};

std::vector<float> readRaw(const std::string& path) {
  std::vector<float> samples;
  if (FILE* file = std::fopen(path.c_str(), "rb")) {
    float chunk[4096];
    size_t got;
    while ((got = std::fread(chunk, sizeof(float), 4096, file)) > 0)
      samples.insert(samples.end(), chunk, chunk + got);
    std::fclose(file);
  }
  return samples;
}

TEST(LiveSound, ToneIsHeardAtThePitchSetAndCompletesAfterItsDuration) {
  if (!soundServerPresent()) GTEST_SKIP() << "no sound server";
  TempDir dir;
  const std::string path = dir.file("speech.aiff");
  writeSamples(path, tone(22050, 440.0));  // 1 s
  const std::string recording = dir.file("out.raw");
  Recorder recorder(recording);
  std::this_thread::sleep_for(300ms);

  Graph g(makeDefaultOutputDevice());
  g.setUp(AudioFile::openForReading(path), 1200.0f);
  Completion completion;
  AudioError error;
  ASSERT_TRUE(g.engine.startAndReturnError(&error)) << error.message;
  const auto played = Clock::now();
  g.player->play();
  g.player->scheduleFile(g.file, AudioPlayerNodeCompletionCallbackType::DataPlayedBack, completion.handler());
  ASSERT_TRUE(completion.waitFor(5s));
  {
    std::lock_guard lock(completion.mutex);
    EXPECT_GE(completion.at - played, 1000ms);
    EXPECT_LT(completion.at - played, 4000ms);
  }
  g.engine.stop();
  g.player->stop();
  std::this_thread::sleep_for(300ms);
  recorder.stop();

  const auto heard = readRaw(recording);
  long first = -1, last = -1;
  for (size_t i = 0; i < heard.size(); ++i) {
    if (std::fabs(heard[i]) > 0.1f) {
      if (first < 0) first = static_cast<long>(i);
      last = static_cast<long>(i);
    }
  }
  ASSERT_GE(first, 0) << "nothing was heard in " << heard.size() << " recorded frames";
  EXPECT_NEAR(last - first, 22050, 2205);
  // The median over 50 ms windows: a dropout of the server's recording does not count.
  std::vector<double> windows;
  for (long at = first + 2205; at + 1102 < last - 2205; at += 1102)
    windows.push_back(frequencyOf(heard, at, at + 1102));
  ASSERT_FALSE(windows.empty());
  std::nth_element(windows.begin(), windows.begin() + windows.size() / 2, windows.end());
  EXPECT_NEAR(windows[windows.size() / 2], 880.0, 8.8);
}

TEST(LiveSound, StartFailsWithAnErrorWhenTheServerIsUnreachable) {
  if (!soundServerPresent()) GTEST_SKIP() << "no sound server";
  const std::string saved = std::getenv("PULSE_SERVER");
  setenv("PULSE_SERVER", "unix:/nonexistent/lorvanta-sound", 1);
  {
    Graph g(makeDefaultOutputDevice());
    g.engine.attachNode(g.player);
    g.engine.connect(g.player, g.engine.outputNode(), AudioFormat{22050, 1});
    AudioError error;
    EXPECT_FALSE(g.engine.startAndReturnError(&error));
    EXPECT_FALSE(error.message.empty());
    EXPECT_FALSE(g.engine.isRunning());
  }
  setenv("PULSE_SERVER", saved.c_str(), 1);
}

}  // namespace
}  // namespace lorvanta
