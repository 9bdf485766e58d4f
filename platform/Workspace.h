#pragma once

#include <functional>
#include <optional>

#include <QUrl>

namespace lorvanta {

// Opens URLs in the user's default browser.
class Workspace {
 public:
  using Opener = std::function<bool(const QUrl&)>;

  static Workspace& shared();
  bool openURL(const QUrl& url);
  // Replaces the browser hand-off (tests record what was opened); empty restores it.
  void setOpener(Opener opener);

 private:
  Opener opener_;
};

// A URL from text, or none for text that is not a valid absolute URL.
std::optional<QUrl> urlFromString(const QString& text);

}  // namespace lorvanta
