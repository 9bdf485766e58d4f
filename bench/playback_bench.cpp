// Live playback on the sound server's default sink (run it inside scripts/with-sound-server.sh).
//
// Usage: playback_bench wakeups [SECONDS]
//   Plays a tone and counts the voluntary context switches of each of the process's threads
//   over SECONDS (10) of steady playback; prints them per second, the sound server client's
//   own thread ("threaded-ml") apart from the rest.
// Usage: playback_bench latency [TRIALS]
//   Plays a tone, switches its pitch between 0 and +1200 cents TRIALS (20) times, records the
//   sink's monitor and prints how long after each switch the new pitch was heard.

#include <fcntl.h>
#include <signal.h>
#include <sndfile.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "studio/audio/AudioEngine.h"
#include "studio/audio/AudioFile.h"
#include "studio/audio/AudioPlayerNode.h"
#include "studio/audio/AudioUnitTimePitch.h"

extern char** environ;

namespace {

using namespace lorvanta;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kRate = 22050;

std::string writeTone(const std::string& dir, double seconds) {
  const std::string path = dir + "/tone.aiff";
  SF_INFO info{};
  info.samplerate = kRate;
  info.channels = 1;
  info.format = SF_FORMAT_AIFF | SF_FORMAT_PCM_16;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  if (!file) std::exit(1);
  std::vector<float> block(kRate);
  for (int64_t at = 0, total = static_cast<int64_t>(seconds * kRate); at < total; at += kRate) {
    for (size_t i = 0; i < block.size(); ++i)
      block[i] = static_cast<float>(0.5 * std::sin(2.0 * M_PI * 440.0 * (double(at) + double(i)) / kRate));
    sf_writef_float(file, block.data(), kRate);
  }
  sf_close(file);
  return path;
}

struct Playback {
  explicit Playback(const std::string& path) {
    file = AudioFile::openForReading(path);
    engine.attachNode(player);
    engine.attachNode(unit);
    engine.connect(player, unit, file->processingFormat());
    engine.connect(unit, engine.outputNode(), file->processingFormat());
  }
  bool start() {
    AudioError error;
    if (!engine.startAndReturnError(&error)) {
      std::fprintf(stderr, "start failed: %s\n", error.message.c_str());
      return false;
    }
    player->play();
    player->scheduleFile(file, AudioPlayerNodeCompletionCallbackType::DataPlayedBack, [](auto) {});
    return true;
  }
  ~Playback() {
    engine.stop();
    player->stop();
  }
  AudioEngine engine;
  std::shared_ptr<AudioPlayerNode> player = std::make_shared<AudioPlayerNode>();
  std::shared_ptr<AudioUnitTimePitch> unit = std::make_shared<AudioUnitTimePitch>();
  std::shared_ptr<AudioFile> file;
};

struct ThreadCount {
  std::string name;
  long switches = 0;
};

std::map<std::string, ThreadCount> threadSwitches() {
  std::map<std::string, ThreadCount> counts;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    ThreadCount count;
    std::ifstream comm(task.path() / "comm");
    std::getline(comm, count.name);
    std::ifstream status(task.path() / "status");
    for (std::string line; std::getline(status, line);) {
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0) count.switches = std::stol(line.substr(24));
    }
    counts[task.path().filename().string()] = count;
  }
  return counts;
}

int wakeups(double seconds) {
  const std::string dir = std::filesystem::temp_directory_path() / "lorvanta-playback-bench";
  std::filesystem::create_directories(dir);
  Playback playback(writeTone(dir, seconds + 5.0));
  if (!playback.start()) return 1;
  std::this_thread::sleep_for(1s);
  const auto before = threadSwitches();
  const auto from = Clock::now();
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  const auto after = threadSwitches();
  const double elapsed = std::chrono::duration<double>(Clock::now() - from).count();
  double server = 0.0, ours = 0.0;
  for (const auto& [tid, count] : after) {
    const auto it = before.find(tid);
    const long start = it == before.end() ? 0 : it->second.switches;
    const double rate = static_cast<double>(count.switches - start) / elapsed;
    std::printf("thread %s %-16s %8.1f /s\n", tid.c_str(), count.name.c_str(), rate);
    (count.name == "threaded-ml" ? server : ours) += rate;
  }
  std::printf("wakeups_per_s sound_server_thread=%.1f others=%.1f\n", server, ours);
  std::filesystem::remove_all(dir);
  return 0;
}

// Records the sink's monitor through parec and notes when each chunk arrived.
class MonitorRecorder {
 public:
  MonitorRecorder() {
    int fds[2];
    if (pipe(fds) != 0) std::exit(1);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    const std::string rate = "--rate=" + std::to_string(kRate);
    const char* argv[] = {
        "parec",        "-d",    "out.monitor", "--latency-msec=5", "--format=float32le", rate.c_str(),
        "--channels=1", "--raw", nullptr};
    if (posix_spawnp(&pid_, "parec", &actions, nullptr, const_cast<char**>(argv), environ) != 0) std::exit(1);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    fd_ = fds[0];
    reader_ = std::thread([this] { read(); });
  }
  ~MonitorRecorder() {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    reader_.join();
    close(fd_);
  }
  // Samples so far and the time each chunk ended.
  void snapshot(std::vector<float>& samples, std::vector<std::pair<size_t, Clock::time_point>>& chunks) {
    std::lock_guard lock(mutex_);
    samples = samples_;
    chunks = chunks_;
  }

