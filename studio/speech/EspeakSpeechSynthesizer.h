#pragma once

#include <memory>

#include "studio/speech/SpeechSynthesizer.h"

namespace lorvanta {

// SpeechSynthesizer over libespeak-ng. espeak-ng is one global instance: every
// EspeakSpeechSynthesizer shares one worker thread that runs syntheses one at a time.
// Voice names are espeak-ng voice identifiers ("gmw/en-US", "gmw/de"), sorted; the default
// voice follows LC_ALL / LC_MESSAGES / LANG and falls back to English.
class EspeakSpeechSynthesizer final : public SpeechSynthesizer {
 public:
  explicit EspeakSpeechSynthesizer(MainQueuePoster postToMain);
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

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace lorvanta
