#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <thread>

#include "AudioTestSupport.h"
#include "studio/audio/NullOutputDevice.h"
#include "studio/audio/PulseOutputDevice.h"

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

// Records the sink "out" of the server named by PULSE_SERVER, or of `server`.
class Recorder {
 public:
  explicit Recorder(const std::string& path, const std::string& server = {}) {
    std::string command = "exec parec" + (server.empty() ? std::string() : " --server='" + server + "'") +
                          " -d out.monitor --latency-msec=20 --format=float32le --rate=22050 --channels=1 "
                          "--raw 2>/dev/null > '" +
                          path + "'";
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

  auto owned = std::make_unique<PulseOutputDevice>();
  const PulseOutputDevice* device = owned.get();
  Graph g(std::move(owned));
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
  EXPECT_EQ(device->underflows(), 0u) << "the server ran out of sound";
  g.engine.stop();
  g.player->stop();
  std::this_thread::sleep_for(300ms);
  recorder.stop();

  const auto heard = readRaw(recording);
  size_t first = heard.size(), last = 0;
  for (size_t i = 0; i < heard.size(); ++i) {
    if (std::fabs(heard[i]) > 0.1f) {
      first = std::min(first, i);
      last = i;
    }
  }
  ASSERT_LT(first, heard.size()) << "nothing was heard in " << heard.size() << " recorded frames";
  EXPECT_NEAR(static_cast<double>(last - first), 22050, 2205);
  // The median over 50 ms windows: a dropout of the server's recording does not count.
  std::vector<double> windows;
  for (size_t at = first + 2205; at + 1102 + 2205 < last; at += 1102)
    windows.push_back(frequencyOf(heard, at, at + 1102));
  ASSERT_FALSE(windows.empty());
  const auto middle = windows.begin() + static_cast<std::ptrdiff_t>(windows.size() / 2);
  std::nth_element(windows.begin(), middle, windows.end());
  EXPECT_NEAR(windows[windows.size() / 2], 880.0, 8.8);
}

// A sound server of the test's own, with a null sink "out", on a socket of its own.
class PrivateSoundServer {
 public:
  PrivateSoundServer() : address_("unix:" + dir_.file("runtime/native")) {
    for (const char* sub : {"runtime", "home", "state"}) std::filesystem::create_directory(dir_.file(sub));
    std::filesystem::permissions(dir_.file("runtime"), std::filesystem::perms::owner_all);
  }
  ~PrivateSoundServer() { kill(); }
  const std::string& address() const { return address_; }

  bool start() {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
      if (std::string(*e).rfind("PULSE_SERVER=", 0) != 0) env.emplace_back(*e);
    }
    for (const auto& [key, sub] : {std::pair{"HOME", "home"},
                                   {"XDG_RUNTIME_DIR", "runtime"},
                                   {"XDG_CONFIG_HOME", "home"},
                                   {"PULSE_STATE_PATH", "state"},
                                   {"PULSE_RUNTIME_PATH", "runtime"}}) {
      env.push_back(std::string(key) + "=" + dir_.file(sub));
    }
    const std::vector<std::string> args = {
        "pulseaudio",
        "-n",
        "--daemonize=no",
        "--exit-idle-time=-1",
        "--use-pid-file=no",
        "--disallow-exit",
        "--disable-shm=yes",
        "--log-target=file:" + dir_.file("server.log"),
        "-L",
        "module-null-sink sink_name=out rate=48000",
        "-L",
        "module-native-protocol-unix socket=" + dir_.file("runtime/native") + " auth-anonymous=1"};
    std::vector<char*> argv, envp;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
    const int spawned = posix_spawnp(&pid_, "pulseaudio", &quiet, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&quiet);
    if (spawned != 0) {
      pid_ = -1;
      return false;
    }
    const std::string probe = "pactl --server='" + address_ + "' info >/dev/null 2>&1";
    bool ready = false;
    for (int i = 0; i < 100 && !ready; ++i) {
      ready = std::system(probe.c_str()) == 0;
      if (!ready) std::this_thread::sleep_for(100ms);
    }
    if (!ready) return false;
    // An idle null sink renders in blocks of up to two seconds, which holds back a new
    // stream's start; a low-latency listener keeps it ticking once a short stream has played.
    keeper_ = std::make_unique<Recorder>("/dev/null", address_);
    const std::string settle =
        "head -c 882 /dev/zero | pacat --server='" + address_ +
        "' --raw --format=s16le --rate=22050 --channels=1 --latency-msec=20 >/dev/null 2>&1";
    return std::system(settle.c_str()) == 0;
  }

