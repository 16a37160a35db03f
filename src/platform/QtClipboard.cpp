#include "QtClipboard.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QMimeData>
#include <QPointer>
#include <QScopedValueRollback>
#include <functional>
#include <memory>

namespace quill {
namespace {

// X refuses a selection owner whose timestamp is older than the current owner's. Qt takes its
// timestamp from the last X event it handled, so let it handle the announcement of the latest
// owner (say, an editor that just took the primary selection) before taking a selection.
void catchUpWithTheServer() {
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

// Contents that say when they are handed out.
class ServedMimeData final : public QMimeData {
public:
    explicit ServedMimeData(std::function<void()> onServe) : m_onServe(std::move(onServe)) {}

protected:
    QVariant retrieveData(const QString& mimeType, QMetaType type) const override {
        m_onServe();
        return QMimeData::retrieveData(mimeType, type);
    }

private:
    std::function<void()> m_onServe;
};

} // namespace

std::unique_ptr<QMimeData> QtClipboard::servedData() {
    m_desktopReadsDue = m_desktopReads;
    return std::make_unique<ServedMimeData>([self = QPointer(this)] {
        if (!self || self->m_readingOwn)
            return;
        if (self->m_desktopReadsDue > 0) {
            --self->m_desktopReadsDue;
            return;
        }
        emit self->contentsRead();
    });
}

QtClipboard::QtClipboard(int desktopReads, QObject* parent)
    : Clipboard(parent)
    , m_desktopReads(desktopReads) {
    connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, this, &Clipboard::changed);
}

ClipboardContents QtClipboard::readAll(const ClipboardReadLimits& limits) {
    const QScopedValueRollback own(m_readingOwn, true);
    ClipboardContents result;
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    if (!data)
        return result;
    QElapsedTimer elapsed;
    elapsed.start();
    qsizetype total = 0;
    for (const QString& format : data->formats()) {
        if (elapsed.elapsed() >= limits.timeBudget.count()) {
            result.complete = false;
            break;
        }
        const QByteArray bytes = data->data(format);
        if (bytes.isEmpty())
            continue;
        if (bytes.size() > limits.maxFormatBytes || total + bytes.size() > limits.maxTotalBytes) {
            result.complete = false;
            continue;
        }
        total += bytes.size();
        result.formats.append({format, bytes});
    }
    return result;
}

std::optional<QString> QtClipboard::text() {
    const QScopedValueRollback own(m_readingOwn, true);
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    if (!data || !data->hasText())
        return std::nullopt;
    return data->text();
}

void QtClipboard::clear() {
    catchUpWithTheServer();
    QGuiApplication::clipboard()->clear();
    m_desktopReadsDue = 0;
}

void QtClipboard::setText(const QString& text) {
    catchUpWithTheServer();
    auto data = servedData();
    data->setText(text);
    QGuiApplication::clipboard()->setMimeData(data.release());
}

void QtClipboard::setFormats(const QList<ClipboardFormat>& formats) {
    catchUpWithTheServer();
    auto data = servedData();
    for (const auto& [format, bytes] : formats)
        data->setData(format, bytes);
    QGuiApplication::clipboard()->setMimeData(data.release());
}

std::optional<QString> QtClipboard::selectionText() {
    const QMimeData* data = QGuiApplication::clipboard()->mimeData(QClipboard::Selection);
    if (!data || !data->hasText())
        return std::nullopt;
    return data->text();
}

bool QtClipboard::desktopTakingUp() const {
    // The first read tells that the desktop took them up; any further ones are its own affair.
    return m_desktopReadsDue == m_desktopReads && m_desktopReads > 0;
}

void QtClipboard::setSelectionText(const QString& text) {
    catchUpWithTheServer();
    QGuiApplication::clipboard()->setText(text, QClipboard::Selection);
}

} // namespace quill
