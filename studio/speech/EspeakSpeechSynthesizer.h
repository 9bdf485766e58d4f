#pragma once

#include <cstdint>
#include <memory>

#include "studio/speech/SpeechSynthesizer.h"

namespace lorvanta {

// SpeechSynthesizer over libespeak-ng. espeak-ng is one global instance: every
// EspeakSpeechSynthesizer shares one worker thread that runs syntheses one at a time.
// Voice names are espeak-ng voice identifiers ("gmw/en-US", "gmw/de"), listed by locale
// identifier, then identifier; the default voice follows LC_ALL / LC_MESSAGES / LANG and
// falls back to English.
class EspeakSpeechSynthesizer final : public SpeechSynthesizer {
 public:
  // The most frames a 16-bit mono AIFF file holds: its sound chunk states its size in 32
  // bits (about 27 hours at espeak-ng's 22,050 Hz).
  static constexpr int64_t kMaximumFrameCount = (int64_t{0xFFFFFFFF} - 4096) / 2;

  // A synthesis that would write more than `maximumFrameCount` frames fails as too long.
  explicit EspeakSpeechSynthesizer(MainQueuePoster postToMain,
                                   int64_t maximumFrameCount = kMaximumFrameCount);
  ~EspeakSpeechSynthesizer() override;

  EspeakSpeechSynthesizer(const EspeakSpeechSynthesizer&) = delete;
  EspeakSpeechSynthesizer& operator=(const EspeakSpeechSynthesizer&) = delete;

  std::vector<VoiceName> availableVoices() const override;
  VoiceName defaultVoice() const override;
  VoiceAttributes attributesForVoice(const VoiceName& voice) const override;
  void setDelegate(SpeechSynthesizerDelegate* delegate) override;
  SpeechSynthesizerDelegate* delegate() const override;
  bool setVoice(const VoiceName& voice) override;
  void setRate(float wordsPerMinute) override;
  bool startSpeakingStringToURL(const std::string& text, const std::string& path) override;
  std::string lastFailureReason() const override;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace lorvanta
