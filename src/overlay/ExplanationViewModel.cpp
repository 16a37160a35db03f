#include "ExplanationViewModel.h"

namespace quill {

ExplanationViewModel::ExplanationViewModel(QObject* parent) : QObject(parent) {}

void ExplanationViewModel::setState(ExplanationState state) {
    m_state = std::move(state);
    emit stateChanged();
    emit changed();
}

void ExplanationViewModel::setDetailedText(std::optional<QString> text) {
    m_detailedText = std::move(text);
    emit detailedTextChanged();
    emit changed();
}

void ExplanationViewModel::setIsExpanded(bool expanded) {
    m_isExpanded = expanded;
    emit isExpandedChanged();
    emit changed();
}

void ExplanationViewModel::setIsLoadingDetail(bool loading) {
    m_isLoadingDetail = loading;
    emit isLoadingDetailChanged();
    emit changed();
}

void ExplanationViewModel::setLoadingMessage(std::optional<QString> message) {
    m_loadingMessage = std::move(message);
    emit loadingMessageChanged();
    emit changed();
}

void ExplanationViewModel::setMode(ViewMode mode) {
    m_mode = mode;
    emit modeChanged();
    emit changed();
}

void ExplanationViewModel::setNotice(std::optional<QString> notice) {
    m_notice = std::move(notice);
    emit noticeChanged();
    emit changed();
}

void ExplanationViewModel::setAudioLevel(float level) {
    m_audioLevel = level;
    emit audioLevelChanged();
    emit changed();
}

void ExplanationViewModel::reset() {
    setState(ExplanationState::idle());
    setDetailedText(std::nullopt);
    setIsExpanded(false);
    setIsLoadingDetail(false);
    setLoadingMessage(std::nullopt);
    setMode(ViewMode::explain);
    setNotice(std::nullopt);
    setAudioLevel(0.0f);
}

} // namespace quill
