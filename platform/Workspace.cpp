#include "platform/Workspace.h"

#include <QDesktopServices>

namespace lorvanta {

Workspace& Workspace::shared() {
  static Workspace workspace;
  return workspace;
}

bool Workspace::openURL(const QUrl& url) {
  if (opener_) return opener_(url);
  return QDesktopServices::openUrl(url);
}

void Workspace::setOpener(Opener opener) { opener_ = std::move(opener); }

std::optional<QUrl> urlFromString(const QString& text) {
  QUrl url(text, QUrl::StrictMode);
  if (!url.isValid() || url.scheme().isEmpty()) return std::nullopt;
  return url;
}

}  // namespace lorvanta
