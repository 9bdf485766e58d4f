#include "studio/audio/AudioUnitTimePitch.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <random>

#include "studio/audio/AudioUnitTimePitchInternal.h"

namespace lorvanta {

namespace {

// Speech-friendly processing windows: short sequences keep the time smear small.
void applySettings(soundtouch::SoundTouch& stretch, double rate, uint32_t channels) {
  stretch.setSampleRate(static_cast<unsigned>(std::lround(rate)));
  stretch.setChannels(channels);
  stretch.setSetting(SETTING_USE_QUICKSEEK, 1);
  stretch.setSetting(SETTING_USE_AA_FILTER, 1);
  stretch.setSetting(SETTING_AA_FILTER_LENGTH, 32);
  stretch.setSetting(SETTING_SEQUENCE_MS, 40);
  stretch.setSetting(SETTING_SEEKWINDOW_MS, 15);
  stretch.setSetting(SETTING_OVERLAP_MS, 8);
}

// Output delay of a fresh SoundTouch at `semitone`: where its response to a step at frame 0
// crosses half the step's height. Measured once per rate and semitone, on first need.
float measuredDelay(double rate, int semitone) {
  static std::mutex cacheMutex;
  static std::map<std::pair<long, int>, float> cache;
  const auto key = std::pair{std::lround(rate), semitone};
  std::lock_guard lock(cacheMutex);
  if (const auto it = cache.find(key); it != cache.end()) return it->second;

  soundtouch::SoundTouch stretch;
  applySettings(stretch, rate, 1);
  stretch.setPitchSemiTones(semitone);
  std::vector<float> step(256, 0.5f);
  std::vector<float> out;
  std::vector<float> chunk(4096);
  for (int fed = 0; out.size() < 4096 && fed < 1 << 17; fed += 256) {
    stretch.putSamples(step.data(), 256);
    while (const unsigned got = stretch.receiveSamples(chunk.data(), 4096)) {
      out.insert(out.end(), chunk.begin(), chunk.begin() + got);
    }
  }
  float delay = 0.0f;
  for (size_t i = 0; i < out.size(); ++i) {
    if (out[i] >= 0.25f) {
      const float before = i > 0 ? out[i - 1] : 0.0f;
      const float slope = out[i] - before;
      delay = static_cast<float>(i) - 1.0f + (slope > 0.0f ? (0.25f - before) / slope : 1.0f);
      break;
    }
  }
  // The step's own half-height point lies half a frame after its start.
  delay = std::max(0.0f, delay + 0.5f);
  cache.emplace(key, delay);
  return delay;
}

}  // namespace

AudioUnitTimePitch::AudioUnitTimePitch() : AudioUnitTimePitch(std::make_unique<Impl>()) {}
AudioUnitTimePitch::AudioUnitTimePitch(std::unique_ptr<Impl>&& owner)
    : AudioUnitTimePitch(*owner, std::move(owner)) {}
AudioUnitTimePitch::AudioUnitTimePitch(Impl& impl, std::unique_ptr<Impl>&& owner)
    : AudioNode(std::move(owner)), impl_(impl) {}
AudioUnitTimePitch::~AudioUnitTimePitch() = default;

void AudioUnitTimePitch::setPitch(float cents) { impl_.setPitch(cents); }
float AudioUnitTimePitch::pitch() const { return impl_.pitch.load(std::memory_order_acquire); }
void AudioUnitTimePitch::reset() { impl_.resetState(); }

AudioUnitTimePitch::Impl::Impl() = default;

int AudioUnitTimePitch::Impl::delayFor(float cents) const {
  const float position = std::clamp(cents / 100.0f, -24.0f, 24.0f);
  const int low = std::min(static_cast<int>(std::floor(position)), 23);
  const float fraction = position - static_cast<float>(low);
  const float delay = measuredDelay(rate, low) * (1.0f - fraction) + measuredDelay(rate, low + 1) * fraction;
  return static_cast<int>(std::lround(delay));
}

AudioUnitTimePitch::Impl::Processor AudioUnitTimePitch::Impl::preparePending(float cents) {
  if (cents == 0.0f) return kPassThrough;
  auto& slots = processing->slots;
  for (Processor i = 0; i < kSlots; ++i) {
    int expected = Free;
    if (slots[i].state.compare_exchange_strong(expected, Preparing, std::memory_order_acq_rel)) {
      Slot& slot = slots[i];
      slot.stretch.clear();
      slot.stretch.setPitchSemiTones(cents / 100.0f);
      slot.delay = delayFor(cents);
      slot.state.store(Pending, std::memory_order_release);
      return i;
    }
  }
  return kNone;
}

void AudioUnitTimePitch::Impl::setPitch(float cents) {
  if (std::isnan(cents)) cents = 0.0f;
  cents = std::clamp(cents, kMinimumPitch, kMaximumPitch);
  pitch.store(cents, std::memory_order_release);
  std::lock_guard lock(mainMutex);
  if (!processing) return;
  const Processor next = preparePending(cents);
  if (next == kNone) return;
  const Processor old = pending.exchange(next, std::memory_order_acq_rel);
  if (isSlot(old)) processing->slots[old].state.store(Free, std::memory_order_release);
}

void AudioUnitTimePitch::Impl::prepare(const AudioFormat& format) {
  std::lock_guard lock(mainMutex);
  const double sampleRate = format.sampleRate;
  const uint32_t newChannels = std::clamp<uint32_t>(format.channelCount, 1, audio::kMaxRenderChannels);
  if (!processing || sampleRate != rate || newChannels != channels) {
    rate = sampleRate;
    channels = newChannels;
    processing.reset();
    processing = std::make_unique<Processing>();
    Processing& p = *processing;
    // Grow every internal buffer to what the widest settings need, here and not while rendering.
    std::mt19937 noise(7);
    std::uniform_real_distribution<float> sample(-0.5f, 0.5f);
    std::vector<float> warm(size_t{8192} * channels);
    for (float& s : warm) s = sample(noise);
    std::vector<float> sink(size_t{16384} * channels);
    for (Slot& slot : p.slots) {
      applySettings(slot.stretch, rate, channels);
      for (float semitones : {24.0f, -24.0f}) {
        slot.stretch.setPitchSemiTones(semitones);
        slot.stretch.putSamples(warm.data(), 8192);
        while (slot.stretch.receiveSamples(sink.data(), 16384) > 0) {
        }
        slot.stretch.clear();
      }
    }
    p.history.assign(kHistoryFrames * channels, 0.0f);
    p.mixA.assign(size_t{audio::kRenderBlock} * channels, 0.0f);
    p.mixB.assign(size_t{audio::kRenderBlock} * channels, 0.0f);
    p.planar.assign(size_t{audio::kRenderBlock} * channels, 0.0f);
    for (uint32_t c = 0; c < channels; ++c)
      p.planarPointers[c] = p.planar.data() + size_t{c} * audio::kRenderBlock;
    fadeLength = std::max<uint32_t>(1, static_cast<uint32_t>(std::lround(rate * 0.004)));
  }
  auto& slots = processing->slots;
  for (Slot& slot : slots) slot.state.store(Free, std::memory_order_relaxed);
  pending.store(kNone, std::memory_order_relaxed);
  resetRequested.store(false, std::memory_order_relaxed);
  outgoing = kNone;
  inPos = outPos = 0;
  active = kPassThrough;
  const float cents = pitch.load(std::memory_order_acquire);
  if (cents != 0.0f) {
    Slot& slot = slots[0];
    slot.stretch.clear();
    slot.stretch.setPitchSemiTones(cents / 100.0f);
    slot.delay = delayFor(cents);
    slot.fedTo = 0;
    slot.toDiscard = slot.delay;
    slot.state.store(Rendering, std::memory_order_relaxed);
    active = 0;
  }
}

void AudioUnitTimePitch::Impl::releaseProcessingMemory() {
  std::unique_ptr<Processing> released;
  {
    std::lock_guard lock(mainMutex);
    released = std::move(processing);
    pending.store(kNone, std::memory_order_relaxed);
    outgoing = kNone;
    active = kPassThrough;
  }
}

void AudioUnitTimePitch::Impl::freeSlot(Processor processor) {
  if (isSlot(processor)) processing->slots[processor].state.store(Free, std::memory_order_release);
}

void AudioUnitTimePitch::Impl::resync(int64_t sampleTime, audio::RenderContext&) {
  if (outgoing != kNone) freeSlot(outgoing);
  outgoing = kNone;
  inPos = outPos = sampleTime;
  if (isSlot(active)) {
    Slot& slot = processing->slots[active];
    slot.stretch.clear();
    slot.fedTo = sampleTime;
    slot.toDiscard = slot.delay;
  }
}

void AudioUnitTimePitch::Impl::begin(Processor processor) {
  if (processor == kPassThrough && active == kPassThrough) return;
  if (isSlot(processor)) {
    Slot& slot = processing->slots[processor];
    slot.state.store(Rendering, std::memory_order_relaxed);
    slot.fedTo = outPos;
    slot.toDiscard = slot.delay;
  }
  outgoing = active;
  active = processor;
  fadePosition = 0;
}

void AudioUnitTimePitch::Impl::pullInput(audio::RenderContext& context) {
  const uint32_t frames = audio::kRenderBlock;
  Processing& p = *processing;
  const uint64_t start = static_cast<uint64_t>(inPos) % kHistoryFrames;
  if (channels == 1 && start + frames <= kHistoryFrames) {
    // Mono input that does not wrap in the history is rendered straight into it.
    float* block = &p.history[start];
    if (upstream) {
      upstream->render(&block, frames, inPos, context);
    } else {
      std::fill_n(block, frames, 0.0f);
    }
    inPos += frames;
    return;
  }
  if (upstream) {
    upstream->render(p.planarPointers.data(), frames, inPos, context);
  } else {
    std::fill(p.planar.begin(), p.planar.end(), 0.0f);
  }
  for (uint32_t i = 0; i < frames; ++i) {
    float* frame = &p.history[(static_cast<uint64_t>(inPos + i) % kHistoryFrames) * channels];
    for (uint32_t c = 0; c < channels; ++c) frame[c] = p.planarPointers[c][i];
  }
  inPos += frames;
}

void AudioUnitTimePitch::Impl::produce(Processor processor, float* interleaved, uint32_t frames,
                                       audio::RenderContext& context) {
  const std::vector<float>& history = processing->history;
  if (processor == kPassThrough) {
    while (inPos < outPos + frames) pullInput(context);
    for (uint32_t i = 0; i < frames; ++i) {
      const float* frame = &history[(static_cast<uint64_t>(outPos + i) % kHistoryFrames) * channels];
      std::memcpy(interleaved + size_t{i} * channels, frame, channels * sizeof(float));
    }
    return;
  }
  Slot& slot = processing->slots[processor];
  for (;;) {
    if (slot.toDiscard > 0) {
      const int64_t drop = std::min<int64_t>(slot.toDiscard, slot.stretch.numSamples());
      if (drop > 0) slot.stretch.receiveSamples(static_cast<unsigned>(drop));
      slot.toDiscard -= drop;
    }
    if (slot.toDiscard == 0 && slot.stretch.numSamples() >= frames) break;
    // The look-ahead is bounded by SoundTouch's buffering; the history holds far more.
    if (inPos - outPos + audio::kRenderBlock > static_cast<int64_t>(kHistoryFrames)) break;
    if (slot.fedTo == inPos) pullInput(context);
    const uint64_t start = static_cast<uint64_t>(slot.fedTo) % kHistoryFrames;
    const uint32_t feed = static_cast<uint32_t>(
        std::min<uint64_t>({kFeedChunk, static_cast<uint64_t>(inPos - slot.fedTo), kHistoryFrames - start}));
    slot.stretch.putSamples(&history[start * channels], feed);
    slot.fedTo += feed;
  }
  const unsigned got = slot.stretch.receiveSamples(interleaved, frames);
  std::memset(interleaved + size_t{got} * channels, 0, size_t{frames - got} * channels * sizeof(float));
}

void AudioUnitTimePitch::Impl::render(float* const* out, uint32_t frames, int64_t sampleTime,
                                      audio::RenderContext& context) {
  if (!processing) {
    for (uint32_t c = 0; c < channels; ++c) std::memset(out[c], 0, frames * sizeof(float));
    return;
  }
  if (resetRequested.exchange(false, std::memory_order_acq_rel) || sampleTime != outPos)
    resync(sampleTime, context);
  if (outgoing == kNone) {
    const Processor next = pending.exchange(kNone, std::memory_order_acq_rel);
    if (next != kNone) begin(next);
  }
  if (outgoing == kNone && channels == 1) {
    // Mono without a cross-fade: the processor's output is the output.
    produce(active, out[0], frames, context);
    outPos += frames;
    return;
  }
  std::vector<float>& mixA = processing->mixA;
  std::vector<float>& mixB = processing->mixB;
  produce(active, mixA.data(), frames, context);
  if (outgoing != kNone) {
    produce(outgoing, mixB.data(), frames, context);
    for (uint32_t i = 0; i < frames; ++i) {
      const float gain =
          std::min(1.0f, static_cast<float>(fadePosition + i + 1) / static_cast<float>(fadeLength));
      for (uint32_t c = 0; c < channels; ++c) {
        float& mixed = mixA[size_t{i} * channels + c];
        mixed = mixed * gain + mixB[size_t{i} * channels + c] * (1.0f - gain);
      }
    }
    fadePosition += frames;
    if (fadePosition >= fadeLength) {
      freeSlot(outgoing);
      outgoing = kNone;
    }
  }
  for (uint32_t i = 0; i < frames; ++i) {
    for (uint32_t c = 0; c < channels; ++c) out[c][i] = mixA[size_t{i} * channels + c];
  }
  outPos += frames;
}

}  // namespace lorvanta
