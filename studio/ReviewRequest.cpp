// Counting speak and save requests, and asking for the rating prompt once per build.

#include <cstdint>
#include <cstdio>
#include <limits>
#include <memory>
#include <string>

#include "base/ConsoleLine.h"
#include "platform/Bundle.h"
#include "platform/MainQueue.h"
#include "platform/ReviewPrompt.h"
#include "platform/UserDefaults.h"
#include "studio/ViewController.h"

namespace lorvanta {

namespace {

const QString kRequestReviewIDKey = QStringLiteral("requestReviewID");
const QString kLastVersionPromptedForReviewKey = QStringLiteral("lastVersionPromptedForReview");
constexpr int64_t kRequestsBeforePrompt = 4;
constexpr double kPromptDelaySeconds = 2.0;
constexpr OperatingSystemVersion kLowestPromptSystemVersion{10, 14, 0};

// The text quoted as a string literal, so the console line stays one line.
std::string quoted(const QString& text) {
  std::string out = "\"";
  for (char c : text.toStdString()) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\0':
        out += "\\0";
        break;
      default:
        out += c;
    }
  }
  return out + "\"";
}

}  // namespace

void ViewController::countClickForReview() {
  UserDefaults& defaults = UserDefaults::standard();
  const int64_t previous = defaults.integerForKey(kRequestReviewIDKey);
  // The counter has no successor at its largest value: it stays there.
  const int64_t n = previous < std::numeric_limits<int64_t>::max() ? previous + 1 : previous;
  defaults.setInteger(n, kRequestReviewIDKey);

  const std::optional<QVariant> version = Bundle::main().objectForInfoDictionaryKey(kCFBundleVersionKey);
  if (!version || version->typeId() != QMetaType::QString) {
    printLine("Expected to find a bundle version in the info dictionary", stderr);
    return;
  }
  const QString buildNumber = version->toString();

  const std::optional<QString> lastPrompted = defaults.stringForKey(kLastVersionPromptedForReviewKey);
  const bool pastThreshold = n > kRequestsBeforePrompt;
  printLine(buildNumber.toStdString() + " " +
            (lastPrompted ? "Optional(" + quoted(*lastPrompted) + ")" : "nil") + " " +
            (pastThreshold ? "true" : "false") + " " + std::to_string(n));

  if (!pastThreshold) return;
  if (lastPrompted && *lastPrompted == buildNumber) return;

  mainQueueAfter(kPromptDelaySeconds, [this, alive = std::weak_ptr<const bool>(lifetime_), buildNumber] {
    if (alive.expired()) return;
    requestReviewOnce(buildNumber);
  });
}

void ViewController::requestReviewOnce(const QString& buildNumber) {
  if (!ReviewPrompt::isOperatingSystemAtLeastVersion(kLowestPromptSystemVersion)) return;
  printLine("tc");
  ReviewPrompt::requestReview();
  UserDefaults::standard().setString(buildNumber, kLastVersionPromptedForReviewKey);
}

}  // namespace lorvanta