 private:
  void read() {
    std::vector<char> buffer(65536);
    std::vector<char> partial;
    for (;;) {
      const ssize_t got = ::read(fd_, buffer.data(), buffer.size());
      if (got <= 0) return;
      const auto now = Clock::now();
      partial.insert(partial.end(), buffer.begin(), buffer.begin() + got);
      const size_t whole = partial.size() / sizeof(float);
      std::lock_guard lock(mutex_);
      const size_t at = samples_.size();
      samples_.resize(at + whole);
      std::memcpy(samples_.data() + at, partial.data(), whole * sizeof(float));
      partial.erase(partial.begin(), partial.begin() + static_cast<std::ptrdiff_t>(whole * sizeof(float)));
      chunks_.emplace_back(samples_.size(), now);
    }
  }

  pid_t pid_ = -1;
  int fd_ = -1;
  std::thread reader_;
  std::mutex mutex_;
  std::vector<float> samples_;
  std::vector<std::pair<size_t, Clock::time_point>> chunks_;
};

// When sample `index` was heard: its chunk's arrival, less the samples after it in the chunk.
Clock::time_point heardAt(size_t index, const std::vector<std::pair<size_t, Clock::time_point>>& chunks) {
  const auto it = std::lower_bound(chunks.begin(), chunks.end(), index + 1,
                                   [](const auto& chunk, size_t value) { return chunk.first < value; });
  if (it == chunks.end()) return chunks.back().second;
  return it->second - std::chrono::duration_cast<Clock::duration>(
                          std::chrono::duration<double>(double(it->first - index) / kRate));
}

// Upward zero crossings, interpolated.
std::vector<double> upwardCrossings(const std::vector<float>& heard) {
  std::vector<double> crossings;
  for (size_t i = 1; i < heard.size(); ++i) {
    if (heard[i - 1] < 0.0f && heard[i] >= 0.0f)
      crossings.push_back(double(i - 1) + heard[i - 1] / (heard[i - 1] - heard[i]));
  }
  return crossings;
}

int latency(int trials) {
  const std::string dir = std::filesystem::temp_directory_path() / "lorvanta-playback-bench";
  std::filesystem::create_directories(dir);
  MonitorRecorder recorder;
  std::this_thread::sleep_for(300ms);
  Playback playback(writeTone(dir, trials * 0.6 + 5.0));
  if (!playback.start()) return 1;
  std::this_thread::sleep_for(1s);
  std::mt19937 random(11);
  std::uniform_int_distribution<int> pause(300, 500);
  std::vector<std::pair<Clock::time_point, bool>> switches;
  for (int i = 0; i < trials; ++i) {
    const bool up = i % 2 == 0;
    switches.emplace_back(Clock::now(), up);
    playback.unit->setPitch(up ? 1200.0f : 0.0f);
    std::this_thread::sleep_for(std::chrono::milliseconds(pause(random)));
  }
  std::this_thread::sleep_for(300ms);
  std::vector<float> heard;
  std::vector<std::pair<size_t, Clock::time_point>> chunks;
  recorder.snapshot(heard, chunks);

  const std::vector<double> crossings = upwardCrossings(heard);
  std::vector<double> delays;
  for (const auto& [at, up] : switches) {
    // The first crossing after which three periods in a row are of the new pitch.
    const double boundary = kRate / 660.0;
    for (size_t c = 0; c + 3 < crossings.size(); ++c) {
      const auto when = heardAt(static_cast<size_t>(crossings[c]), chunks);
      if (when < at - 20ms) continue;
      bool changed = true;
      for (size_t k = c; k < c + 3; ++k) {
        const double period = crossings[k + 1] - crossings[k];
        changed = changed && (up ? period < boundary : period > boundary);
      }
      if (changed) {
        delays.push_back(std::chrono::duration<double, std::milli>(when - at).count());
        break;
      }
    }
  }
  if (delays.empty()) {
    std::fprintf(stderr, "no pitch change was heard in %zu recorded frames\n", heard.size());
    return 1;
  }
  std::sort(delays.begin(), delays.end());
  std::printf("pitch_change_heard_ms trials=%zu min=%.1f median=%.1f max=%.1f\n", delays.size(),
              delays.front(), delays[delays.size() / 2], delays.back());
  std::filesystem::remove_all(dir);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "wakeups") return wakeups(argc > 2 ? std::atof(argv[2]) : 10.0);
  if (mode == "latency") return latency(argc > 2 ? std::atoi(argv[2]) : 20);
  std::fprintf(stderr, "usage: %s wakeups [SECONDS] | latency [TRIALS]\n", argv[0]);
  return 2;
}
