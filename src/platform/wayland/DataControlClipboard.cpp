#include "DataControlClipboard.h"

#include "DataControlConnection.h"
#include "DataControlTransfer.h"
#include "platform/ClipboardReader.h"

namespace quill {
namespace {

QList<ClipboardFormat> withinLimits(const QList<ClipboardFormat>& formats,
                                    const ClipboardReadLimits& limits) {
    QList<ClipboardFormat> result;
    qsizetype total = 0;
    for (const ClipboardFormat& format : formats) {
        if (format.second.isEmpty() || format.second.size() > limits.maxFormatBytes ||
            total + format.second.size() > limits.maxTotalBytes)
            continue;
        total += format.second.size();
        result.append(format);
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

std::unique_ptr<DataControlClipboard> DataControlClipboard::create() {
    auto connection = DataControlConnection::open();
    if (!connection)
        return nullptr;
    return std::unique_ptr<DataControlClipboard>(new DataControlClipboard(std::move(connection)));
}

DataControlClipboard::DataControlClipboard(std::shared_ptr<DataControlConnection> connection)
    : m_connection(std::move(connection)) {
    // Queued calls to this object are dropped by Qt once it is gone; the destructor stops new ones.
    m_connection->call([this, c = m_connection.get()] {
        c->onClipboardChanged = [this] {
            QMetaObject::invokeMethod(this, &Clipboard::changed, Qt::QueuedConnection);
        };
        c->onOwnContentsRead = [this] {
            QMetaObject::invokeMethod(this, &Clipboard::contentsRead, Qt::QueuedConnection);
        };
        return true;
    });
}

DataControlClipboard::~DataControlClipboard() {
    m_connection->call([c = m_connection.get()] {
        c->onClipboardChanged = nullptr;
        c->onOwnContentsRead = nullptr;
        return true;
    });
}

QList<ClipboardFormat> DataControlClipboard::readAll(const ClipboardReadLimits& limits) {
    const auto contents = m_connection->call([c = m_connection.get()] { return c->contents(false); });
    if (!contents)
        return {};
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
                .read(std::make_unique<DataControlTransfer>(m_connection, primary, QStringList{type}));
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

} // namespace quill
