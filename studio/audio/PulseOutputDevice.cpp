#include "studio/audio/PulseOutputDevice.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <string>
#include <vector>

#include "studio/audio/dsp/RenderGraph.h"

namespace lorvanta {

namespace {

// How long a start may wait for the server, in all.
constexpr pa_usec_t kConnectTimeout = 3 * PA_USEC_PER_SEC;
// Sound the server keeps buffered for the stream (its target length).
constexpr pa_usec_t kTargetLatency = 50 * PA_USEC_PER_MSEC;
// While started, the server is asked for the stream's timing this often; a question left
// without an answer for kAnswerLimit means a server that no longer answers at all. A stream
// that is not asked for sound (a suspended sink, a corked or moved stream) is no failure.
constexpr pa_usec_t kPingInterval = 500 * PA_USEC_PER_MSEC;
constexpr pa_usec_t kAnswerLimit = 3 * PA_USEC_PER_SEC;
// How far the published device clock is carried forward past its last update.
constexpr pa_usec_t kClockCarry = 100 * PA_USEC_PER_MSEC;
// Frames rendered per render call at most.
constexpr uint32_t kChunkFrames = 4096;

std::string withReason(const char* what, int pulseError) {
  return std::string(what) + " (" + pa_strerror(pulseError) + ")";
}

// The stream's clock as the main loop's thread last saw it, readable from any thread without
// the main loop's lock.
class PublishedClock {
 public:
  // Main loop thread. `running`: the clock goes on from `time` as the wall clock does.
  void publish(pa_usec_t time, bool running) {
    const uint64_t sequence = sequence_.load(std::memory_order_relaxed);
    sequence_.store(sequence + 1, std::memory_order_relaxed);
    // Release stores: a reader that sees any new field also sees the odd sequence.
    time_.store(time, std::memory_order_release);
    at_.store(pa_rtclock_now(), std::memory_order_release);
    running_.store(running, std::memory_order_release);
    sequence_.store(sequence + 2, std::memory_order_release);
  }
  // Any thread: seconds of stream time now.
  double now() const {
    pa_usec_t time = 0, at = 0;
    bool running = false;
    for (;;) {
      const uint64_t before = sequence_.load(std::memory_order_acquire);
      // Acquire loads keep the second look at the sequence after them.
      time = time_.load(std::memory_order_acquire);
      at = at_.load(std::memory_order_acquire);
      running = running_.load(std::memory_order_acquire);
      if (before % 2 == 0 && sequence_.load(std::memory_order_relaxed) == before) break;
    }
    if (running) time += std::min(pa_rtclock_now() - at, kClockCarry);
    return static_cast<double>(time) / PA_USEC_PER_SEC;
  }

 private:
  std::atomic<uint64_t> sequence_{0};
  std::atomic<pa_usec_t> time_{0};
  std::atomic<pa_usec_t> at_{0};
  std::atomic<bool> running_{false};
};

}  // namespace

// Everything but the atomics is guarded by the main loop's lock; callbacks run on the main
// loop's thread with that lock held.
struct PulseOutputDevice::Impl {
  ~Impl() {
    if (!loop) return;
    pa_threaded_mainloop_lock(loop);
    closeStream();
    dropContext();
    pa_threaded_mainloop_unlock(loop);
    pa_threaded_mainloop_stop(loop);
    pa_threaded_mainloop_free(loop);
  }

  // ---- the caller's thread, with the lock held

  bool connect(pa_usec_t deadline, AudioError* error) {
    if (context && pa_context_get_state(context) == PA_CONTEXT_READY) return true;
    dropContext();
    context = pa_context_new(pa_threaded_mainloop_get_api(loop), "Lorvanta");
    if (!context) return fail(error, "the sound server's client library could not start");
    pa_context_set_state_callback(context, &Impl::contextChanged, this);
    if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
      const int reason = pa_context_errno(context);
      dropContext();
      return fail(error, withReason("no sound server is running", reason));
    }
    const bool answered = waitUntil(deadline, [this] {
      const pa_context_state_t state = pa_context_get_state(context);
      return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
    });
    if (pa_context_get_state(context) == PA_CONTEXT_READY) return true;
    const int reason = pa_context_errno(context);
    dropContext();
    if (!answered) return fail(error, "the sound server did not answer within 3 seconds");
    return fail(error, withReason("no sound server is running", reason));
  }

