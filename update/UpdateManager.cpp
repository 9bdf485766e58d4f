#include "update/UpdateManager.h"

#include <QVariant>
#include <optional>
#include <string>

#include "base/ConsoleLine.h"
#include "platform/Alert.h"
#include "platform/Application.h"
#include "platform/Bundle.h"
#include "platform/MainQueue.h"
#include "platform/NumberTextQt.h"
#include "platform/UserDefaults.h"
#include "platform/UserInput.h"
#include "platform/Workspace.h"
#include "update/StoreLookup.h"
#include "update/StoreReply.h"

namespace lorvanta {

namespace {

constexpr double kAlertDelaySeconds = 2.0;
// The alert waits until the keyboard has been quiet this long, so it takes no key typed for
// something else.
constexpr double kQuietKeyboardSeconds = 1.5;
// Keys do not press the alert's buttons this long after it appears.
constexpr double kAlertKeysIgnoredSeconds = 1.0;

QString localized(const char* key) {
  const QString text = QString::fromUtf8(key);
  return Bundle::main().localizedString(text, text, QString::fromUtf8(kUpdateStringTable));
}

}  // namespace

std::shared_ptr<UpdateManager> UpdateManager::create() { return create(kStoreLookupURL); }

std::shared_ptr<UpdateManager> UpdateManager::create(std::string lookupURL) {
  prepareStoreLookup();
  watchKeyPresses();
  std::shared_ptr<UpdateManager> manager(new UpdateManager(std::move(lookupURL)));
  manager->queue.async(manager->group,
                       [manager](std::stop_token stop) { manager->checkForNewVersion(std::move(stop)); });
  return manager;
}

UpdateManager::UpdateManager(std::string lookupURL)
    : queue(kUpdateQueueLabel), lookupURL_(std::move(lookupURL)) {}

void UpdateManager::checkForNewVersion(std::stop_token stop) {
  const std::optional<QString> body = readURLContents(lookupURL_, stop);
  if (!body || stop.stop_requested()) return;

  const std::optional<QString> storeString = storeVersionString(dictionaryFromJSONText(*body));
  if (!storeString) return;
  const std::optional<float> storeNumber = parseDecimalText(*storeString);
  if (!storeNumber) return;
  const std::optional<QVariant> installedValue =
      Bundle::main().objectForInfoDictionaryKey(kCFBundleShortVersionStringKey);
  if (!installedValue || installedValue->typeId() != QMetaType::QString) return;
  const QString installedString = installedValue->toString();
  const std::optional<float> installedNumber = parseDecimalText(installedString);
  if (!installedNumber) return;
  const float S = *storeNumber;
  const float L = *installedNumber;

  UserDefaults& defaults = UserDefaults::standard();
  const bool skipped = defaults.boolForKey(kNoAlertAgainKey);
  bool offer = S > L && !skipped;
  if (const std::optional<QString> skippedLocal = defaults.stringForKey(kNoAlertAgainLocalVersionKey)) {
    const float SL = parseDecimalText(*skippedLocal).value_or(0.0f);
    const float SS =
        parseDecimalText(defaults.stringForKey(kNoAlertAgainStoreVersionKey).value_or(QStringLiteral("0")))
            .value_or(0.0f);
    if (skipped && L == SL && S == SS) {
      offer = false;
    } else {
      defaults.setBool(false, kNoAlertAgainKey);
      defaults.synchronize();
      offer = S > L;
    }
  }

  if (!offer) {
    printLine(kUpToDateNote);
    return;
  }
  mainQueueAfter(kAlertDelaySeconds,
                 [self = shared_from_this(), L, S, storeString = *storeString, installedString] {
                   self->showUpdateAlert(L, S, storeString, installedString);
                 });
}

void UpdateManager::showUpdateAlert(float installedVersion, float storeVersion,
                                    const QString& storeVersionString,
                                    const QString& installedVersionString) {
  Alert alert;
  alert.setMessageText(localized("检测到新版本"));
  const QString installedLabel = localized("本地版本");
  const QString storeLabel = localized("最新版本");
  alert.setInformativeText(installedLabel + QStringLiteral(": ") + floatText(installedVersion) +
                           QLatin1Char('\n') + storeLabel + QStringLiteral(": ") + floatText(storeVersion));
  alert.addButtonWithTitle(localized("去更新"));
  alert.addButtonWithTitle(localized("跳过本版本更新"));
  alert.addButtonWithTitle(localized("以后再说"));
  alert.setKeysIgnoredFor(kAlertKeysIgnoredSeconds);

  if (applicationWindows().empty()) return;
  // Not while the user types or answers another modal window; then on the first window of
  // that moment.
  whenUserIsIdle(kQuietKeyboardSeconds,
                 [alert, self = shared_from_this(), storeVersionString, installedVersionString] {
                   const std::vector<QWidget*> windows = applicationWindows();
                   if (windows.empty()) return;
                   alert.beginSheetModalForWindow(
                       windows.front(), [self, storeVersionString, installedVersionString](int64_t code) {
                         self->handleUpdateAlertResponse(code, storeVersionString, installedVersionString);
                       });
                 });
}

void UpdateManager::handleUpdateAlertResponse(int64_t code, const QString& storeVersionString,
                                              const QString& installedVersionString) {
  if (code == Alert::kSecondButtonReturn) {
    skipThisVersion(storeVersionString, installedVersionString);
  } else if (code == Alert::kFirstButtonReturn) {
    openUpdatePage();
  }
}

void UpdateManager::openUpdatePage() {
  const std::optional<QUrl> url = urlFromString(QString::fromUtf8(kUpdatePageAddress));
  if (!url) return;
  Workspace::shared().openURL(*url);
}

void UpdateManager::skipThisVersion(const QString& storeVersionString,
                                    const QString& installedVersionString) {
  UserDefaults& defaults = UserDefaults::standard();
  defaults.setBool(true, kNoAlertAgainKey);
  defaults.setString(installedVersionString, kNoAlertAgainLocalVersionKey);
  defaults.setString(storeVersionString, kNoAlertAgainStoreVersionKey);
  defaults.synchronize();
}

}  // namespace lorvanta
