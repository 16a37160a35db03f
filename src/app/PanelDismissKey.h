#pragma once

#include "shortcuts/Shortcut.h"

#include <QObject>
#include <QString>
#include <memory>

namespace quill {

class GlobalShortcutService;
class OverlayPanelController;
class ShortcutRegistry;
class TranscribeSequence;

// Escape dismisses the panel as it dismisses any popup, although the panel never takes the
// focus: the key is taken from the applications while the panel is on screen, and left to them
// otherwise. While a recording runs, the recording's cancel key (Escape unless the user chose
// another) is the one that takes the panel away, so that no key is taken twice.
class PanelDismissKey : public QObject {
    Q_OBJECT
public:
    static constexpr Shortcut escape{53, 0};

    PanelDismissKey(OverlayPanelController& overlay, TranscribeSequence& transcribe,
                    ShortcutRegistry& registry, QObject* parent = nullptr);
    ~PanelDismissKey() override;

    GlobalShortcutService& shortcutService() { return *m_service; }
    // Why the desktop refused Escape, if it did: then the key is not asked for again, and the
    // panel's close button is the way to dismiss it.
    const QString& refusal() const { return m_refusal; }

private:
    void update();

    OverlayPanelController& m_overlay;
    TranscribeSequence& m_transcribe;
    std::unique_ptr<GlobalShortcutService> m_service;
    QString m_refusal;
};

} // namespace quill