  bool openStream(pa_usec_t deadline, AudioError* error) {
    const pa_sample_spec spec{PA_SAMPLE_FLOAT32NE, static_cast<uint32_t>(std::lround(format.sampleRate)),
                              static_cast<uint8_t>(format.channelCount)};
    if (!pa_sample_spec_valid(&spec)) return fail(error, "unsupported output format");
    pa_channel_map map;
    pa_channel_map_init_extend(&map, spec.channels, PA_CHANNEL_MAP_DEFAULT);
    stream = pa_stream_new(context, "Speech", &spec, &map);
    if (!stream) {
      return fail(error,
                  withReason("the sound server did not open a playback stream", pa_context_errno(context)));
    }
    frameBytes = pa_frame_size(&spec);
    pa_stream_set_state_callback(stream, &Impl::streamChanged, this);
    pa_stream_set_write_callback(stream, &Impl::writeRequested, this);
    pa_stream_set_underflow_callback(stream, &Impl::underflowed, this);
    pa_stream_set_suspended_callback(stream, &Impl::suspendedChanged, this);
    pa_buffer_attr attributes;
    attributes.maxlength = static_cast<uint32_t>(-1);
    attributes.tlength = static_cast<uint32_t>(pa_usec_to_bytes(kTargetLatency, &spec));
    attributes.prebuf = static_cast<uint32_t>(-1);
    attributes.minreq = static_cast<uint32_t>(-1);
    attributes.fragsize = static_cast<uint32_t>(-1);
    // The target length is the whole latency: the server sizes the sink's buffer to it.
    const auto flags = static_cast<pa_stream_flags_t>(
        PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_ADJUST_LATENCY);
    if (pa_stream_connect_playback(stream, nullptr, &attributes, flags, nullptr, nullptr) < 0) {
      const int reason = pa_context_errno(context);
      closeStream();
      return fail(error, withReason("the sound server did not open a playback stream", reason));
    }
    const bool answered = waitUntil(deadline, [this] {
      const pa_stream_state_t state = pa_stream_get_state(stream);
      return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
    });
    if (pa_stream_get_state(stream) == PA_STREAM_READY) {
      if (const pa_buffer_attr* granted = pa_stream_get_buffer_attr(stream)) {
        latency.store(static_cast<double>(pa_bytes_to_usec(granted->tlength, &spec)) / PA_USEC_PER_SEC,
                      std::memory_order_release);
      }
      return true;
    }
    const int reason = pa_context_errno(context);
    closeStream();
    if (!answered) return fail(error, "the sound server did not answer within 3 seconds");
    return fail(error, withReason("the sound server did not open a playback stream", reason));
  }

  // Waits on the main loop until `done` or the deadline; false on the deadline.
  template <typename Done>
  bool waitUntil(pa_usec_t deadline, Done done) {
    timedOut = false;
    pa_time_event* timer = pa_context_rttime_new(context, deadline, &Impl::timerFired, this);
    while (!done() && !timedOut) pa_threaded_mainloop_wait(loop);
    if (timer) pa_threaded_mainloop_get_api(loop)->time_free(timer);
    return done();
  }

