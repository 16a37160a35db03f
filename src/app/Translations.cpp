#include "Translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace quill {
namespace {

bool install(QCoreApplication& app, const QString& language, const QString& name, const QString& directory) {
    auto* translator = new QTranslator(&app);
    if (translator->load(name + u'_' + language, directory) && app.installTranslator(translator))
        return true;
    delete translator;
    return false;
}

} // namespace

void installTranslations(QCoreApplication& app, const QLocale& locale) {
    const QString qtTranslations = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    for (QString language : locale.uiLanguages()) {
        if (language == u'C' || language == QStringLiteral("en") ||
            language.startsWith(QStringLiteral("en-")))
            return;
        language.replace(u'-', u'_');
        if (install(app, language, QStringLiteral("quillpoint"), QStringLiteral(":/i18n"))) {
            install(app, language, QStringLiteral("qtbase"), qtTranslations);
            return;
        }
    }
}

} // namespace quill
