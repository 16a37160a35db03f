#include "WaveFile.h"

#include <QFile>
#include <QtEndian>

namespace quill {
namespace {

void append32(QByteArray& out, quint32 value) {
    const quint32 little = qToLittleEndian(value);
    out.append(reinterpret_cast<const char*>(&little), sizeof little);
}

void append16(QByteArray& out, quint16 value) {
    const quint16 little = qToLittleEndian(value);
    out.append(reinterpret_cast<const char*>(&little), sizeof little);
}

} // namespace

bool WaveFile::write(const QString& path, std::span<const qint16> samples, int sampleRate, QString& error) {
    const quint32 dataBytes = quint32(samples.size_bytes());
    QByteArray header;
    header.append("RIFF");
    append32(header, 36 + dataBytes);
    header.append("WAVEfmt ");
    append32(header, 16);
    append16(header, 1); // PCM
    append16(header, 1); // mono
    append32(header, quint32(sampleRate));
    append32(header, quint32(sampleRate) * 2);
    append16(header, 2);
    append16(header, 16);
    header.append("data");
    append32(header, dataBytes);

    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered,
                   QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        error = file.errorString();
        return false;
    }
    QByteArray body(reinterpret_cast<const char*>(samples.data()), qsizetype(dataBytes));
    if constexpr (Q_BYTE_ORDER == Q_BIG_ENDIAN)
        qToLittleEndian<qint16>(samples.data(), qsizetype(samples.size()), body.data());
    const bool written =
        file.write(header) == header.size() && file.write(body) == body.size() && file.flush();
    if (!written) {
        error = file.errorString();
        file.remove();
    }
    return written;
}

} // namespace quill
