#pragma once

#include <optional>

namespace lorvanta {

struct OperatingSystemVersion {
  int majorVersion = 0;
  int minorVersion = 0;
  int patchVersion = 0;
};

// The platform's rating prompt: a small non-modal dialog inviting a rating. Main thread.
class ReviewPrompt {
 public:
  // Object name of the prompt's dialog.
  static constexpr const char* kDialogObjectName = "ReviewPromptDialog";

  // Shows the prompt without blocking and without taking the focus (or raises the one
  // already shown); its texts come from the string table "Localizable_review". The caller learns
  // nothing of the answer. Does nothing without a QApplication.
  static void requestReview();
  // The running system's version as the rating prompt sees it. This platform always offers
  // the prompt, so it answers 10.15.0 unless a test set another version.
  static OperatingSystemVersion systemVersion();
  static bool isOperatingSystemAtLeastVersion(const OperatingSystemVersion& version);
  // Tests: pretend to run on another version (none restores the real one).
  static void setSystemVersionForTesting(std::optional<OperatingSystemVersion> version);
};

}  // namespace lorvanta
