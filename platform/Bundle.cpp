#include "platform/Bundle.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QTranslator>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace lorvanta {

namespace {

constexpr const char* kInfoFileName = "Info.json";

QString executableDirectory() {
  if (QCoreApplication::instance() != nullptr) return QCoreApplication::applicationDirPath();
  return QFileInfo(QFileInfo("/proc/self/exe").canonicalFilePath()).absolutePath();
}

// Beside the executable in the build tree; <prefix>/share/lorvanta once installed.
QString defaultResourceDirectory() {
  const QString exeDir = executableDirectory();
  if (QFileInfo::exists(QDir(exeDir).filePath(kInfoFileName))) return exeDir;
  return QDir::cleanPath(QDir(exeDir).filePath("../share/lorvanta"));
}

// Replaced bundles stay alive, so a reference taken from main() never dangles.
struct MainBundle {
  std::mutex mutex;
  std::vector<std::unique_ptr<Bundle>> bundles;
};

MainBundle& mainBundle() {
  static MainBundle state;
  return state;
}

// Loaded string tables, by directory and table name. Tables are loaded once and then only
// read, so lookups from several threads are fine.
struct Tables {
  std::mutex mutex;
  std::map<std::pair<QString, QString>, std::unique_ptr<QTranslator>> loaded;
};

Tables& tables() {
  static Tables state;
  return state;
}

const QTranslator* tableFor(const QString& directory, const QString& table) {
  Tables& state = tables();
  std::lock_guard lock(state.mutex);
  auto key = std::make_pair(directory, table);
  auto it = state.loaded.find(key);
  if (it == state.loaded.end()) {
    auto translator = std::make_unique<QTranslator>();
    // Tries "<table>_<language>.qm" for each of the user's UI languages, most specific first;
    // English for every other language.
    if (!translator->load(QLocale::system(), table, "_", directory, ".qm") &&
        !translator->load(table + QStringLiteral("_en"), directory, QString(), ".qm")) {
      translator.reset();
    }
    it = state.loaded.emplace(std::move(key), std::move(translator)).first;
  }
  return it->second.get();
}

}  // namespace

Bundle& Bundle::main() {
  MainBundle& state = mainBundle();
  std::lock_guard lock(state.mutex);
  if (state.bundles.empty()) state.bundles.push_back(std::make_unique<Bundle>(defaultResourceDirectory()));
  return *state.bundles.back();
}

void Bundle::setMainResourceDirectory(const QString& directory) {
  MainBundle& state = mainBundle();
  std::lock_guard lock(state.mutex);
  state.bundles.push_back(std::make_unique<Bundle>(directory));
}

Bundle::Bundle(QString resourceDirectory) : directory_(std::move(resourceDirectory)) {
  QFile file(QDir(directory_).filePath(kInfoFileName));
  if (file.open(QIODevice::ReadOnly)) {
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
    if (document.isObject()) info_ = document.object().toVariantMap();
  }
}

QString Bundle::pathForResource(const QString& fileName) const {
  if (fileName.isEmpty()) return {};
  const QString path = QDir(directory_).filePath(fileName);
  return QFileInfo(path).isFile() ? path : QString();
}

std::optional<QVariant> Bundle::objectForInfoDictionaryKey(const QString& key) const {
  auto it = info_.find(key);
  if (it == info_.end()) return std::nullopt;
  return *it;
}

QString Bundle::localizedString(const QString& key, const QString& defaultValue, const QString& table) const {
  const QTranslator* translator = tableFor(directory_, table);
  if (translator == nullptr) return defaultValue;
  const QString text = translator->translate(table.toUtf8().constData(), key.toUtf8().constData());
  return text.isEmpty() ? defaultValue : text;
}

}  // namespace lorvanta
