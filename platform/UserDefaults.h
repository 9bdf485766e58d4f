#pragma once

#include <QString>
#include <cstdint>
#include <optional>

namespace lorvanta {

// The user's preference store (QSettings, native format, the user's config directory).
// Safe to use from any thread.
class UserDefaults {
 public:
  static UserDefaults& standard();

  bool boolForKey(const QString& key) const;                      // false when absent
  int64_t integerForKey(const QString& key) const;                // 0 when absent
  std::optional<QString> stringForKey(const QString& key) const;  // none when absent or not text
  bool hasKey(const QString& key) const;

  void setBool(bool value, const QString& key);
  void setInteger(int64_t value, const QString& key);
  void setString(const QString& value, const QString& key);
  void removeObjectForKey(const QString& key);
  bool synchronize();
};

}  // namespace lorvanta
