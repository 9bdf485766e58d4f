#include "studio/speech/EspeakSpeechSynthesizer.h"

#include <espeak-ng/speak_lib.h>
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <stop_token>
#include <thread>

#include "studio/audio/SoundFileWriter.h"
#include "studio/speech/VoiceCatalog.h"

namespace lorvanta {

namespace {

using speech::VoiceInfo;

int onSamples(short* samples, int count, espeak_EVENT* events);

std::string trimmed(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return std::string(text.substr(first, text.find_last_not_of(" \t") - first + 1));
}

// The locale of the voice's first language: "gmw/en-US" -> "en_US".
std::string localeIdentifier(const VoiceInfo& voice) {
  return voice.languages.empty() ? std::string{}
                                 : speech::localeIdentifierForLanguage(voice.languages.front().second);
}

// espeak-ng is one global instance. It is initialised once per process; after that only the
// worker thread calls into it, so the voice list is read here and kept.
struct EspeakLibrary {
  int sampleRate = 0;             // 0 when espeak-ng could not start
  std::vector<VoiceInfo> voices;  // sorted by identifier
  // The identifiers as the user sees them listed: by locale identifier, then identifier.
  std::vector<VoiceName> listed;

  static const EspeakLibrary& instance() {
    static const EspeakLibrary library;
    return library;
  }

  const VoiceInfo* find(const VoiceName& identifier) const {
    const auto it =
        std::lower_bound(voices.begin(), voices.end(), identifier,
                         [](const VoiceInfo& v, const VoiceName& id) { return v.identifier < id; });
    return it != voices.end() && it->identifier == identifier ? &*it : nullptr;
  }

 private:
  EspeakLibrary() {
    const int rate = espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, 100, nullptr, espeakINITIALIZE_DONT_EXIT);
    if (rate <= 0) return;
    sampleRate = rate;
    espeak_SetSynthCallback(onSamples);
    const espeak_VOICE** list = espeak_ListVoices(nullptr);
    for (size_t i = 0; list != nullptr && list[i] != nullptr; ++i) {
      const espeak_VOICE& voice = *list[i];
      if (voice.identifier == nullptr || *voice.identifier == '\0') continue;
      VoiceInfo info;
      info.identifier = voice.identifier;
      info.name = trimmed(voice.name != nullptr ? voice.name : "");
      if (info.name.empty()) info.name = info.identifier;
      // A sequence of (priority byte, NUL-terminated language), ended by a zero byte.
      for (const char* p = voice.languages; p != nullptr && *p != '\0';) {
        const int priority = static_cast<unsigned char>(*p++);
        info.languages.emplace_back(priority, p);
        p += std::strlen(p) + 1;
      }
      voices.push_back(std::move(info));
    }
    std::sort(voices.begin(), voices.end(),
              [](const VoiceInfo& a, const VoiceInfo& b) { return a.identifier < b.identifier; });
    voices.erase(
        std::unique(voices.begin(), voices.end(),
                    [](const VoiceInfo& a, const VoiceInfo& b) { return a.identifier == b.identifier; }),
        voices.end());

    std::vector<std::pair<std::string, VoiceName>> byLocale;
    byLocale.reserve(voices.size());
    for (const VoiceInfo& voice : voices) byLocale.emplace_back(localeIdentifier(voice), voice.identifier);
    std::sort(byLocale.begin(), byLocale.end());
    for (auto& entry : byLocale) listed.push_back(std::move(entry.second));
  }
};

int clampRate(float wordsPerMinute) {
  const float clamped = std::clamp(wordsPerMinute, float{espeakRATE_MINIMUM}, float{espeakRATE_MAXIMUM});
  return static_cast<int>(std::lround(clamped));
}

// espeak-ng reads a C string: a NUL would end the text. Control characters other than tab
// and line breaks become blanks; vertical tab and form feed become line breaks. UTF-8 puts
// no byte below 0x20 inside a multi-byte character, so bytes can be replaced one by one.
std::string speakableText(std::string text) {
  for (char& c : text) {
    if (c == '\t' || c == '\n' || c == '\r') continue;
    if (c == '\v' || c == '\f') {
      c = '\n';
    } else if (static_cast<unsigned char>(c) < 0x20) {
      c = ' ';
    }
  }
  return text;
}

constexpr const char* kTooLong = "the text is too long to be spoken in one piece";

// State one synthesizer shares with the jobs it has queued; outlives the synthesizer while
// the worker still holds a job of it.
struct SynthesizerSession {
  explicit SynthesizerSession(MainQueuePoster poster) : post(std::move(poster)) {}

  const MainQueuePoster post;
  // Bumped by every start; a job whose number is behind is superseded.
  std::atomic<std::uint64_t> generation{0};

  // Held while the worker posts, so that once the synthesizer is gone nothing is posted.
  std::mutex postMutex;
  std::atomic<bool> alive{true};

  // Main thread only.
  SpeechSynthesizer* owner = nullptr;
  SpeechSynthesizerDelegate* delegate = nullptr;
  std::string lastFailure;
};

struct Job {
  std::shared_ptr<SynthesizerSession> session;
  std::uint64_t generation = 0;
  std::string text;
  std::string path;
  VoiceName voice;
  int rate = espeakRATE_NORMAL;
  int64_t maximumFrames = 0;

