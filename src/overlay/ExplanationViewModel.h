#pragma once

#include <QObject>
#include <QString>
#include <optional>

namespace quill {

// What the overlay's content area shows. `text` carries the content or the error message.
class ExplanationState {
public:
    enum class Kind { content, error, idle, loading };

    static ExplanationState content(QString text) { return {Kind::content, std::move(text)}; }
    static ExplanationState error(QString message) { return {Kind::error, std::move(message)}; }
    static ExplanationState idle() { return {Kind::idle, {}}; }
    static ExplanationState loading() { return {Kind::loading, {}}; }

    Kind kind() const { return m_kind; }
    const QString& text() const { return m_text; }

    friend bool operator==(const ExplanationState& a, const ExplanationState& b) {
        return a.m_kind == b.m_kind && a.m_text == b.m_text;
    }

private:
    ExplanationState(Kind kind, QString text) : m_kind(kind), m_text(std::move(text)) {}

    Kind m_kind;
    QString m_text;
};

enum class ViewMode { explain, transcribe };

// The one object the sequences write and the overlay views read. Every assignment notifies,
// also when the value does not change, so observers redraw from the current values.
class ExplanationViewModel : public QObject {
    Q_OBJECT
public:
    explicit ExplanationViewModel(QObject* parent = nullptr);

    const ExplanationState& state() const { return m_state; }
    const std::optional<QString>& detailedText() const { return m_detailedText; }
    bool isExpanded() const { return m_isExpanded; }
    bool isLoadingDetail() const { return m_isLoadingDetail; }
    const std::optional<QString>& loadingMessage() const { return m_loadingMessage; }
    ViewMode mode() const { return m_mode; }
    // A line shown above the content, such as why a transcript was not pasted.
    const std::optional<QString>& notice() const { return m_notice; }
    float audioLevel() const { return m_audioLevel; }

    void setState(ExplanationState state);
    void setDetailedText(std::optional<QString> text);
    void setIsExpanded(bool expanded);
    void setIsLoadingDetail(bool loading);
    void setLoadingMessage(std::optional<QString> message);
    void setMode(ViewMode mode);
    void setNotice(std::optional<QString> notice);
    void setAudioLevel(float level);

    void reset();

signals:
    void stateChanged();
    void detailedTextChanged();
    void isExpandedChanged();
    void isLoadingDetailChanged();
    void loadingMessageChanged();
    void modeChanged();
    void noticeChanged();
    void audioLevelChanged();
    // After any of the above.
    void changed();

private:
    ExplanationState m_state = ExplanationState::idle();
    std::optional<QString> m_detailedText;
    bool m_isExpanded = false;
    bool m_isLoadingDetail = false;
    std::optional<QString> m_loadingMessage;
    ViewMode m_mode = ViewMode::explain;
    std::optional<QString> m_notice;
    float m_audioLevel = 0.0f;
};

} // namespace quill
