// The voice pop-up: item 0 is the default voice, item 1 a fixed item that is no voice,
// item k + 2 is voice k of the synthesizer's list.

#include <QComboBox>
#include <string>

#include "base/ConsoleLine.h"
#include "studio/ViewController.h"

namespace lorvanta {

namespace {

constexpr int kFirstVoiceItem = 2;

QString attributeOrIdentifier(const VoiceAttributes& attributes, const char* key, const VoiceName& voice) {
  const auto found = attributes.find(key);
  return QString::fromStdString(found != attributes.end() ? found->second : voice);
}

}  // namespace

void ViewController::awakeFromNib() {
  if (fVoicesPopUpButton.isNull() || !speechSynthesizer) return;

  while (fVoicesPopUpButton.numberOfItems() > kFirstVoiceItem) {
    fVoicesPopUpButton.removeItemAtIndex(kFirstVoiceItem);
  }

  const std::vector<VoiceName> voices = speechSynthesizer->availableVoices();
  if (voices.empty()) return;

  bool matched = false;
  for (size_t k = 0; k < voices.size(); ++k) {
    const VoiceName& voice = voices[k];
    const VoiceAttributes attributes = speechSynthesizer->attributesForVoice(voice);
    const QString title = attributeOrIdentifier(attributes, kVoiceLocaleIdentifier, voice) +
                          QStringLiteral("  -  ") + attributeOrIdentifier(attributes, kVoiceDemoText, voice);
    fVoicesPopUpButton.addItemWithTitle(title);
    if (voice == selectedVoice) {
      fVoicesPopUpButton.selectItemAtIndex(static_cast<int>(k) + kFirstVoiceItem);
      matched = true;
    }
  }

  if (!matched) {
    selectedVoice = speechSynthesizer->defaultVoice();
    fVoicesPopUpButton.selectItemAtIndex(0);
  }
}

void ViewController::voicePopupSelected(QObject* sender) {
  if (!speechSynthesizer) return;
  // The pop-up that sent the action; the outlet when the sender is something else.
  auto* box = qobject_cast<QComboBox*>(sender);
  const PopUpButton popUp = box ? PopUpButton(box) : fVoicesPopUpButton;
  if (popUp.isNull()) return;

  const int index = popUp.indexOfSelectedItem();
  VoiceName voice;
  if (index == 0) {
    voice = speechSynthesizer->defaultVoice();
  } else {
    printLine("index= " + std::to_string(index));
    const std::vector<VoiceName> voices = speechSynthesizer->availableVoices();
    // Item 1, no selection, or an item past the end of a list that has shrunk: no voice.
    const long long k = static_cast<long long>(index) - kFirstVoiceItem;
    if (k < 0 || k >= static_cast<long long>(voices.size())) return;
    voice = voices[static_cast<size_t>(k)];
  }

  speechSynthesizer->setVoice(voice);
  selectedVoice = voice;
}

}  // namespace lorvanta
