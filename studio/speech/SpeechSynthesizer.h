#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace lorvanta {

using VoiceName = std::string;
using VoiceAttributes = std::map<std::string, std::string>;

inline constexpr const char* kVoiceLocaleIdentifier = "VoiceLocaleIdentifier";
inline constexpr const char* kVoiceDemoText = "VoiceDemoText";

// Runs a function on the caller's main thread; given by whoever owns the synthesizer.
using MainQueuePoster = std::function<void(std::function<void()>)>;

class SpeechSynthesizer;

class SpeechSynthesizerDelegate {
 public:
  virtual ~SpeechSynthesizerDelegate() = default;
  // Main thread. The file named in the start call is complete and closed.
  virtual void speechSynthesizerDidFinishSpeaking(SpeechSynthesizer& sender, bool finishedSpeaking) = 0;
  // Main thread, while a synthesis runs: the part of the text spoken so far, from 0 to 1,
  // growing. Reports come now and then (not for every word), only for the newest start,
  // and always before its finished call.
  virtual void speechSynthesizerDidProgress(SpeechSynthesizer& /*sender*/, double /*fractionSpoken*/) {}
};

// A text-to-speech engine that writes whole texts into AIFF files.
// Every member is called on the main thread.
class SpeechSynthesizer {
 public:
  virtual ~SpeechSynthesizer() = default;

  // Installed voices, in the same order at every call; may be empty.
  virtual std::vector<VoiceName> availableVoices() const = 0;
  virtual VoiceName defaultVoice() const = 0;
  // "VoiceLocaleIdentifier" and "VoiceDemoText" where known; either may be absent.
  virtual VoiceAttributes attributesForVoice(const VoiceName& voice) const = 0;

  // Not owned; nullptr for none.
  virtual void setDelegate(SpeechSynthesizerDelegate* delegate) = 0;
  virtual SpeechSynthesizerDelegate* delegate() const = 0;

  // False (and the old voice kept) for a name that is no installed voice.
  virtual bool setVoice(const VoiceName& voice) = 0;
  // Words per minute, used by the next start.
  virtual void setRate(float wordsPerMinute) = 0;

  // Returns at once; the whole text is written as an AIFF file at `path` and then the
  // delegate is told on the main thread. A newer start supersedes a running one: only the
  // newest reports. A failed synthesis reports with finishedSpeaking false. A failed or
  // superseded synthesis leaves no file at `path`. The text is UTF-8 and may hold NUL;
  // control characters other than tab and line breaks are read as blanks.
  virtual bool startSpeakingStringToURL(const std::string& text, const std::string& path) = 0;

  // Why the last synthesis reported with finishedSpeaking false failed, in plain words
  // ("No space left on device"); empty after one that finished.
  virtual std::string lastFailureReason() const = 0;
};

}  // namespace lorvanta
