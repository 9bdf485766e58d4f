#pragma once

#include <optional>

#include <QStringList>
#include <QUrl>

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

  // Returns when the user closes the panel: kOK or kCancel.
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
