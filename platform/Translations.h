#pragma once

#include <QLocale>

namespace lorvanta {

class Bundle;

// Installs the application's string table ("lorvanta_<language>.qm" of `bundle`) and Qt's
// own translations for `locale`'s languages, replacing what an earlier call installed.
// Chinese where the table has it, English (the texts in the code and interface file)
// for every other language. Call before the interface file is loaded.
void installTranslations(const Bundle& bundle, const QLocale& locale = QLocale::system());

}  // namespace lorvanta
