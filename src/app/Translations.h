#pragma once

#include <QLocale>

class QCoreApplication;

namespace quill {

// Installs the program's translation and Qt's own (the standard buttons of dialogs) for the
// first of the locale's languages that has one. The texts are written in English, so a
// preference for English ahead of others keeps them as they are. The default locale is the
// session's: LANGUAGE, then LC_ALL, LC_MESSAGES and LANG.
void installTranslations(QCoreApplication& app, const QLocale& locale = QLocale());

} // namespace quill
