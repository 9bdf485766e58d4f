#include "studio/audio/AudioFile.h"

#include <sndfile.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <mutex>
#include <vector>

#include "studio/audio/SoundFileWriter.h"

namespace lorvanta {

namespace {

using Container = AudioFileSettings::Container;
using SampleFormat = AudioFileSettings::SampleFormat;

void setError(AudioError* error, std::string message) {
  if (error) *error = AudioError{std::move(message)};
}

std::string lowerExtension(const std::string& path) {
  const auto slash = path.find_last_of('/');
  const auto dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  std::string ext = path.substr(dot + 1);
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  return ext;
}

uint32_t bitDepthOf(SampleFormat format) {
  switch (format) {
    case SampleFormat::PCM8:
      return 8;
    case SampleFormat::PCM16:
      return 16;
    case SampleFormat::PCM24:
      return 24;
    case SampleFormat::PCM32:
    case SampleFormat::Float32:
      return 32;
    case SampleFormat::Float64:
      return 64;
    case SampleFormat::Unknown:
      break;
  }
  return 0;
}

SampleFormat sampleFormatOf(int sfFormat) {
  switch (sfFormat & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
      return SampleFormat::PCM8;
    case SF_FORMAT_PCM_16:
      return SampleFormat::PCM16;
    case SF_FORMAT_PCM_24:
      return SampleFormat::PCM24;
    case SF_FORMAT_PCM_32:
      return SampleFormat::PCM32;
    case SF_FORMAT_FLOAT:
      return SampleFormat::Float32;
    case SF_FORMAT_DOUBLE:
      return SampleFormat::Float64;
    default:
      return SampleFormat::Unknown;
  }
}

Container containerOf(int sfFormat) {
  switch (sfFormat & SF_FORMAT_TYPEMASK) {
    case SF_FORMAT_AIFF:
      return Container::AIFF;
    case SF_FORMAT_WAV:
    case SF_FORMAT_WAVEX:
      return Container::WAV;
    default:
      return Container::Unknown;
  }
}

SampleFormat pcmOfDepth(uint32_t bits) {
  switch (bits) {
    case 8:
      return SampleFormat::PCM8;
    case 16:
      return SampleFormat::PCM16;
    case 24:
      return SampleFormat::PCM24;
    case 32:
      return SampleFormat::PCM32;
    default:
      return SampleFormat::Unknown;
  }
}

int sfSubtype(Container container, SampleFormat format) {
  switch (format) {
    case SampleFormat::PCM8:
      return container == Container::WAV ? SF_FORMAT_PCM_U8 : SF_FORMAT_PCM_S8;
    case SampleFormat::PCM16:
      return SF_FORMAT_PCM_16;
    case SampleFormat::PCM24:
      return SF_FORMAT_PCM_24;
    case SampleFormat::PCM32:
      return SF_FORMAT_PCM_32;
    case SampleFormat::Float32:
      return SF_FORMAT_FLOAT;
    case SampleFormat::Float64:
      return SF_FORMAT_DOUBLE;
    case SampleFormat::Unknown:
      break;
  }
  return 0;
}

bool isInteger(SampleFormat format) {
  return format == SampleFormat::PCM8 || format == SampleFormat::PCM16 || format == SampleFormat::PCM24 ||
         format == SampleFormat::PCM32;
}

// Float to the top `bits` bits of an int, rounded and clipped; libsndfile keeps those bits.
struct IntConverter {
  explicit IntConverter(uint32_t bits)
      : scale(std::ldexp(1.0, static_cast<int>(bits) - 1)), shift(32 - bits) {}
  // Branch-free, so the conversion loop vectorises.
  int32_t operator()(float sample) const {
    double v = static_cast<double>(sample) * scale;
    v = v == v ? v : 0.0;  // NaN
    v = std::min(std::max(v, -scale), scale - 1.0);
    const auto rounded = static_cast<int64_t>(v + std::copysign(0.5, v));
    return static_cast<int32_t>(static_cast<uint32_t>(rounded) << shift);
  }
  const double scale;
  const uint32_t shift;
};

}  // namespace

struct AudioFile::Impl {
  mutable std::mutex mutex;
  SNDFILE* file = nullptr;  // a file open for reading
  SoundFileWriter writer;   // a file open for writing
  SF_INFO info{};
  std::string writeFailure;  // the first write that did not reach the file
  std::string path;
  AudioFileSettings settings;
  int64_t length = 0;
  std::vector<float> interleaved;
  std::vector<int32_t> interleavedInt;

