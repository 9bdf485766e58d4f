#include "platform/ReviewPrompt.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <chrono>
#include <tuple>
#include <vector>

#include "platform/Application.h"
#include "platform/Bundle.h"
#include "platform/Workspace.h"

namespace lorvanta {

namespace {

constexpr OperatingSystemVersion kPlatformVersion{10, 15, 0};
const QString kStringTable = QStringLiteral("Localizable_review");

// The prompt's texts in the user's language; the English text is the key and the fallback.
QString localized(const char* text) {
  const QString key = QString::fromUtf8(text);
  return Bundle::main().localizedString(key, key, kStringTable);
}

std::optional<OperatingSystemVersion>& versionForTesting() {
  static std::optional<OperatingSystemVersion> version;
  return version;
}

QPointer<QDialog>& shownPrompt() {
  static QPointer<QDialog> dialog;
  return dialog;
}

// Hands the activation back to the window that had it when the prompt appeared. The
// prompt asks not to be activated, but some platforms activate every window they show,
// at once or a moment later. Only an activation in that first moment goes back; after it
// the prompt is the user's to click into.
class ReturnActivation : public QObject {
 public:
  ReturnActivation(QDialog* prompt, QWidget* previous) : QObject(prompt), previous_(previous) {
    prompt->installEventFilter(this);
    QTimer::singleShot(kShowingMoment, this, &QObject::deleteLater);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::WindowActivate) {
      watched->removeEventFilter(this);
      if (previous_ && previous_->isVisible()) previous_->activateWindow();
      deleteLater();
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  static constexpr std::chrono::milliseconds kShowingMoment{1000};
  QPointer<QWidget> previous_;
};

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
  // It comes on its own, often while the user types elsewhere (a file name in the save
  // panel): it must not take the keyboard.
  dialog->setAttribute(Qt::WA_ShowWithoutActivating);
  dialog->setWindowTitle(QStringLiteral("Lorvanta"));

  auto* layout = new QVBoxLayout(dialog);
  auto* title = new QLabel(localized("Enjoying Lorvanta?"), dialog);
  QFont font = title->font();
  font.setBold(true);
  title->setFont(font);
  layout->addWidget(title);
  layout->addWidget(new QLabel(localized("If you like it, please take a moment to rate it."), dialog));

  auto* buttons = new QDialogButtonBox(dialog);
  QPushButton* rate = buttons->addButton(localized("Rate Lorvanta"), QDialogButtonBox::AcceptRole);
  rate->setObjectName(QStringLiteral("rateButton"));
  QPushButton* notNow = buttons->addButton(localized("Not Now"), QDialogButtonBox::RejectRole);
  notNow->setObjectName(QStringLiteral("notNowButton"));
  rate->setDefault(true);
  layout->addWidget(buttons);

  QObject::connect(rate, &QPushButton::clicked, dialog, [dialog] {
    Workspace::shared().openURL(QUrl(QString::fromUtf8(kProductPageAddress)));
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
    if (QWidget* active = QApplication::activeWindow()) new ReturnActivation(dialog, active);
    dialog->show();
  } else {
    dialog->raise();  // restacks only: the focus stays where it is
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