  void signal(int number) {
    if (pid_ > 0) ::kill(pid_, number);
  }

  void kill() {
    keeper_.reset();
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
  }

 private:
  TempDir dir_;
  std::string address_;
  pid_t pid_ = -1;
  std::unique_ptr<Recorder> keeper_;
};

// Points the default output device at `server` for the scope.
class ServerAddress {
 public:
  explicit ServerAddress(const std::string& server) {
    if (const char* old = std::getenv("PULSE_SERVER")) saved_ = old;
    setenv("PULSE_SERVER", server.c_str(), 1);
  }
  ~ServerAddress() { setenv("PULSE_SERVER", saved_.c_str(), 1); }

 private:
  std::string saved_;
};

TEST(LiveSound, StartSucceedsOnceTheSoundServerHasComeUp) {
  if (!soundServerPresent()) GTEST_SKIP() << "no sound server";
  PrivateSoundServer server;
  ServerAddress address(server.address());
  TempDir dir;
  const std::string path = dir.file("speech.aiff");
  writeSamples(path, tone(11025, 440.0));  // 0.5 s
  Graph g(makeDefaultOutputDevice());
  g.setUp(AudioFile::openForReading(path), 0.0f);

  AudioError error;
  EXPECT_FALSE(g.engine.startAndReturnError(&error));
  EXPECT_EQ(error.message, "no sound server is running (Connection refused)");
  EXPECT_FALSE(g.engine.isRunning());

  ASSERT_TRUE(server.start());
  const std::string recording = dir.file("out.raw");
  Recorder recorder(recording, server.address());
  std::this_thread::sleep_for(300ms);
  Completion completion;
  ASSERT_TRUE(g.engine.startAndReturnError(&error)) << error.message;
  g.player->play();
  g.player->scheduleFile(g.file, AudioPlayerNodeCompletionCallbackType::DataPlayedBack, completion.handler());
  EXPECT_TRUE(completion.waitFor(5s));
  g.engine.stop();
  g.player->stop();
  std::this_thread::sleep_for(300ms);
  recorder.stop();
  const auto heard = readRaw(recording);
  const auto loud = std::count_if(heard.begin(), heard.end(), [](float s) { return std::fabs(s) > 0.1f; });
  EXPECT_GT(loud, 11025 / 2) << "recorded " << heard.size() << " frames";
}

// A server that goes away (killed) or stops answering (frozen) in the middle of a file: the
// engine tells its failure handler, on its notification thread, once (a frozen server after
// about three seconds without an answer); the file's completion never fires; the engine
// counts as running until stopped; stopping and the next start return.
TEST(LiveSound, ServerLostDuringPlaybackIsToldOnceAndTheFileNeverCompletes) {
  if (!soundServerPresent()) GTEST_SKIP() << "no sound server";
  for (const int lost : {SIGKILL, SIGSTOP}) {
    SCOPED_TRACE(lost == SIGKILL ? "killed" : "frozen");
    PrivateSoundServer server;
    ASSERT_TRUE(server.start());
    ServerAddress address(server.address());
    TempDir dir;
    const std::string path = dir.file("speech.aiff");
    writeSamples(path, tone(66150, 440.0));  // 3 s
    Graph g(makeDefaultOutputDevice());
    g.setUp(AudioFile::openForReading(path), 0.0f);
    std::mutex mutex;
    std::condition_variable told;
    int failures = 0;
    AudioError failure;
    Clock::time_point failedAt;
    std::thread::id failureThread;
    g.engine.setDeviceFailureHandler([&](const AudioError& error) {
      std::lock_guard lock(mutex);
      ++failures;
      failure = error;
      failedAt = Clock::now();
      failureThread = std::this_thread::get_id();
      told.notify_all();
    });
    Completion completion;
    AudioError error;
    ASSERT_TRUE(g.engine.startAndReturnError(&error)) << error.message;
    g.player->play();
    g.player->scheduleFile(g.file, AudioPlayerNodeCompletionCallbackType::DataPlayedBack,
                           completion.handler());
    std::this_thread::sleep_for(1s);
    const auto killed = Clock::now();
    server.signal(lost);
    {
      std::unique_lock lock(mutex);
      ASSERT_TRUE(told.wait_for(lock, 8s, [&] { return failures > 0; }));
      EXPECT_LT(failedAt - killed, lost == SIGKILL ? 2s : 5s);
      EXPECT_FALSE(failure.message.empty());
      EXPECT_NE(failureThread, std::this_thread::get_id());
    }
    EXPECT_FALSE(completion.waitFor(3s)) << "the file would have ended 2 s after the loss";
    EXPECT_TRUE(g.engine.isRunning());
    g.engine.stop();
    g.player->stop();
    EXPECT_FALSE(g.engine.isRunning());
    {
      std::lock_guard lock(mutex);
      EXPECT_EQ(failures, 1);
    }
    EXPECT_FALSE(g.engine.startAndReturnError(&error)) << "the server is gone";
    EXPECT_FALSE(error.message.empty());
  }
}

