#pragma once

#include <QString>
#include <QVariant>
#include <QVariantMap>
#include <optional>

namespace lorvanta {

inline constexpr const char* kCFBundleVersionKey = "CFBundleVersion";
inline constexpr const char* kCFBundleShortVersionStringKey = "CFBundleShortVersionString";

// The application's resources: information list ("Info.json"), main interface file and
// string tables (".qm"), found beside the executable or in ../share/lorvanta.
class Bundle {
 public:
  static Bundle& main();
  // Points the main bundle at another resource directory (tests).
  static void setMainResourceDirectory(const QString& directory);

  explicit Bundle(QString resourceDirectory);

  const QString& resourceDirectory() const { return directory_; }
  QString pathForResource(const QString& fileName) const;  // empty when missing
  const QVariantMap& infoDictionary() const { return info_; }
  std::optional<QVariant> objectForInfoDictionaryKey(const QString& key) const;
  // Looks `key` up in string table `table` for the user's language; `defaultValue` when
  // the table or the entry is missing.
  QString localizedString(const QString& key, const QString& defaultValue, const QString& table) const;

 private:
  QString directory_;
  QVariantMap info_;
};

}  // namespace lorvanta
