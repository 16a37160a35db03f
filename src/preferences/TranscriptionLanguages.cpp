#include "TranscriptionLanguages.h"

#include <QCollator>
#include <algorithm>
#include <array>
#include <unicode/uloc.h>

namespace quill {
namespace {

// Whisper's languages that have a two-letter code.
constexpr std::array<const char*, 98> languageCodes = {
    "af", "am", "ar", "as", "az", "ba", "be", "bg", "bn", "bo", "br", "bs", "ca", "cs", "cy", "da", "de",
    "el", "en", "es", "et", "eu", "fa", "fi", "fo", "fr", "gl", "gu", "ha", "he", "hi", "hr", "ht", "hu",
    "hy", "id", "is", "it", "ja", "jv", "ka", "kk", "km", "kn", "ko", "la", "lb", "ln", "lo", "lt", "lv",
    "mg", "mi", "mk", "ml", "mn", "mr", "ms", "mt", "my", "ne", "nl", "nn", "no", "oc", "pa", "pl", "ps",
    "pt", "ro", "ru", "sa", "sd", "si", "sk", "sl", "sn", "so", "sq", "sr", "su", "sv", "sw", "ta", "te",
    "tg", "th", "tk", "tl", "tr", "tt", "uk", "ur", "uz", "vi", "yi", "yo", "zh",
};

QString displayName(const char* code, const QByteArray& displayLocale) {
    std::array<UChar, 128> buffer{};
    UErrorCode status = U_ZERO_ERROR;
    const int32_t length = uloc_getDisplayLanguage(code, displayLocale.constData(), buffer.data(),
                                                   int32_t(buffer.size()), &status);
    if (U_FAILURE(status) || length <= 0 || length > int32_t(buffer.size()))
        return QString::fromLatin1(code);
    QString name = QString::fromUtf16(reinterpret_cast<const char16_t*>(buffer.data()), length);
    // Names in running text start in lower case in many languages; in a list they lead.
    if (!name.isEmpty())
        name[0] = name.at(0).toUpper();
    return name;
}

} // namespace

QList<LanguageChoice> transcriptionLanguages(const QLocale& displayLocale) {
    const QByteArray localeName = displayLocale.name().toUtf8();
    QList<LanguageChoice> choices;
    choices.reserve(qsizetype(languageCodes.size()));
    for (const char* code : languageCodes)
        choices.append({QString::fromLatin1(code), displayName(code, localeName)});
    QCollator collator(displayLocale);
    std::ranges::sort(choices, [&collator](const LanguageChoice& a, const LanguageChoice& b) {
        return collator.compare(a.name, b.name) < 0;
    });
    return choices;
}

} // namespace quill