  void closeStream() {
    started = false;
    if (pingTimer) {
      pa_threaded_mainloop_get_api(loop)->time_free(pingTimer);
      pingTimer = nullptr;
    }
    if (query) {
      pa_operation_cancel(query);
      pa_operation_unref(query);
      query = nullptr;
    }
    if (stream) {
      pa_stream_set_state_callback(stream, nullptr, nullptr);
      pa_stream_set_write_callback(stream, nullptr, nullptr);
      pa_stream_set_underflow_callback(stream, nullptr, nullptr);
      pa_stream_set_suspended_callback(stream, nullptr, nullptr);
      if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream))) pa_stream_disconnect(stream);
      pa_stream_unref(stream);
      stream = nullptr;
    }
    render = nullptr;
  }

  void dropContext() {
    if (!context) return;
    pa_context_set_state_callback(context, nullptr, nullptr);
    pa_context_disconnect(context);
    pa_context_unref(context);
    context = nullptr;
  }

  static bool fail(AudioError* error, std::string message) {
    if (error) *error = AudioError{std::move(message)};
    return false;
  }

  // ---- main loop thread

  void failed(std::string message) {
    if (!started || failureTold) return;
    failureTold = true;
    if (failure) failure(AudioError{std::move(message)});
  }

  void publishClock(bool running) {
    pa_usec_t time = 0;
    if (stream && pa_stream_get_time(stream, &time) == 0) clock.publish(time, running);
  }

  static void contextChanged(pa_context* c, void* user) {
    auto* self = static_cast<Impl*>(user);
    const pa_context_state_t state = pa_context_get_state(c);
    if (!PA_CONTEXT_IS_GOOD(state))
      self->failed(withReason("the connection to the sound server was lost", pa_context_errno(c)));
    pa_threaded_mainloop_signal(self->loop, 0);
  }

  static void streamChanged(pa_stream* s, void* user) {
    auto* self = static_cast<Impl*>(user);
    const pa_stream_state_t state = pa_stream_get_state(s);
    if (!PA_STREAM_IS_GOOD(state)) {
      self->failed(withReason("the sound server ended the playback stream",
                              pa_context_errno(pa_stream_get_context(s))));
    }
    pa_threaded_mainloop_signal(self->loop, 0);
  }

  static void timerFired(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* user) {
    auto* self = static_cast<Impl*>(user);
    self->timedOut = true;
    pa_threaded_mainloop_signal(self->loop, 0);
  }

  // Asks the server for the stream's timing, unless a question is still open; a question
  // open too long is a server that stopped answering.
  static void ping(pa_mainloop_api*, pa_time_event* event, const struct timeval*, void* user) {
    auto* self = static_cast<Impl*>(user);
    const pa_usec_t now = pa_rtclock_now();
    if (self->query && pa_operation_get_state(self->query) != PA_OPERATION_RUNNING) {
      pa_operation_unref(self->query);
      self->query = nullptr;
    }
    if (self->query && now - self->queryAsked >= kAnswerLimit) {
      self->failed("the sound server stopped answering");
      return;
    }
    if (!self->query) {
      self->query = pa_stream_update_timing_info(self->stream, nullptr, nullptr);
      self->queryAsked = now;
    }
    pa_context_rttime_restart(self->context, event, now + kPingInterval);
  }

  // The server paused the stream (its sink suspended) or let it go on: the clock stands
  // still meanwhile.
  static void suspendedChanged(pa_stream* s, void* user) {
    auto* self = static_cast<Impl*>(user);
    self->publishClock(pa_stream_is_suspended(s) != 1);
  }

  static void underflowed(pa_stream*, void* user) {
    static_cast<Impl*>(user)->underflowCount.fetch_add(1, std::memory_order_relaxed);
  }

  static void writeRequested(pa_stream* s, size_t bytes, void* user) {
    auto* self = static_cast<Impl*>(user);
    self->publishClock(true);
    pa_usec_t buffered = 0;
    int negative = 0;
    if (pa_stream_get_latency(s, &buffered, &negative) == 0 && !negative)
      self->latency.store(static_cast<double>(buffered) / PA_USEC_PER_SEC, std::memory_order_release);
    if (!self->render) return;
    const uint32_t channels = self->format.channelCount;
    while (bytes >= self->frameBytes) {
      void* data = nullptr;
      size_t granted = bytes;
      if (pa_stream_begin_write(s, &data, &granted) < 0 || !data) return;
      const auto frames =
          static_cast<uint32_t>(std::min(std::min(granted, bytes) / self->frameBytes, size_t{kChunkFrames}));
      if (frames == 0) {
        pa_stream_cancel_write(s);
        return;
      }
      // Frame n of the stream is heard when the stream's clock reaches n / rate.
      const double heard = static_cast<double>(self->framesWritten) / self->format.sampleRate;
      self->render(self->pointers.data(), frames, heard);
      auto* out = static_cast<float*>(data);
      for (uint32_t i = 0; i < frames; ++i) {
        for (uint32_t c = 0; c < channels; ++c) out[size_t{i} * channels + c] = self->pointers[c][i];
      }
      const size_t written = size_t{frames} * self->frameBytes;
      if (pa_stream_write(s, data, written, nullptr, 0, PA_SEEK_RELATIVE) < 0) return;
      self->framesWritten += frames;
      bytes -= written;
    }
  }

  pa_threaded_mainloop* loop = nullptr;
  pa_context* context = nullptr;
  pa_stream* stream = nullptr;
  pa_time_event* pingTimer = nullptr;
  pa_operation* query = nullptr;  // the open timing question, if any
  pa_usec_t queryAsked = 0;
  bool timedOut = false;
  bool started = false;
  bool failureTold = false;
  AudioFormat format;
  size_t frameBytes = 0;
  uint64_t framesWritten = 0;
  RenderCallback render;
  FailureCallback failure;
  std::vector<float> planar;
  std::vector<float*> pointers;

  PublishedClock clock;
  std::atomic<double> latency{0.0};
  std::atomic<uint64_t> underflowCount{0};
};

