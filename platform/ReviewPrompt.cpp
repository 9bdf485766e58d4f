#include "platform/ReviewPrompt.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>
#include <tuple>
#include <vector>

#include "platform/Application.h"
#include "platform/Workspace.h"

namespace lorvanta {

namespace {

constexpr OperatingSystemVersion kPlatformVersion{10, 15, 0};
const char* const kProductPage = "https://www.lorvanta.app/lorvanta";

std::optional<OperatingSystemVersion>& versionForTesting() {
  static std::optional<OperatingSystemVersion> version;
  return version;
}

QPointer<QDialog>& shownPrompt() {
  static QPointer<QDialog> dialog;
  return dialog;
}

// The main window, not whatever window is active: a panel open at the moment would take
// the prompt with it when it closes.
QWidget* promptParent() {
  const std::vector<QWidget*> windows = applicationWindows();
  return windows.empty() || qobject_cast<QDialog*>(windows.front()) ? nullptr : windows.front();
}

QDialog* makePrompt() {
  auto* dialog = new QDialog(promptParent());
  dialog->setObjectName(QString::fromLatin1(ReviewPrompt::kDialogObjectName));
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setModal(false);
  dialog->setWindowTitle(QStringLiteral("Lorvanta"));

  auto* layout = new QVBoxLayout(dialog);
  auto* title = new QLabel(QStringLiteral("Enjoying Lorvanta?"), dialog);
  QFont font = title->font();
  font.setBold(true);
  title->setFont(font);
  layout->addWidget(title);
  layout->addWidget(new QLabel(QStringLiteral("If you like it, please take a moment to rate it."), dialog));

  auto* buttons = new QDialogButtonBox(dialog);
  QPushButton* rate = buttons->addButton(QStringLiteral("Rate Lorvanta"), QDialogButtonBox::AcceptRole);
  rate->setObjectName(QStringLiteral("rateButton"));
  QPushButton* notNow = buttons->addButton(QStringLiteral("Not Now"), QDialogButtonBox::RejectRole);
  notNow->setObjectName(QStringLiteral("notNowButton"));
  rate->setDefault(true);
  layout->addWidget(buttons);

  QObject::connect(rate, &QPushButton::clicked, dialog, [dialog] {
    Workspace::shared().openURL(QUrl(QString::fromLatin1(kProductPage)));
    dialog->close();
  });
  QObject::connect(notNow, &QPushButton::clicked, dialog, &QDialog::close);
  return dialog;
}

}  // namespace

void ReviewPrompt::requestReview() {
  if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) return;
  QPointer<QDialog>& dialog = shownPrompt();
  if (dialog.isNull() || !dialog->isVisible()) {
    // A closed prompt is on its way out; a new one takes its place.
    if (dialog) dialog->deleteLater();
    dialog = makePrompt();
    dialog->show();
  } else {
    dialog->raise();
  }
}

OperatingSystemVersion ReviewPrompt::systemVersion() {
  return versionForTesting().value_or(kPlatformVersion);
}

bool ReviewPrompt::isOperatingSystemAtLeastVersion(const OperatingSystemVersion& version) {
  const OperatingSystemVersion running = systemVersion();
  return std::tie(running.majorVersion, running.minorVersion, running.patchVersion) >=
         std::tie(version.majorVersion, version.minorVersion, version.patchVersion);
}

void ReviewPrompt::setSystemVersionForTesting(std::optional<OperatingSystemVersion> version) {
  versionForTesting() = version;
}

}  // namespace lorvanta