  ~Impl() {
    if (file) sf_close(file);
  }
};

AudioFile::AudioFile() : impl_(std::make_unique<Impl>()) {}
AudioFile::~AudioFile() = default;

std::shared_ptr<AudioFile> AudioFile::openForReading(const std::string& path, AudioError* error) {
  auto result = std::make_shared<AudioFile>();
  Impl& d = *result->impl_;
  d.file = sf_open(path.c_str(), SFM_READ, &d.info);
  if (!d.file) {
    setError(error, "cannot open \"" + path + "\" for reading: " + sf_strerror(nullptr));
    return nullptr;
  }
  if (d.info.channels <= 0 || d.info.samplerate <= 0) {
    setError(error, "\"" + path + "\" has no valid audio format");
    return nullptr;
  }
  d.path = path;
  d.length = std::max<sf_count_t>(d.info.frames, 0);
  d.settings.container = containerOf(d.info.format);
  d.settings.sampleFormat = sampleFormatOf(d.info.format);
  d.settings.sampleRate = d.info.samplerate;
  d.settings.channelCount = static_cast<uint32_t>(d.info.channels);
  d.settings.bitDepth = bitDepthOf(d.settings.sampleFormat);
  return result;
}

std::shared_ptr<AudioFile> AudioFile::openForWriting(const std::string& path,
                                                     const AudioFileSettings& settings, AudioError* error) {
  const std::string ext = lowerExtension(path);
  Container container = settings.container;
  if (ext == "wav") {
    container = Container::WAV;
  } else if (ext == "aif" || ext == "aiff" || ext == "aifc") {
    container = Container::AIFF;
  }
  if (container == Container::Unknown) {
    setError(error, "no audio file type for \"" + path + "\"");
    return nullptr;
  }
  SampleFormat sampleFormat = settings.sampleFormat;
  if (sampleFormat == SampleFormat::Unknown) sampleFormat = pcmOfDepth(settings.bitDepth);
  const double rate = settings.sampleRate;
  if (sampleFormat == SampleFormat::Unknown || !(rate >= 1.0 && rate <= 1e6) || settings.channelCount == 0 ||
      settings.channelCount > 64) {
    setError(error, "unsupported settings for \"" + path + "\"");
    return nullptr;
  }

  auto result = std::make_shared<AudioFile>();
  Impl& d = *result->impl_;
  d.info.samplerate = static_cast<int>(std::lround(rate));
  d.info.channels = static_cast<int>(settings.channelCount);
  d.info.format =
      (container == Container::WAV ? SF_FORMAT_WAV : SF_FORMAT_AIFF) | sfSubtype(container, sampleFormat);
  if (!sf_format_check(&d.info)) {
    setError(error, "unsupported settings for \"" + path + "\"");
    return nullptr;
  }
  const std::string failure = d.writer.open(path, d.info.format, d.info.samplerate, d.info.channels);
  if (!failure.empty()) {
    setError(error, failure);
    return nullptr;
  }
  d.path = path;
  d.settings = AudioFileSettings{container, sampleFormat, static_cast<double>(d.info.samplerate),
                                 settings.channelCount, bitDepthOf(sampleFormat)};
  return result;
}

bool AudioFile::isOpen() const { return impl_->file != nullptr || impl_->writer.isOpen(); }
const std::string& AudioFile::path() const { return impl_->path; }

AudioFormat AudioFile::processingFormat() const {
  if (!isOpen()) return {};
  return AudioFormat{impl_->settings.sampleRate, impl_->settings.channelCount};
}

AudioFileFormat AudioFile::fileFormat() const { return AudioFileFormat{impl_->settings}; }

int64_t AudioFile::length() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->length;
}