PulseOutputDevice::PulseOutputDevice() : impl_(std::make_unique<Impl>()) {}

PulseOutputDevice::~PulseOutputDevice() = default;

bool PulseOutputDevice::start(const AudioFormat& format, RenderCallback render, AudioError* error) {
  Impl& d = *impl_;
  if (!format.isValid() || format.channelCount > audio::kMaxRenderChannels || !render)
    return Impl::fail(error, "unsupported output format");
  if (!d.loop) {
    d.loop = pa_threaded_mainloop_new();
    if (!d.loop || pa_threaded_mainloop_start(d.loop) < 0) {
      if (d.loop) pa_threaded_mainloop_free(d.loop);
      d.loop = nullptr;
      return Impl::fail(error, "the sound server's client library could not start");
    }
  }
  pa_threaded_mainloop_lock(d.loop);
  d.closeStream();
  const pa_usec_t deadline = pa_rtclock_now() + kConnectTimeout;
  d.format = format;
  d.planar.assign(size_t{kChunkFrames} * format.channelCount, 0.0f);
  d.pointers.resize(format.channelCount);
  for (uint32_t c = 0; c < format.channelCount; ++c)
    d.pointers[c] = d.planar.data() + size_t{c} * kChunkFrames;
  d.framesWritten = 0;
  d.clock.publish(0, false);
  d.underflowCount.store(0, std::memory_order_relaxed);
  d.render = std::move(render);
  const bool opened = d.connect(deadline, error) && d.openStream(deadline, error);
  if (opened) {
    d.started = true;
    d.failureTold = false;
    d.pingTimer = pa_context_rttime_new(d.context, pa_rtclock_now() + kPingInterval, &Impl::ping, &d);
  } else {
    d.closeStream();
  }
  pa_threaded_mainloop_unlock(d.loop);
  return opened;
}

void PulseOutputDevice::stop() {
  Impl& d = *impl_;
  if (!d.loop) return;
  pa_threaded_mainloop_lock(d.loop);
  d.closeStream();
  pa_threaded_mainloop_unlock(d.loop);
}

double PulseOutputDevice::currentTime() const { return impl_->clock.now(); }

double PulseOutputDevice::outputLatency() const { return impl_->latency.load(std::memory_order_acquire); }

void PulseOutputDevice::setFailureCallback(FailureCallback callback) {
  Impl& d = *impl_;
  if (d.loop) pa_threaded_mainloop_lock(d.loop);
  d.failure = std::move(callback);
  if (d.loop) pa_threaded_mainloop_unlock(d.loop);
}

uint64_t PulseOutputDevice::underflows() const {
  return impl_->underflowCount.load(std::memory_order_relaxed);
}

std::unique_ptr<AudioOutputDevice> makeDefaultOutputDevice() { return std::make_unique<PulseOutputDevice>(); }

}  // namespace lorvanta
