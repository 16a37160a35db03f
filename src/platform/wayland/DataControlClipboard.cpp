#include "DataControlClipboard.h"

#include "DataControlConnection.h"
#include "DataControlTransfer.h"
#include "platform/ClipboardKeeperFile.h"
#include "platform/ClipboardReader.h"
#include "platform/Log.h"

#include <QElapsedTimer>
#include <QThread>

namespace quill {
namespace {

// How long the program waits, as it ends, for the keeper to take the clipboard over.
constexpr qint64 kHandOverMs = 3000;

void log(const QString& message) {
    logLine(lcCapture(), QStringLiteral("DataControlClipboard"), message);
}

ClipboardContents withinLimits(const QList<ClipboardFormat>& formats, const ClipboardReadLimits& limits) {
    ClipboardContents result;
    qsizetype total = 0;
    for (const ClipboardFormat& format : formats) {
        if (format.second.isEmpty())
            continue;
        if (format.second.size() > limits.maxFormatBytes ||
            total + format.second.size() > limits.maxTotalBytes) {
            result.complete = false;
            continue;
        }
        total += format.second.size();
        result.formats.append(format);
    }
    return result;
}

QList<ClipboardFormat> asText(const QString& text) {
    QList<ClipboardFormat> formats;
    const QByteArray bytes = text.toUtf8();
    for (const QString& type : DataControlClipboard::textMimeTypes())
        formats.append({type, bytes});
    return formats;
}

} // namespace

const QStringList& DataControlClipboard::textMimeTypes() {
    static const QStringList types = {QStringLiteral("text/plain;charset=utf-8"),
                                      QStringLiteral("UTF8_STRING"), QStringLiteral("text/plain"),
                                      QStringLiteral("STRING"), QStringLiteral("TEXT")};
    return types;
}

std::unique_ptr<DataControlClipboard> DataControlClipboard::create(QString keeperProgram) {
    auto connection = DataControlConnection::open();
    if (!connection)
        return nullptr;
    return std::unique_ptr<DataControlClipboard>(
        new DataControlClipboard(std::move(connection), std::move(keeperProgram)));
}

DataControlClipboard::DataControlClipboard(std::shared_ptr<DataControlConnection> connection,
                                           QString keeperProgram)
    : m_connection(std::move(connection))
    , m_notifier(std::make_shared<Notifier>(this))
    , m_keeperProgram(std::move(keeperProgram)) {
    // Posting to the object is safe while the notifier still names it; Qt drops what was
    // posted once it is gone. Runs inside Wayland callbacks, which nothing may throw out of.
    const auto notify = [notifier = m_notifier](void (Clipboard::*signal)()) noexcept {
        const std::lock_guard lock(notifier->mutex);
        try {
            if (notifier->clipboard)
                QMetaObject::invokeMethod(notifier->clipboard, signal, Qt::QueuedConnection);
        } catch (...) {
            // A notice lost to a lack of memory: the next change brings another.
        }
    };
    m_connection->call([notify, c = m_connection.get()] {
        c->onClipboardChanged = [notify] { notify(&Clipboard::changed); };
        c->onOwnContentsRead = [notify] { notify(&Clipboard::contentsRead); };
        return true;
    });
}

DataControlClipboard::~DataControlClipboard() {
    {
        const std::lock_guard lock(m_notifier->mutex);
        m_notifier->clipboard = nullptr;
    }
    m_connection->call([c = m_connection.get()] {
        c->onClipboardChanged = nullptr;
        c->onOwnContentsRead = nullptr;
        return true;
    });
}

ClipboardContents DataControlClipboard::readAll(const ClipboardReadLimits& limits) {
    const auto contents = m_connection->call([c = m_connection.get()] { return c->contents(false); });
    if (!contents)
        return {{}, false};
    if (contents->own)
        return withinLimits(*contents->own, limits);
    return ClipboardReader(limits).read(
        std::make_unique<DataControlTransfer>(m_connection, false, contents->offered));
}

std::optional<QString> DataControlClipboard::textOf(bool primary) {
    const auto contents =
        m_connection->call([c = m_connection.get(), primary] { return c->contents(primary); });
    if (!contents)
        return std::nullopt;
    const QStringList& types = textMimeTypes();
    if (contents->own) {
        for (const QString& type : types) {
            for (const ClipboardFormat& format : std::as_const(*contents->own)) {
                if (format.first == type)
                    return QString::fromUtf8(format.second);
            }
        }
        return std::nullopt;
    }
    for (const QString& type : types) {
        if (!contents->offered.contains(type))
            continue;
        const QList<ClipboardFormat> read =
            ClipboardReader(ClipboardReadLimits())
                .read(std::make_unique<DataControlTransfer>(m_connection, primary, QStringList{type}))
                .formats;
        if (read.isEmpty())
            return std::nullopt;
        return type == QLatin1String("STRING") ? QString::fromLatin1(read.constFirst().second)
                                               : QString::fromUtf8(read.constFirst().second);
    }
    return std::nullopt;
}

std::optional<QString> DataControlClipboard::text() {
    return textOf(false);
}

std::optional<QString> DataControlClipboard::selectionText() {
    return textOf(true);
}

void DataControlClipboard::clear() {
    m_connection->call([c = m_connection.get()] { return c->set(false, {}); });
}

void DataControlClipboard::setText(const QString& text) {
    setFormats(asText(text));
}

void DataControlClipboard::setFormats(const QList<ClipboardFormat>& formats) {
    m_connection->call([c = m_connection.get(), formats] { return c->set(false, formats); });
}

void DataControlClipboard::setSelectionText(const QString& text) {
    m_connection->call([c = m_connection.get(), formats = asText(text)] { return c->set(true, formats); });
}

void DataControlClipboard::keepAfterExit() {
    const auto contents = m_connection->call([c = m_connection.get()] { return c->contents(false); });
    if (!contents || !contents->own || m_keeperProgram.isEmpty())
        return;
    const QList<ClipboardFormat>& own = *contents->own;
    const QString error = ClipboardKeeperFile::handOver(m_keeperProgram, own);
    if (!error.isEmpty()) {
        log(QStringLiteral("cannot keep the clipboard after quitting: ") + error);
        return;
    }
    // Our contents go with our connection: wait until the keeper's have replaced them, which
    // the compositor tells our connection's thread by cancelling our source.
    QElapsedTimer elapsed;
    elapsed.start();
    const auto ours = [this] {
        const auto now =
            m_connection->call([c = m_connection.get()] { return c->contents(false).own.has_value(); });
        return now.value_or(true);
    };
    while (ours() && !elapsed.hasExpired(kHandOverMs))
        QThread::msleep(5);
    if (ours())
        log(QStringLiteral("the clipboard keeper did not take the clipboard over in time"));
}

} // namespace quill
