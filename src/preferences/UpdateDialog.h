#pragma once

#include "UpdateFeed.h"

#include <QDialog>

class QLabel;
class QProgressBar;
class QPushButton;
class QTextBrowser;

namespace quill {

// The update check's own window: progress while checking, then the outcome. "Download..."
// hands the download page to the desktop's browser.
class UpdateDialog : public QDialog {
    Q_OBJECT
public:
    explicit UpdateDialog(QWidget* parent = nullptr);

    void showChecking();
    void showResult(const UpdateCheckResult& result);
    bool isChecking() const { return m_checking; }

    QString heading() const;
    QString message() const;
    QString notes() const;
    QPushButton* downloadButton() const { return m_downloadButton; }
    QPushButton* closeButton() const { return m_closeButton; }

signals:
    // The user closed the window before the check ended.
    void checkCancelled();

protected:
    void done(int result) override;

private:
    QLabel* m_heading;
    QLabel* m_message;
    QTextBrowser* m_notes;
    QProgressBar* m_progress;
    QPushButton* m_downloadButton;
    QPushButton* m_closeButton;
    QUrl m_downloadPage;
    bool m_checking = false;
};

} // namespace quill
