#pragma once

#include <optional>

namespace lorvanta {

struct OperatingSystemVersion {
  int majorVersion = 0;
  int minorVersion = 0;
  int patchVersion = 0;
};

// The platform's rating prompt: a small non-modal dialog inviting a rating.
class ReviewPrompt {
 public:
  // Shows the prompt without blocking; the caller learns nothing of the answer.
  static void requestReview();
  // The running system's version as the rating prompt sees it.
  static OperatingSystemVersion systemVersion();
  static bool isOperatingSystemAtLeastVersion(const OperatingSystemVersion& version);
  // Tests: pretend to run on another version (none restores the real one).
  static void setSystemVersionForTesting(std::optional<OperatingSystemVersion> version);
};

}  // namespace lorvanta
