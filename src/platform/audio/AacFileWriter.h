#pragma once

#include "platform/AudioFileWriter.h"

#include <cstdint>

struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVIOContext;
struct AVPacket;
struct AVStream;

namespace quill {

// An MPEG-4 audio file (.m4a) with one AAC-LC track at about 32 kbit/s, the index at the
// front. FFmpeg writes through a descriptor we opened ourselves, because its own file
// protocol would create the file readable by everyone.
class AacFileWriter final : public AudioFileWriter {
public:
    AacFileWriter() = default;
    ~AacFileWriter() override;
    AacFileWriter(const AacFileWriter&) = delete;
    AacFileWriter& operator=(const AacFileWriter&) = delete;

    bool create(const QString& path, int sampleRate) override;
    bool write(std::span<const float> samples) override;
    bool finish() override;
    void discard() override;
    QString errorString() const override { return m_error; }

private:
    bool fail(const QString& what, int averror = 0);
    bool encode(AVFrame* frame);
    bool ioFailed();
    void release();
    static int writeToFile(void* opaque, uint8_t* data, int size);
    static int64_t seekInFile(void* opaque, int64_t offset, int whence);

    QString m_path;
    QString m_error;
    int m_fd = -1;
    AVFormatContext* m_format = nullptr;
    AVIOContext* m_io = nullptr;
    AVCodecContext* m_encoder = nullptr;
    AVStream* m_stream = nullptr;
    AVFrame* m_frame = nullptr;
    AVPacket* m_packet = nullptr;
    int m_pending = 0; // samples waiting in m_frame for a full encoder frame
    int64_t m_nextPts = 0;
    bool m_broken = false;
};

} // namespace quill
