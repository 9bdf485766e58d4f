#include "platform/Translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>
#include <memory>

#include "platform/Bundle.h"

namespace lorvanta {

namespace {

constexpr const char* kStringTable = "lorvanta";

struct Installed {
  std::unique_ptr<QTranslator> application;
  std::unique_ptr<QTranslator> qt;
};

Installed& installed() {
  static Installed state;
  return state;
}

void install(std::unique_ptr<QTranslator>& slot, std::unique_ptr<QTranslator> translator) {
  QCoreApplication::installTranslator(translator.get());
  slot = std::move(translator);
}

}  // namespace

void installTranslations(const Bundle& bundle, const QLocale& locale) {
  Installed& state = installed();
  for (const auto& translator : {state.application.get(), state.qt.get()}) {
    if (translator != nullptr) QCoreApplication::removeTranslator(translator);
  }
  state = {};

  auto application = std::make_unique<QTranslator>();
  // No table for any of the user's languages: the English texts stand, Qt's included.
  if (!application->load(locale, kStringTable, "_", bundle.resourceDirectory(), ".qm")) return;

  // Qt's dialogs and buttons in the language of our table, not in a third one.
  auto qt = std::make_unique<QTranslator>();
  if (qt->load(QLocale(application->language()), "qtbase", "_",
               QLibraryInfo::path(QLibraryInfo::TranslationsPath), ".qm")) {
    install(state.qt, std::move(qt));
  }
  install(state.application, std::move(application));
}

}  // namespace lorvanta
