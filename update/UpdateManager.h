#pragma once

#include <QString>
#include <cstdint>
#include <memory>
#include <stop_token>
#include <string>

#include "platform/Dispatch.h"
#include "platform/Workspace.h"

namespace lorvanta {

// The store's lookup service for this application.
inline constexpr const char* kStoreLookupURL = "http://store.lorvanta.app/lookup?id=1482726981";
// The page the update alert's first button opens: the product page.
inline constexpr const char* kUpdatePageAddress = kProductPageAddress;
inline constexpr const char* kUpdateQueueLabel = "app.lorvanta.UpdateManager";

// The skipped-version memory in the user's preferences.
inline constexpr const char* kNoAlertAgainKey = "NO_ALERt_AGAIN";
inline constexpr const char* kNoAlertAgainLocalVersionKey = "NO_ALERt_AGAIN_localVersionVersio";
inline constexpr const char* kNoAlertAgainStoreVersionKey = "NO_ALERt_AGAIN_appStoreVersion";

inline constexpr const char* kUpToDateNote = "已经是最新版本了哦";
inline constexpr const char* kUpdateStringTable = "Localizable_upate";

// Checks once, in the background, whether the store offers a newer version, and offers it
// in an alert on the first window. Nobody owns the manager: the queued check, then the
// delayed alert step, then the alert's completion keep it alive.
class UpdateManager : public std::enable_shared_from_this<UpdateManager> {
 public:
  // Creates a manager and queues its one check of the store lookup; returns at once.
  // The caller may drop the result. Main thread, with the application object made.
  static std::shared_ptr<UpdateManager> create();
  // The same against another lookup address (tests).
  static std::shared_ptr<UpdateManager> create(std::string lookupURL);

  UpdateManager(const UpdateManager&) = delete;
  UpdateManager& operator=(const UpdateManager&) = delete;

  // The check itself; runs on a worker thread of the manager's queue, and ends early when
  // `stop` asks it to (the application quits).
  void checkForNewVersion(std::stop_token stop = {});

  // Main thread. The alert appears once no key has been pressed for 1.5 s and no modal
  // window is open, and takes no key in its first second.
  void showUpdateAlert(float installedVersion, float storeVersion, const QString& storeVersionString,
                       const QString& installedVersionString);
  // `storeVersionString` and `installedVersionString` are the ones the alert was shown with.
  void handleUpdateAlertResponse(int64_t code, const QString& storeVersionString,
                                 const QString& installedVersionString);
  void openUpdatePage();
  void skipThisVersion(const QString& storeVersionString, const QString& installedVersionString);

 private:
  explicit UpdateManager(std::string lookupURL);

  DispatchGroup group;
  DispatchQueue queue;
  const std::string lookupURL_;
};

}  // namespace lorvanta
