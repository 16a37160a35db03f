#include "GnomeAccelerator.h"

#include "platform/portal/PortalKeys.h"

#include <array>
#include <utility>
#include <xkbcommon/xkbcommon.h>

namespace quill::gnome {
namespace {

constexpr Qt::KeyboardModifiers relevantModifiers =
    Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier | Qt::MetaModifier;

// GTK's accelerator parser accepts these names, case-insensitively.
Qt::KeyboardModifiers modifierNamed(const QString& name) {
    static const std::array<std::pair<const char*, Qt::KeyboardModifier>, 12> names{{
        {"control", Qt::ControlModifier},
        {"ctrl", Qt::ControlModifier},
        {"ctl", Qt::ControlModifier},
        {"primary", Qt::ControlModifier},
        {"shift", Qt::ShiftModifier},
        {"shft", Qt::ShiftModifier},
        {"alt", Qt::AltModifier},
        {"mod1", Qt::AltModifier},
        {"super", Qt::MetaModifier},
        {"meta", Qt::MetaModifier},
        {"hyper", Qt::MetaModifier},
        {"mod4", Qt::MetaModifier},
    }};
    for (const auto& [modifierName, modifier] : names) {
        if (name.compare(QLatin1String(modifierName), Qt::CaseInsensitive) == 0)
            return modifier;
    }
    return {};
}

} // namespace

QString acceleratorFor(const KeyCombination& combination) {
    const uint32_t keysym = portal::keysymForKey(combination.key);
    std::array<char, 64> name{};
    if (keysym == 0 || xkb_keysym_get_name(keysym, name.data(), name.size()) <= 0)
        return {};
    QString accelerator;
    if (combination.modifiers & Qt::ControlModifier)
        accelerator += QStringLiteral("<Control>");
    if (combination.modifiers & Qt::ShiftModifier)
        accelerator += QStringLiteral("<Shift>");
    if (combination.modifiers & Qt::AltModifier)
        accelerator += QStringLiteral("<Alt>");
    if (combination.modifiers & Qt::MetaModifier)
        accelerator += QStringLiteral("<Super>");
    return accelerator + QString::fromLatin1(name.data());
}

bool acceleratorMatches(const QString& accelerator, const KeyCombination& combination) {
    Qt::KeyboardModifiers modifiers;
    qsizetype at = 0;
    while (at < accelerator.size() && accelerator.at(at) == u'<') {
        const qsizetype end = accelerator.indexOf(u'>', at);
        if (end < 0)
            return false;
        const Qt::KeyboardModifiers modifier = modifierNamed(accelerator.mid(at + 1, end - at - 1));
        // A modifier we do not know (Mod5, Release) makes it some other combination.
        if (!modifier)
            return false;
        modifiers |= modifier;
        at = end + 1;
    }
    const QByteArray keyName = accelerator.mid(at).toUtf8();
    if (keyName.isEmpty())
        return false;
    const xkb_keysym_t keysym = xkb_keysym_from_name(keyName.constData(), XKB_KEYSYM_CASE_INSENSITIVE);
    const uint32_t ours = portal::keysymForKey(combination.key);
    return keysym != XKB_KEY_NoSymbol && ours != 0 &&
           xkb_keysym_to_lower(keysym) == xkb_keysym_to_lower(ours) &&
           modifiers == (combination.modifiers & relevantModifiers);
}

} // namespace quill::gnome