// A sink suspended for 2 s in the middle of a file pauses the stream: no failure, the file
// goes on where it was once the sink resumes, and it completes after that, whole.
TEST(LiveSound, SuspendedSinkPausesPlaybackWithoutFailure) {
  if (!soundServerPresent()) GTEST_SKIP() << "no sound server";
  PrivateSoundServer server;
  ASSERT_TRUE(server.start());
  ServerAddress address(server.address());
  TempDir dir;
  const std::string path = dir.file("speech.aiff");
  writeSamples(path, tone(44100, 440.0));  // 2 s
  const std::string recording = dir.file("out.raw");
  Recorder recorder(recording, server.address());
  std::this_thread::sleep_for(300ms);
  Graph g(makeDefaultOutputDevice());
  g.setUp(AudioFile::openForReading(path), 0.0f);
  std::atomic<int> failures{0};
  g.engine.setDeviceFailureHandler([&](const AudioError&) { failures.fetch_add(1); });
  Completion completion;
  AudioError error;
  ASSERT_TRUE(g.engine.startAndReturnError(&error)) << error.message;
  g.player->play();
  g.player->scheduleFile(g.file, AudioPlayerNodeCompletionCallbackType::DataPlayedBack, completion.handler());
  std::this_thread::sleep_for(700ms);
  const std::string suspend = "pactl --server='" + server.address() + "' suspend-sink out ";
  ASSERT_EQ(std::system((suspend + "1").c_str()), 0);
  std::this_thread::sleep_for(2s);
  const auto resumed = Clock::now();
  ASSERT_EQ(std::system((suspend + "0").c_str()), 0);
  ASSERT_TRUE(completion.waitFor(6s));
  {
    std::lock_guard lock(completion.mutex);
    // About 1.3 s of the file were left when the sink was suspended.
    EXPECT_GE(completion.at - resumed, 1s);
  }
  EXPECT_EQ(failures.load(), 0);
  EXPECT_TRUE(g.engine.isRunning());
  g.engine.stop();
  g.player->stop();
  std::this_thread::sleep_for(300ms);
  recorder.stop();

  // The monitor pauses with the sink: the whole tone is in the recording, without a gap.
  const auto heard = readRaw(recording);
  size_t first = heard.size(), last = 0, loud = 0;
  for (size_t i = 0; i < heard.size(); ++i) {
    if (std::fabs(heard[i]) > 0.1f) {
      first = std::min(first, i);
      last = i;
      ++loud;
    }
  }
  ASSERT_LT(first, heard.size()) << "nothing was heard in " << heard.size() << " recorded frames";
  EXPECT_NEAR(static_cast<double>(last - first), 44100, 2205);
  // A sine of amplitude 0.5 is above 0.1 in 87 % of its samples.
  EXPECT_GT(loud, 0.8 * 44100) << "part of the tone is missing";
}

}  // namespace
}  // namespace lorvanta
