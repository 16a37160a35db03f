#pragma once

#include "ExplanationViewModel.h"

#include <QWidget>
#include <optional>

namespace quill {

class PillButton;
class PlainTextButton;
class SpinnerView;

// The row below the text: "more"/"less" or "Paste", and "Copy".
class ActionBar : public QWidget {
    Q_OBJECT
public:
    explicit ActionBar(QWidget* parent = nullptr);

    void showState(ViewMode mode, bool isExpanded, bool isLoadingDetail,
                   const std::optional<QString>& detailedText);
    // The row is shown anew: "Copied!" from an earlier row does not carry over.
    void resetCopied();

    bool copied() const { return m_copied; }
    void setCopiedDuration(int milliseconds) { m_copiedDuration = milliseconds; }

    PlainTextButton* moreButton() const { return m_more; }
    SpinnerView* detailSpinner() const { return m_spinner; }
    PillButton* pasteButton() const { return m_paste; }
    PillButton* copyButton() const { return m_copy; }

signals:
    // "more" asks for the detail when there is none yet, before it asks to unfold.
    void detailRequested();
    void expansionRequested(bool expanded);
    // Before the button says "Copied!".
    void copyRequested();
    void pasteRequested();

private:
    void toggleExpanded();
    void copy();
    void setCopied(bool copied);

    PlainTextButton* m_more;
    SpinnerView* m_spinner;
    PillButton* m_paste;
    PillButton* m_copy;
    bool m_isExpanded = false;
    std::optional<QString> m_detailedText;
    bool m_copied = false;
    int m_copiedDuration;
    int m_generation = 0;
};

} // namespace quill
