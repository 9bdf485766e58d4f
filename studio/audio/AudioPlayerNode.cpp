#include "studio/audio/AudioPlayerNode.h"

#include <algorithm>
#include <cstring>

#include "studio/audio/AudioPlayerNodeInternal.h"

namespace lorvanta {

AudioPlayerNode::AudioPlayerNode() : AudioPlayerNode(std::make_unique<Impl>()) {}
AudioPlayerNode::AudioPlayerNode(std::unique_ptr<Impl>&& owner) : AudioPlayerNode(*owner, std::move(owner)) {}
AudioPlayerNode::AudioPlayerNode(Impl& impl, std::unique_ptr<Impl>&& owner)
    : AudioNode(std::move(owner)), impl_(impl) {}
AudioPlayerNode::~AudioPlayerNode() = default;

void AudioPlayerNode::scheduleFile(std::shared_ptr<AudioFile> file,
                                   AudioPlayerNodeCompletionCallbackType type, CompletionHandler handler) {
  impl_.schedule(std::move(file), type, std::move(handler));
}

void AudioPlayerNode::scheduleFile(std::shared_ptr<AudioFile> file) {
  impl_.schedule(std::move(file), AudioPlayerNodeCompletionCallbackType::DataPlayedBack, nullptr);
}

void AudioPlayerNode::play() { impl_.playing.store(true, std::memory_order_release); }

void AudioPlayerNode::stop() { impl_.stop(); }

void AudioPlayerNode::reset() { stop(); }

bool AudioPlayerNode::isPlaying() const { return impl_.playing.load(std::memory_order_acquire); }

void AudioPlayerNode::Impl::schedule(std::shared_ptr<AudioFile> file,
                                     AudioPlayerNodeCompletionCallbackType type, CompletionHandler handler) {
  if (!file || !file->isOpen()) return;
  std::lock_guard lock(mutex);
  Segment segment;
  segment.id = nextSegment++;
  segment.length = std::max<int64_t>(file->length(), 0);
  segment.file = std::move(file);
  segment.type = type;
  segment.reported = static_cast<bool>(handler);
  if (handler) handlers.emplace(segment.id, std::move(handler));
  toRead.push_back(std::move(segment));
  moreToRead.store(true, std::memory_order_release);
}

void AudioPlayerNode::Impl::stop() {
  playing.store(false, std::memory_order_release);
  std::map<uint64_t, CompletionHandler> dropped;
  std::deque<Segment> unread;
  {
    std::lock_guard delivery(deliveryMutex);
    std::lock_guard lock(mutex);
    dropped.swap(handlers);
    unread.swap(toRead);
    moreToRead.store(false, std::memory_order_release);
    generation.fetch_add(1, std::memory_order_acq_rel);
    // The reader writes only under `mutex`: everything up to here is old.
    flushTo.store(writeCount.load(std::memory_order_acquire), std::memory_order_release);
  }
  // Handlers and files are released outside the locks.
}

void AudioPlayerNode::Impl::resetState() { stop(); }

void AudioPlayerNode::Impl::prepare(const AudioFormat& format) {
  const uint32_t newChannels = std::clamp<uint32_t>(format.channelCount, 1, audio::kMaxRenderChannels);
  if (newChannels != channels) {
    channels = newChannels;
    ring.assign(kRingFrames * channels, 0.0f);
    // Frames buffered in the old layout are dropped.
    std::lock_guard lock(mutex);
    for (Segment& segment : toRead) segment.next = 0;
    flushTo.store(writeCount.load(std::memory_order_acquire), std::memory_order_release);
  }
  // Frames that stop() dropped free their room now, so the reader can fill the ring before
  // the first render.
  const uint64_t flushed = flushTo.load(std::memory_order_acquire);
  if (flushed > readCount.load(std::memory_order_relaxed))
    readCount.store(flushed, std::memory_order_release);
}

bool AudioPlayerNode::Impl::prefetch() {
  prefetchRequested.store(false, std::memory_order_release);
  std::lock_guard lock(mutex);
  if (toRead.empty() || channels == 0) return false;
  Segment& segment = toRead.front();
  const uint64_t written = writeCount.load(std::memory_order_relaxed);
  const uint64_t free = kRingFrames - (written - readCount.load(std::memory_order_acquire));
  const int64_t remaining = segment.length - segment.next;
  if (remaining > 0) {
    const uint32_t chunk = static_cast<uint32_t>(std::min<int64_t>({remaining, kReadChunk, int64_t(free)}));
    if (chunk == 0) return false;
    const AudioFormat fileFormat = segment.file->processingFormat();
    if (!scratch || scratch->format().channelCount != fileFormat.channelCount) {
      scratch = AudioPCMBuffer::create(fileFormat, kReadChunk);
      if (!scratch) return false;
    }
    const uint32_t got = segment.file->readFrames(segment.next, chunk, *scratch);
    if (got == 0) {
      // A file that ends early (truncated on disk) ends here.
      segment.length = segment.next;
    } else {
      const uint32_t fileChannels = scratch->format().channelCount;
      for (uint32_t c = 0; c < channels; ++c) {
        const float* source = scratch->channelData(std::min(c, fileChannels - 1));
        for (uint32_t i = 0; i < got; ++i) ring[((written + i) % kRingFrames) * channels + c] = source[i];
      }
      writeCount.store(written + got, std::memory_order_release);
      segment.next += got;
      return true;
    }
  }
  if (segment.reported) {
    const Marker marker{segment.id, generation.load(std::memory_order_acquire), segment.type,
                        writeCount.load(std::memory_order_relaxed)};
    if (!markers.push(marker)) return false;
  }
  toRead.pop_front();
  moreToRead.store(!toRead.empty(), std::memory_order_release);
  return true;
}

void AudioPlayerNode::Impl::reportSegmentEnds(uint64_t read, uint32_t produced, uint64_t currentGeneration,
                                              int64_t sampleTime, audio::RenderContext& context) {
  Marker marker{};
  while (markers.peek(marker)) {
    if (marker.generation != currentGeneration) {
      markers.popFront();
      continue;
    }
    if (marker.end > read + produced) break;
    markers.popFront();
    const int64_t offset = marker.end > read ? static_cast<int64_t>(marker.end - read) : 0;
    context.segmentConsumed(
        audio::SegmentEnd{this, marker.segment, marker.generation, marker.type, sampleTime + offset});
  }
}

void AudioPlayerNode::Impl::render(float* const* out, uint32_t frames, int64_t sampleTime,
                                   audio::RenderContext& context) {
  uint64_t read = readCount.load(std::memory_order_relaxed);
  const uint64_t flush = flushTo.load(std::memory_order_acquire);
  if (flush > read) read = flush;
  const uint64_t currentGeneration = generation.load(std::memory_order_acquire);

  uint32_t produced = 0;
  if (playing.load(std::memory_order_acquire) && channels != 0) {
    if (context.isOffline()) {
      // Offline the caller is its own reader: the file is read synchronously.
      while (writeCount.load(std::memory_order_relaxed) - read < frames && prefetch()) {
      }
    }
    const uint64_t available = writeCount.load(std::memory_order_acquire) - read;
    produced = static_cast<uint32_t>(std::min<uint64_t>(available, frames));
    for (uint32_t i = 0; i < produced; ++i) {
      const float* frame = &ring[((read + i) % kRingFrames) * channels];
      for (uint32_t c = 0; c < channels; ++c) out[c][i] = frame[c];
    }
    reportSegmentEnds(read, produced, currentGeneration, sampleTime, context);
    read += produced;
  }
  readCount.store(read, std::memory_order_release);
  if (!context.isOffline() && channels != 0 &&
      writeCount.load(std::memory_order_acquire) - read < kRingFrames / 2 &&
      moreToRead.load(std::memory_order_acquire) &&
      !prefetchRequested.exchange(true, std::memory_order_acq_rel))
    context.requestPrefetch();
  for (uint32_t c = 0; c < channels; ++c)
    std::memset(out[c] + produced, 0, (frames - produced) * sizeof(float));
}

void AudioPlayerNode::Impl::deliverCompletion(uint64_t segment, uint64_t segmentGeneration,
                                              AudioPlayerNodeCompletionCallbackType type) {
  std::lock_guard delivery(deliveryMutex);
  if (segmentGeneration != generation.load(std::memory_order_acquire)) return;
  CompletionHandler handler;
  {
    std::lock_guard lock(mutex);
    const auto it = handlers.find(segment);
    if (it == handlers.end()) return;
    handler = std::move(it->second);
    handlers.erase(it);
  }
  if (handler) handler(type);
}

}  // namespace lorvanta
