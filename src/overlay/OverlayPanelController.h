#pragma once

#include "ExplanationViewModel.h"
#include "PanelPlacement.h"

#include <QObject>
#include <QTimer>
#include <QVariantAnimation>
#include <functional>
#include <memory>
#include <optional>

namespace quill {

class ExplanationView;
class OverlayPanelWindow;
class PanelWindowHelper;

// Owns the floating panel: shows it beside the pointer, keeps its height fitted to the
// content while text streams in, hides it, and dismisses errors after a while. Keeps the last
// explanation it showed, so that the user can bring it back after the panel went away.
class OverlayPanelController : public QObject {
    Q_OBJECT
public:
    struct Timing {
        int dismissMs = 5000;
        int resizeThrottleMs = 150;
        int resizeAnimationMs = 200;
        // How long the panel waits for the window system to say where the pointer is; a later
        // answer moves the panel that is shown meanwhile.
        int pointerWaitMs = 40;
    };
    using DisplayLayoutProvider = std::function<DisplayLayout()>;

    explicit OverlayPanelController(PanelWindowHelper& helper, QObject* parent = nullptr);
    OverlayPanelController(PanelWindowHelper& helper, Timing timing, DisplayLayoutProvider displayLayout,
                           QObject* parent = nullptr);
    ~OverlayPanelController() override;

    ExplanationViewModel& viewModel() { return m_viewModel; }
    OverlayPanelWindow* panel() const { return m_panel.get(); }
    ExplanationView* contentView() const { return m_contentView; }

    void showPanel();
    void hide();
    void showRecording(const QString& message);
    void showError(const QString& message, bool autoDismiss);
    void updatePanelSize(bool animate);
    void scheduleResize();
    void finishStreaming();
    void finishDetailLoading();

    bool isPanelVisible() const;
    bool hasLastAnswer() const { return m_lastAnswer.has_value(); }
    // Shows the last explanation again, as it was, without asking for it anew.
    void showLastAnswer();

    bool isDismissPending() const { return m_dismissTimer.isActive(); }
    bool isResizePending() const { return m_resizeThrottle.isActive(); }

    // The pointer and the screens as the window system reports them.
    static DisplayLayout currentDisplayLayout(PanelWindowHelper& helper);

signals:
    // The user's requests from the panel; a dismissal the controller handles itself.
    void detailRequested();
    void pasteRequested(const QString& text);
    // The panel came on screen or went away, whatever made it.
    void panelVisibilityChanged(bool visible);
    void lastAnswerAvailable();

private:
    void setupPanel();
    void pointerAnswered(std::optional<QPoint> pointer);
    void placeAndShow(std::optional<QPoint> pointer);
    void keepAnswer();

    struct Answer {
        QString text;
        std::optional<QString> detailedText;
        bool isExpanded = false;
    };

    ExplanationViewModel m_viewModel;
    PanelWindowHelper& m_helper;
    Timing m_timing;
    DisplayLayoutProvider m_displayLayout;
    std::unique_ptr<OverlayPanelWindow> m_panel;
    ExplanationView* m_contentView = nullptr;
    QTimer m_dismissTimer;
    QTimer m_resizeThrottle;
    QTimer m_pointerWait;
    quint64 m_placement = 0;
    bool m_waitingForPointer = false;
    QVariantAnimation m_resizeAnimation;
    std::optional<Answer> m_lastAnswer;
};

} // namespace quill
