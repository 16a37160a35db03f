#pragma once

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QString>

namespace quill::test {

// What ffprobe makes of an audio file: the first stream and the container.
struct AudioProbe {
    QString codec;
    int sampleRate = 0;
    int channels = 0;
    QString formatName;
    double duration = 0.0;
    int streamCount = 0;
};

inline AudioProbe probeAudio(const QString& path) {
    QProcess ffprobe;
    ffprobe.start(QStringLiteral("ffprobe"),
                  {"-v", "error", "-show_streams", "-show_format", "-of", "json", path});
    ffprobe.waitForFinished(10000);
    const QJsonObject json = QJsonDocument::fromJson(ffprobe.readAllStandardOutput()).object();
    AudioProbe probe;
    const auto streams = json.value("streams").toArray();
    probe.streamCount = int(streams.size());
    if (!streams.isEmpty()) {
        const QJsonObject stream = streams.first().toObject();
        probe.codec = stream.value("codec_name").toString();
        probe.sampleRate = stream.value("sample_rate").toString().toInt();
        probe.channels = stream.value("channels").toInt();
    }
    const QJsonObject format = json.value("format").toObject();
    probe.formatName = format.value("format_name").toString();
    probe.duration = format.value("duration").toString().toDouble();
    return probe;
}

} // namespace quill::test