bool AudioFile::writeFromBuffer(const AudioPCMBuffer& buffer, AudioError* error) {
  Impl& d = *impl_;
  std::lock_guard lock(d.mutex);
  if (!d.writer.isOpen()) {
    setError(error, "the file is not open for writing");
    return false;
  }
  const uint32_t channels = d.settings.channelCount;
  if (buffer.format().channelCount != channels) {
    setError(error, "the buffer's channel count differs from the file's");
    return false;
  }
  const uint32_t frames = buffer.frameLength();
  if (frames == 0) return true;
  const size_t samples = size_t{frames} * channels;
  int64_t written = 0;
  std::string cause;
  if (isInteger(d.settings.sampleFormat)) {
    // Grows once to the largest buffer written; the same storage serves every later write.
    if (d.interleavedInt.size() < samples) d.interleavedInt.resize(samples);
    const IntConverter convert(d.settings.bitDepth);
    for (uint32_t c = 0; c < channels; ++c) {
      const float* src = buffer.channelData(c);
      int32_t* dst = d.interleavedInt.data() + c;
      for (uint32_t i = 0; i < frames; ++i) dst[size_t{i} * channels] = convert(src[i]);
    }
    written = d.writer.write(d.interleavedInt.data(), frames, cause);
  } else if (channels == 1) {
    written = d.writer.write(buffer.channelData(0), frames, cause);
  } else {
    if (d.interleaved.size() < samples) d.interleaved.resize(samples);
    for (uint32_t c = 0; c < channels; ++c) {
      const float* src = buffer.channelData(c);
      for (uint32_t i = 0; i < frames; ++i) d.interleaved[size_t{i} * channels + c] = src[i];
    }
    written = d.writer.write(d.interleaved.data(), frames, cause);
  }
  d.length += written;
  if (written != static_cast<int64_t>(frames)) {
    if (d.writeFailure.empty()) d.writeFailure = cause;
    setError(error, cause);
    return false;
  }
  return true;
}

bool AudioFile::close(AudioError* error) {
  Impl& d = *impl_;
  std::lock_guard lock(d.mutex);
  if (d.file) {
    const int closed = sf_close(d.file);
    d.file = nullptr;
    if (closed == 0) return true;
    setError(error, sf_error_number(closed));
    return false;
  }
  if (!d.writer.isOpen()) return true;
  std::string failure = d.writeFailure;
  const std::string closeFailure = d.writer.close(true);
  if (failure.empty()) failure = closeFailure;
  if (failure.empty()) return true;
  setError(error, failure);
  return false;
}

uint32_t AudioFile::readFrames(int64_t startFrame, uint32_t frames, AudioPCMBuffer& buffer) {
  Impl& d = *impl_;
  std::lock_guard lock(d.mutex);
  buffer.setFrameLength(0);
  if (!d.file || startFrame < 0 || startFrame >= d.length) return 0;
  const int64_t wanted = std::min<int64_t>({frames, buffer.frameCapacity(), d.length - startFrame});
  if (wanted <= 0 || sf_seek(d.file, startFrame, SEEK_SET) < 0) return 0;
  const uint32_t fileChannels = d.settings.channelCount;
  const uint32_t outChannels = buffer.format().channelCount;
  sf_count_t got = 0;
  if (fileChannels == 1) {
    // Mono frames are already laid out as one channel: read them where they go.
    got = std::max<sf_count_t>(sf_readf_float(d.file, buffer.channelData(0), wanted), 0);
    for (uint32_t c = 1; c < outChannels; ++c) std::copy_n(buffer.channelData(0), got, buffer.channelData(c));
  } else {
    const size_t samples = static_cast<size_t>(wanted) * fileChannels;
    if (d.interleaved.size() < samples) d.interleaved.resize(samples);
    got = std::max<sf_count_t>(sf_readf_float(d.file, d.interleaved.data(), wanted), 0);
    for (uint32_t c = 0; c < outChannels; ++c) {
      const uint32_t from = std::min(c, fileChannels - 1);
      float* dst = buffer.channelData(c);
      for (sf_count_t i = 0; i < got; ++i)
        dst[i] = d.interleaved[static_cast<size_t>(i) * fileChannels + from];
    }
  }
  buffer.setFrameLength(static_cast<uint32_t>(got));
  return static_cast<uint32_t>(got);
}

}  // namespace lorvanta