  bool superseded() const { return session->generation.load(std::memory_order_acquire) != generation; }
};

// Runs `deliver` on the main thread unless the synthesizer is gone or a newer start has
// superseded the job by then.
void postForJob(const Job& job, std::function<void(SynthesizerSession&)> deliver) {
  const std::shared_ptr<SynthesizerSession>& session = job.session;
  std::lock_guard lock(session->postMutex);
  if (!session->alive || !session->post) return;
  session->post([session, generation = job.generation, deliver = std::move(deliver)] {
    if (!session->alive) return;
    if (session->generation.load(std::memory_order_acquire) != generation) return;
    deliver(*session);
  });
}

// Characters, not bytes: espeak-ng counts its text positions in characters.
size_t characterCount(const std::string& utf8) {
  return static_cast<size_t>(std::count_if(
      utf8.begin(), utf8.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

// The smallest step of the spoken fraction that is reported.
constexpr double kProgressStep = 0.01;

// What the synth callback writes into; espeak-ng hands it back as each event's user data.
// Worker thread only.
struct Output {
  const Job* job = nullptr;
  std::stop_token stop;  // the worker's: set when the last synthesizer is gone
  SoundFileWriter writer;
  int64_t frames = 0;
  std::string failure;
  size_t characters = 0;  // of the text as espeak-ng reads it
  double reported = 0.0;  // the fraction last reported

  // espeak-ng's events tell where in the text the samples of this call belong.
  void noteEvents(const espeak_EVENT* events) {
    if (events == nullptr || characters == 0) return;
    for (; events->type != espeakEVENT_LIST_TERMINATED; ++events) {
      if (events->type != espeakEVENT_WORD && events->type != espeakEVENT_SENTENCE) continue;
      // Positions count from 1.
      const double fraction = std::min(
          1.0, static_cast<double>(std::max(events->text_position - 1, 0)) / static_cast<double>(characters));
      if (fraction < reported + kProgressStep) continue;
      reported = fraction;
      postForJob(*job, [fraction](SynthesizerSession& session) {
        if (session.delegate != nullptr)
          session.delegate->speechSynthesizerDidProgress(*session.owner, fraction);
      });
    }
  }
};

int onSamples(short* samples, int count, espeak_EVENT* events) {
  // The list always holds at least its terminating event, which carries the user data too.
  Output* out = events != nullptr ? static_cast<Output*>(events->user_data) : nullptr;
  if (out == nullptr) return 1;
  if (out->job->superseded() || out->stop.stop_requested()) return 1;
  out->noteEvents(events);
  if (samples != nullptr && count > 0) {
    if (out->frames + count > out->job->maximumFrames) {
      out->failure = kTooLong;
      return 1;
    }
    if (out->writer.write(samples, count, out->failure) != count) return 1;
    out->frames += count;
  }
  return 0;
}

// espeak-ng is one global instance: one thread at a time may call it. A worker that is
// still ending its last synthesis can overlap with the next worker.
std::mutex& espeakMutex() {
  static std::mutex mutex;
  return mutex;
}

// The one thread that runs syntheses, one at a time. Every synthesizer holds it; when the
// last one lets go, the thread is stopped and joined.
class Worker {
 public:
  static std::shared_ptr<Worker> shared() {
    static std::mutex mutex;
    static std::weak_ptr<Worker> current;
    std::lock_guard lock(mutex);
    std::shared_ptr<Worker> worker = current.lock();
    if (!worker) {
      worker = std::make_shared<Worker>();
      current = worker;
    }
    return worker;
  }

  Worker() : thread_([this](std::stop_token stop) { run(stop); }) {}

  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;

  void enqueue(Job job) {
    {
      std::lock_guard lock(mutex_);
      // A queued job of the same synthesizer is superseded before it ever starts.
      std::erase_if(queue_, [&](const Job& queued) { return queued.session == job.session; });
      queue_.push_back(std::move(job));
    }
    wake_.notify_one();
  }

 private:
  void run(std::stop_token stop) {
    for (;;) {
      Job job;
      {
        std::unique_lock lock(mutex_);
        wake_.wait(lock, stop, [&] { return !queue_.empty(); });
        if (stop.stop_requested()) return;
        job = std::move(queue_.front());
        queue_.pop_front();
      }
      if (job.superseded()) continue;
      const std::string failure = synthesize(job, stop);
      if (job.superseded() || stop.stop_requested()) continue;
      report(job, failure);
    }
  }

  // Writes the whole text into a closed AIFF file; the reason when that failed. A failed or
  // superseded synthesis removes what it wrote.
  static std::string synthesize(const Job& job, const std::stop_token& stop) {
    const EspeakLibrary& library = EspeakLibrary::instance();
    if (library.sampleRate <= 0) return "the speech engine could not be started";

    Output out;
    out.job = &job;
    out.stop = stop;
    if (std::string failure =
            out.writer.open(job.path, SF_FORMAT_AIFF | SF_FORMAT_PCM_16, library.sampleRate, 1);
        !failure.empty())
      return failure;

    std::string failure;
    std::unique_lock espeak(espeakMutex());
    if (!job.voice.empty() && espeak_SetVoiceByName(job.voice.c_str()) != EE_OK) {
      failure = "the voice " + job.voice + " could not be loaded";
    } else if (espeak_SetParameter(espeakRATE, job.rate, 0) != EE_OK) {
      failure = "the speaking rate could not be set";
    } else {
      // Plain text: no markup flags, so "<speak>" is read like any other word.
      const std::string text = speakableText(job.text);
      out.characters = characterCount(text);
      const espeak_ERROR result =
          espeak_Synth(text.c_str(), text.size() + 1, 0, POS_CHARACTER, 0, espeakCHARS_UTF8, nullptr, &out);
      if (!out.failure.empty()) {
        failure = out.failure;
      } else if (result != EE_OK) {
        failure = "the speech engine failed";
      }
    }
    espeak.unlock();
    const std::string closeFailure = out.writer.close(false);
    if (failure.empty()) failure = closeFailure;
    // Superseded or stopped: cut off halfway, and nobody will read it.
    if (!failure.empty() || job.superseded() || stop.stop_requested()) ::unlink(job.path.c_str());
    return failure;
  }

  static void report(const Job& job, const std::string& failure) {
    postForJob(job, [failure](SynthesizerSession& session) {
      session.lastFailure = failure;
      if (session.delegate != nullptr)
        session.delegate->speechSynthesizerDidFinishSpeaking(*session.owner, failure.empty());
    });
  }

  std::mutex mutex_;
  std::condition_variable_any wake_;
  std::deque<Job> queue_;
  // Last: stopped and joined before the queue it reads is gone.
  std::jthread thread_;
};

}  // namespace

struct EspeakSpeechSynthesizer::Impl {
  const EspeakLibrary& library = EspeakLibrary::instance();
  std::shared_ptr<SynthesizerSession> session;
  std::shared_ptr<Worker> worker;
  VoiceName voice;
  int rate = espeakRATE_NORMAL;
  int64_t maximumFrames = 0;
};

EspeakSpeechSynthesizer::EspeakSpeechSynthesizer(MainQueuePoster postToMain, int64_t maximumFrameCount)
    : impl_(std::make_unique<Impl>()) {
  impl_->maximumFrames = maximumFrameCount;
  impl_->session = std::make_shared<SynthesizerSession>(std::move(postToMain));
  impl_->session->owner = this;
  impl_->voice = defaultVoice();
  impl_->worker = Worker::shared();
}

EspeakSpeechSynthesizer::~EspeakSpeechSynthesizer() {
  SynthesizerSession& session = *impl_->session;
  session.generation.fetch_add(1, std::memory_order_acq_rel);  // stops a running synthesis
  {
    std::lock_guard lock(session.postMutex);
    session.alive.store(false);
  }
}

std::vector<VoiceName> EspeakSpeechSynthesizer::availableVoices() const { return impl_->library.listed; }

VoiceName EspeakSpeechSynthesizer::defaultVoice() const {
  return speech::chooseVoiceForLocale(impl_->library.voices, speech::userLocaleFromEnvironment());
}

VoiceAttributes EspeakSpeechSynthesizer::attributesForVoice(const VoiceName& voice) const {
  VoiceAttributes attributes;
  const VoiceInfo* info = impl_->library.find(voice);
  if (info == nullptr || info->languages.empty()) return attributes;
  attributes[kVoiceLocaleIdentifier] = localeIdentifier(*info);
  // Our sample sentence where we have one, else the voice's own name ("Kannada").
  auto demo = speech::demoTextForLanguage(info->languages.front().second);
  attributes[kVoiceDemoText] = demo ? std::move(*demo) : info->name;
  return attributes;
}

void EspeakSpeechSynthesizer::setDelegate(SpeechSynthesizerDelegate* delegate) {
  impl_->session->delegate = delegate;
}

SpeechSynthesizerDelegate* EspeakSpeechSynthesizer::delegate() const { return impl_->session->delegate; }

bool EspeakSpeechSynthesizer::setVoice(const VoiceName& voice) {
  if (impl_->library.find(voice) == nullptr) return false;
  impl_->voice = voice;
  return true;
}

void EspeakSpeechSynthesizer::setRate(float wordsPerMinute) {
  if (std::isnan(wordsPerMinute)) return;
  impl_->rate = clampRate(wordsPerMinute);
}

bool EspeakSpeechSynthesizer::startSpeakingStringToURL(const std::string& text, const std::string& path) {
  Job job;
  job.session = impl_->session;
  job.generation = impl_->session->generation.fetch_add(1, std::memory_order_acq_rel) + 1;
  job.text = text;
  job.path = path;
  job.voice = impl_->voice;
  job.rate = impl_->rate;
  job.maximumFrames = impl_->maximumFrames;
  impl_->worker->enqueue(std::move(job));
  return impl_->library.sampleRate > 0;
}

std::string EspeakSpeechSynthesizer::lastFailureReason() const { return impl_->session->lastFailure; }

}  // namespace lorvanta
