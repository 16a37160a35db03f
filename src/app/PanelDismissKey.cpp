#include "PanelDismissKey.h"

#include "TranscribeSequence.h"
#include "overlay/OverlayPanelController.h"
#include "shortcuts/GlobalShortcutService.h"
#include "shortcuts/ShortcutRegistry.h"

namespace quill {

PanelDismissKey::PanelDismissKey(OverlayPanelController& overlay, TranscribeSequence& transcribe,
                                 ShortcutRegistry& registry, QObject* parent)
    : QObject(parent)
    , m_overlay(overlay)
    , m_transcribe(transcribe)
    , m_service(std::make_unique<GlobalShortcutService>(escape, registry)) {
    m_service->setDescription(tr("Dismiss Panel"));
    connect(m_service.get(), &GlobalShortcutService::triggered, &m_overlay, &OverlayPanelController::hide);
    // Queued: taking the key may ask the desktop, which must not hold up the panel's first paint.
    connect(&m_overlay, &OverlayPanelController::panelVisibilityChanged, this, &PanelDismissKey::update,
            Qt::QueuedConnection);
    // Direct: the cancel key takes Escape over as soon as the recording starts, and hands it back
    // at once when it ends.
    connect(&m_transcribe, &TranscribeSequence::recordingChanged, this, &PanelDismissKey::update);
    // Asking again at every show would only be refused again.
    connect(&registry, &ShortcutRegistry::lateFailureReported, this, [this](const QString& message) {
        if (!m_service->isRegistered() || m_service->registrationError() != message)
            return;
        m_refusal = message;
        m_service->unregister();
    });
}

PanelDismissKey::~PanelDismissKey() = default;

void PanelDismissKey::update() {
    const bool wanted = m_refusal.isEmpty() && m_overlay.isPanelVisible() && !m_transcribe.isTranscribing();
    if (wanted == m_service->isRegistered())
        return;
    if (wanted)
        m_service->registerShortcut();
    else
        m_service->unregister();
}

} // namespace quill
