#pragma once

#include <QList>
#include <QLocale>
#include <QString>

namespace quill {

struct LanguageChoice {
    QString code; // ISO 639-1, as the backend takes it
    QString name;
};

// The languages the speech model recognises, each named in the language of `displayLocale`
// (English where that language has no name for it) and sorted by that name.
QList<LanguageChoice> transcriptionLanguages(const QLocale& displayLocale = QLocale());

} // namespace quill
