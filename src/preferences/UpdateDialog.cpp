#include "UpdateDialog.h"

#include <QApplication>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace quill {

UpdateDialog::UpdateDialog(QWidget* parent)
    : QDialog(parent)
    , m_heading(new QLabel(this))
    , m_message(new QLabel(this))
    , m_notes(new QTextBrowser(this))
    , m_progress(new QProgressBar(this))
    , m_downloadButton(new QPushButton(tr("Download..."), this))
    , m_closeButton(new QPushButton(this)) {
    setWindowTitle(tr("Software Update"));
    setWindowIcon(QApplication::windowIcon());

    auto* icon = new QLabel(this);
    icon->setPixmap(QApplication::windowIcon().pixmap(64));
    icon->setAlignment(Qt::AlignTop);
    QFont headingFont = m_heading->font();
    headingFont.setBold(true);
    m_heading->setFont(headingFont);
    m_message->setWordWrap(true);
    m_message->setTextFormat(Qt::PlainText);
    m_heading->setTextFormat(Qt::PlainText);
    // Notes come from the network: plain text only, nothing fetched or followed.
    m_notes->setOpenLinks(false);
    m_notes->setMinimumHeight(140);
    m_progress->setRange(0, 0);
    m_progress->setTextVisible(false);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_closeButton);
    buttons->addWidget(m_downloadButton);
    auto* text = new QVBoxLayout;
    text->addWidget(m_heading);
    text->addWidget(m_message);
    text->addWidget(m_progress);
    text->addWidget(m_notes, 1);
    text->addLayout(buttons);
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(icon);
    layout->addLayout(text, 1);
    setMinimumWidth(440);

    connect(m_closeButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_downloadButton, &QPushButton::clicked, this, [this] {
        QDesktopServices::openUrl(m_downloadPage);
        accept();
    });
}

void UpdateDialog::showChecking() {
    m_checking = true;
    m_downloadPage.clear();
    m_heading->setText(tr("Checking for updates..."));
    m_message->clear();
    m_message->hide();
    m_notes->clear();
    m_notes->hide();
    m_progress->show();
    m_downloadButton->hide();
    m_closeButton->setText(tr("Cancel"));
    adjustSize();
}

void UpdateDialog::showResult(const UpdateCheckResult& result) {
    m_checking = false;
    m_progress->hide();
    m_message->show();
    m_notes->hide();
    m_downloadButton->hide();
    m_closeButton->setText(tr("OK"));
    switch (result.status) {
    case UpdateCheckResult::Status::upToDate:
        m_heading->setText(tr("You're up to date!"));
        m_message->setText(tr("Quillpoint %1 is the newest version available.").arg(result.currentVersion));
        break;
    case UpdateCheckResult::Status::updateAvailable:
        m_heading->setText(tr("A new version of Quillpoint is available!"));
        m_message->setText(tr("Quillpoint %1 is now available. You have %2.")
                               .arg(result.latestVersion, result.currentVersion));
        m_notes->setPlainText(result.notes);
        m_notes->show();
        m_downloadPage = result.downloadPage;
        m_downloadButton->show();
        m_downloadButton->setDefault(true);
        m_closeButton->setText(tr("Later"));
        break;
    case UpdateCheckResult::Status::failed:
        m_heading->setText(tr("Update check failed"));
        m_message->setText(result.error);
        break;
    }
    adjustSize();
}

QString UpdateDialog::heading() const {
    return m_heading->text();
}

QString UpdateDialog::message() const {
    return m_message->text();
}

QString UpdateDialog::notes() const {
    return m_notes->toPlainText();
}

void UpdateDialog::done(int result) {
    const bool wasChecking = m_checking;
    m_checking = false;
    QDialog::done(result);
    if (wasChecking)
        emit checkCancelled();
}

} // namespace quill
