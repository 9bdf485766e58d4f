#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>

#include "platform/Bundle.h"

namespace lorvanta {
namespace {

TEST(Bundle, MainBundleIsBesideTheExecutableInTheBuildTree) {
  const Bundle& bundle = Bundle::main();
  EXPECT_EQ(QDir(bundle.resourceDirectory()).canonicalPath(), QDir(LORVANTA_RESOURCE_DIR).canonicalPath());
  EXPECT_FALSE(bundle.pathForResource("main.ui").isEmpty());
  EXPECT_TRUE(bundle.pathForResource("no-such-file.ui").isEmpty());
  EXPECT_TRUE(bundle.pathForResource("").isEmpty());
}

TEST(Bundle, InformationListCarriesBothVersions) {
  const Bundle& bundle = Bundle::main();
  const auto build = bundle.objectForInfoDictionaryKey(kCFBundleVersionKey);
  const auto version = bundle.objectForInfoDictionaryKey(kCFBundleShortVersionStringKey);
  ASSERT_TRUE(build.has_value());
  ASSERT_TRUE(version.has_value());
  EXPECT_FALSE(build->toString().isEmpty());
  EXPECT_TRUE(version->toString().contains('.')) << version->toString().toStdString();
  EXPECT_FALSE(bundle.objectForInfoDictionaryKey("NoSuchKey").has_value());
}

TEST(Bundle, DirectoryWithoutInformationListHasNoKeys) {
  QTemporaryDir dir;
  Bundle bundle(dir.path());
  EXPECT_TRUE(bundle.infoDictionary().isEmpty());
  EXPECT_FALSE(bundle.objectForInfoDictionaryKey(kCFBundleVersionKey).has_value());
  EXPECT_EQ(bundle.localizedString("有新版本", "default", "Sample"), "default");
}

TEST(Bundle, LocalizedStringFromTheTableOfTheUserLanguage) {
  ASSERT_TRUE(QLocale::system().uiLanguages().join(' ').startsWith("de")) << "test main sets LANGUAGE";
  Bundle bundle(LORVANTA_TEST_DATA_DIR);
  EXPECT_EQ(bundle.localizedString(QString::fromUtf8("有新版本"), "fallback", "Sample"),
            QString::fromUtf8("Neue Version verfügbar"));
  // No entry, an empty translation, a table that does not exist: the default value.
  EXPECT_EQ(bundle.localizedString("missing", "fallback", "Sample"), "fallback");
  EXPECT_EQ(bundle.localizedString("untranslated", "untranslated", "Sample"), "untranslated");
  EXPECT_EQ(bundle.localizedString(QString::fromUtf8("有新版本"), "fallback", "NoTable"), "fallback");
}

TEST(Bundle, ALanguageWithoutATableGetsTheEnglishOne) {
  // The test main sets German; the application's own tables are Chinese and English.
  Bundle bundle(LORVANTA_RESOURCE_DIR);
  EXPECT_EQ(bundle.localizedString(QString::fromUtf8("去更新"), "fallback", "Localizable_upate"), "Update");
}

TEST(Bundle, SetMainResourceDirectoryKeepsOldReferencesValid) {
  const Bundle& before = Bundle::main();
  const QString original = before.resourceDirectory();
  QTemporaryDir dir;
  QFile info(dir.filePath("Info.json"));
  ASSERT_TRUE(info.open(QIODevice::WriteOnly));
  info.write(R"({"CFBundleVersion": "77", "CFBundleShortVersionString": "2.5"})");
  info.close();
  Bundle::setMainResourceDirectory(dir.path());
  EXPECT_EQ(Bundle::main().objectForInfoDictionaryKey(kCFBundleVersionKey)->toString(), "77");
  EXPECT_EQ(before.resourceDirectory(), original);
  Bundle::setMainResourceDirectory(original);
}

}  // namespace
}  // namespace lorvanta
