#pragma once

#include <QStringList>
#include <QUrl>
#include <optional>

namespace lorvanta {

// A modal "save as" dialog (QFileDialog).
class SavePanel {
 public:
  static constexpr int kCancel = 0;
  static constexpr int kOK = 1;

  SavePanel();

  void setAllowedFileTypes(const QStringList& extensions);
  void setCanCreateDirectories(bool canCreate);
  void setExtensionHidden(bool hidden);
  void setAllowsOtherFileTypes(bool allows);

  // Returns when the user closes the panel: kOK or kCancel. The launch's first panel opens
  // in the user's music folder (home when there is none), later ones in the folder of the
  // last save; each suggests the name "Speech.wav", selected so that typing replaces it.
  int runModal();
  // The chosen file (with an allowed extension), after kOK.
  std::optional<QUrl> URL() const;

 private:
  QStringList allowedFileTypes_;
  bool canCreateDirectories_ = false;
  bool extensionHidden_ = true;
  bool allowsOtherFileTypes_ = true;
  std::optional<QUrl> url_;
};

}  // namespace lorvanta
