#pragma once

#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QSlider>
#include <QWidget>
#include <algorithm>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "studio/ViewController.h"
#include "studio/audio/AudioOutputDevice.h"

namespace lorvanta::voicetest {

struct FixtureVoice {
  VoiceName name;
  VoiceAttributes attributes;
};

// What the fixture synthesizer was given and what it holds; shared with the test, so the
// voice list can change after the controller took the synthesizer.
struct FixtureVoiceState {
  std::vector<FixtureVoice> voices;
  VoiceName defaultVoice;
  std::set<VoiceName> refusedVoices;
  VoiceName voice;  // the voice the synthesizer speaks with
  std::vector<VoiceName> setVoiceCalls;
  std::vector<float> rates;
  int starts = 0;
  SpeechSynthesizerDelegate* delegate = nullptr;
};

// A synthesizer with a fixed voice list that never speaks; it refuses unknown voices and
// the ones listed as refused.
class FixtureVoiceSynthesizer final : public SpeechSynthesizer {
 public:
  explicit FixtureVoiceSynthesizer(std::shared_ptr<FixtureVoiceState> state) : state_(std::move(state)) {
    state_->voice = state_->defaultVoice;
  }

  std::vector<VoiceName> availableVoices() const override {
    std::vector<VoiceName> names;
    for (const FixtureVoice& voice : state_->voices) names.push_back(voice.name);
    return names;
  }
  VoiceName defaultVoice() const override { return state_->defaultVoice; }
  VoiceAttributes attributesForVoice(const VoiceName& name) const override {
    for (const FixtureVoice& voice : state_->voices) {
      if (voice.name == name) return voice.attributes;
    }
    return {};
  }
  void setDelegate(SpeechSynthesizerDelegate* delegate) override { state_->delegate = delegate; }
  SpeechSynthesizerDelegate* delegate() const override { return state_->delegate; }
  bool setVoice(const VoiceName& name) override {
    state_->setVoiceCalls.push_back(name);
    const auto names = availableVoices();
    if (std::find(names.begin(), names.end(), name) == names.end() || state_->refusedVoices.count(name)) {
      return false;
    }
    state_->voice = name;
    return true;
  }
  void setRate(float wordsPerMinute) override { state_->rates.push_back(wordsPerMinute); }
  bool startSpeakingStringToURL(const std::string&, const std::string&) override {
    ++state_->starts;
    return true;
  }
  std::string lastFailureReason() const override { return {}; }

 private:
  std::shared_ptr<FixtureVoiceState> state_;
};

// An output device that takes every start and plays nothing.
class SilentOutputDevice final : public AudioOutputDevice {
 public:
  bool start(const AudioFormat&, RenderCallback, AudioError*) override { return true; }
  void stop() override {}
  double currentTime() const override { return 0.0; }
};

inline StudioServices fixtureServices(const std::shared_ptr<FixtureVoiceState>& state) {
  StudioServices services;
  services.makeOutputDevice = [] { return std::make_unique<SilentOutputDevice>(); };
  services.makeSynthesizer = [state] { return std::make_unique<FixtureVoiceSynthesizer>(state); };
  return services;
}

// The window's controls, as the main interface file makes them, bound to a controller.
struct FixtureWindow {
  QWidget root;
  QComboBox* voices = new QComboBox(&root);
  QPlainTextEdit* text = new QPlainTextEdit(&root);
  QSlider* rateSlider = new QSlider(Qt::Horizontal, &root);
  QSlider* pitchSlider = new QSlider(Qt::Horizontal, &root);
  QLineEdit* rateField = new QLineEdit(&root);
  QLineEdit* pitchField = new QLineEdit(&root);
  QProgressBar* progress = new QProgressBar(&root);

  FixtureWindow() {
    voices->addItem(QStringLiteral("Default voice"));
    voices->addItem(QStringLiteral("-"));
    rateSlider->setRange(80, 450);
    pitchSlider->setRange(-2400, 2400);
  }

  void bind(ViewController& controller) {
    controller.setOutlet(QStringLiteral("fVoicesPopUpButton"), voices);
    controller.setOutlet(QStringLiteral("fSpokenTextView"), text);
    controller.setOutlet(QStringLiteral("rate_slider"), rateSlider);
    controller.setOutlet(QStringLiteral("pitch_slider"), pitchSlider);
    controller.setOutlet(QStringLiteral("rate_textfield"), rateField);
    controller.setOutlet(QStringLiteral("pitch_textfield"), pitchField);
    controller.setOutlet(QStringLiteral("jd_nsprogressindicator"), progress);
  }

  QStringList voiceTitles() const {
    QStringList titles;
    for (int i = 0; i < voices->count(); ++i) titles << voices->itemText(i);
    return titles;
  }
};

inline std::unique_ptr<ViewController> makeFixtureController(
    const std::shared_ptr<FixtureVoiceState>& state) {
  return std::make_unique<ViewController>(std::nullopt, nullptr, fixtureServices(state));
}

}  // namespace lorvanta::voicetest
