#pragma once

#include <QUrl>
#include <functional>
#include <optional>

namespace lorvanta {

// The application's product page on the maker's web site: the update alert and the rating
// prompt both open it.
inline constexpr const char* kProductPageAddress = "https://www.lorvanta.app/apps/lorvanta";

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
