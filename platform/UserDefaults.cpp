#include "platform/UserDefaults.h"

#include <QSettings>
#include <QVariant>
#include <cmath>
#include <mutex>

namespace lorvanta {

namespace {

std::mutex& settingsMutex() {
  static std::mutex mutex;
  return mutex;
}

// One QSettings per call: QSettings objects must not be shared between threads, and Qt
// keeps the parsed file cached for the whole process, so this stays cheap.
QSettings openSettings() {
  return QSettings(QSettings::NativeFormat, QSettings::UserScope, "Lorvanta", "Lorvanta");
}

QVariant readValue(const QString& key) {
  std::lock_guard lock(settingsMutex());
  return openSettings().value(key);
}

bool isTextOrNumber(const QVariant& value) {
  switch (value.typeId()) {
    case QMetaType::QString:
    case QMetaType::QByteArray:
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Float:
      return true;
    default:
      return false;
  }
}

}  // namespace

UserDefaults& UserDefaults::standard() {
  static UserDefaults defaults;
  return defaults;
}

bool UserDefaults::boolForKey(const QString& key) const {
  const QVariant value = readValue(key);
  if (!isTextOrNumber(value)) return false;
  if (value.typeId() == QMetaType::Bool) return value.toBool();
  // The settings file keeps every scalar as text.
  const QString text = value.toString().trimmed().toLower();
  if (text == "true" || text == "yes") return true;
  bool ok = false;
  const double number = text.toDouble(&ok);
  return ok && number != 0.0;
}

int64_t UserDefaults::integerForKey(const QString& key) const {
  const QVariant value = readValue(key);
  if (!isTextOrNumber(value)) return 0;
  if (value.typeId() == QMetaType::Bool) return value.toBool() ? 1 : 0;
  const QString text = value.toString().trimmed();
  bool ok = false;
  const qlonglong whole = text.toLongLong(&ok);
  if (ok) return whole;
  const double number = text.toDouble(&ok);
  if (ok && std::isfinite(number) && number >= -9223372036854775808.0 && number < 9223372036854775808.0) {
    return static_cast<int64_t>(number);
  }
  const QString word = text.toLower();
  if (word == "true" || word == "yes") return 1;
  return 0;
}

std::optional<QString> UserDefaults::stringForKey(const QString& key) const {
  const QVariant value = readValue(key);
  if (!isTextOrNumber(value)) return std::nullopt;
  return value.toString();
}

bool UserDefaults::hasKey(const QString& key) const {
  std::lock_guard lock(settingsMutex());
  return openSettings().contains(key);
}

void UserDefaults::setBool(bool value, const QString& key) {
  std::lock_guard lock(settingsMutex());
  QSettings settings = openSettings();
  settings.setValue(key, value);
}

void UserDefaults::setInteger(int64_t value, const QString& key) {
  std::lock_guard lock(settingsMutex());
  QSettings settings = openSettings();
  settings.setValue(key, static_cast<qlonglong>(value));
}

void UserDefaults::setString(const QString& value, const QString& key) {
  std::lock_guard lock(settingsMutex());
  QSettings settings = openSettings();
  settings.setValue(key, value);
}

void UserDefaults::removeObjectForKey(const QString& key) {
  std::lock_guard lock(settingsMutex());
  QSettings settings = openSettings();
  settings.remove(key);
}

bool UserDefaults::synchronize() {
  std::lock_guard lock(settingsMutex());
  QSettings settings = openSettings();
  settings.sync();
  return settings.status() == QSettings::NoError;
}

}  // namespace lorvanta
