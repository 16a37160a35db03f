#include "AacFileWriter.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
}

namespace quill {

namespace {

constexpr int64_t kBitRate = 32000;
// Small enough that a full disk shows up within about a second of audio.
constexpr int kIoBufferSize = 4096;

QString averrorText(int averror) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(averror, text, sizeof text);
    return QString::fromUtf8(text);
}

} // namespace

AacFileWriter::~AacFileWriter() {
    if (m_fd >= 0) {
        discard();
    }
}

bool AacFileWriter::create(const QString& path, int sampleRate) {
    // The encoder's statistics would otherwise land on standard error after every recording.
    av_log_set_level(AV_LOG_ERROR);
    m_path = path;
    m_error.clear();
    m_broken = false;
    m_pending = 0;
    m_nextPts = 0;
    const QByteArray nativePath = QFile::encodeName(path);
    m_fd = ::open(nativePath.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (m_fd < 0) {
        m_error =
            QStringLiteral("cannot create %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }

    const AVCodec* codec = avcodec_find_encoder_by_name("aac");
    if (!codec) {
        return fail(QStringLiteral("FFmpeg has no AAC encoder"));
    }
    int ret = avformat_alloc_output_context2(&m_format, nullptr, "ipod", nativePath.constData());
    if (ret < 0) {
        return fail(QStringLiteral("cannot set up the MPEG-4 muxer"), ret);
    }
    m_stream = avformat_new_stream(m_format, nullptr);
    m_encoder = avcodec_alloc_context3(codec);
    m_frame = av_frame_alloc();
    m_packet = av_packet_alloc();
    auto* ioBuffer = static_cast<unsigned char*>(av_malloc(kIoBufferSize));
    if (ioBuffer) {
        m_io = avio_alloc_context(ioBuffer, kIoBufferSize, 1, this, nullptr, &AacFileWriter::writeToFile,
                                  &AacFileWriter::seekInFile);
        if (!m_io) {
            av_free(ioBuffer);
        }
    }
    if (!m_stream || !m_encoder || !m_frame || !m_packet || !m_io) {
        return fail(QStringLiteral("out of memory"));
    }

    m_encoder->sample_fmt = AV_SAMPLE_FMT_FLTP;
    m_encoder->sample_rate = sampleRate;
    av_channel_layout_default(&m_encoder->ch_layout, 1);
    m_encoder->bit_rate = kBitRate;
    m_encoder->time_base = AVRational{1, sampleRate};
    if (m_format->oformat->flags & AVFMT_GLOBALHEADER) {
        m_encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    AVDictionary* encoderOptions = nullptr;
    // The default two-loop search costs four times the processor time of the fast one (1.3 %
    // of a core instead of 0.3 % while recording) for speech a transcriber hears no better;
    // the fast search's output is even closer to the input.
    av_dict_set(&encoderOptions, "aac_coder", "fast", 0);
    ret = avcodec_open2(m_encoder, codec, &encoderOptions);
    av_dict_free(&encoderOptions);
    if (ret < 0) {
        return fail(QStringLiteral("cannot open the AAC encoder"), ret);
    }
    if ((ret = avcodec_parameters_from_context(m_stream->codecpar, m_encoder)) < 0) {
        return fail(QStringLiteral("cannot describe the AAC track"), ret);
    }
    m_stream->time_base = m_encoder->time_base;

    m_frame->format = m_encoder->sample_fmt;
    m_frame->sample_rate = sampleRate;
    m_frame->nb_samples = m_encoder->frame_size;
    if ((ret = av_channel_layout_copy(&m_frame->ch_layout, &m_encoder->ch_layout)) < 0 ||
        (ret = av_frame_get_buffer(m_frame, 0)) < 0) {
        return fail(QStringLiteral("out of memory"), ret);
    }

    m_format->pb = m_io;
    m_format->flags |= AVFMT_FLAG_CUSTOM_IO;
    AVDictionary* options = nullptr;
    // The index goes to the front once the recording is complete, so a reader never has to seek.
    av_dict_set(&options, "movflags", "+faststart", 0);
    ret = avformat_write_header(m_format, &options);
    av_dict_free(&options);
    if (ret < 0 || ioFailed()) {
        return fail(QStringLiteral("cannot write the file header"), ret);
    }
    return true;
}

bool AacFileWriter::write(std::span<const float> samples) {
    if (m_broken || !m_format) {
        return false;
    }
    const int frameSize = m_encoder->frame_size;
    while (!samples.empty()) {
        if (m_pending == 0) {
            const int ret = av_frame_make_writable(m_frame);
            if (ret < 0) {
                return fail(QStringLiteral("out of memory"), ret);
            }
        }
        const auto count = std::min<size_t>(samples.size(), size_t(frameSize - m_pending));
        std::memcpy(reinterpret_cast<float*>(m_frame->data[0]) + m_pending, samples.data(),
                    count * sizeof(float));
        m_pending += int(count);
        samples = samples.subspan(count);
        if (m_pending == frameSize && !encode(m_frame)) {
            return false;
        }
    }
    return true;
}

bool AacFileWriter::finish() {
    if (m_broken || !m_format) {
        return false;
    }
    // The encoder accepts a short last frame; the flush then drains its look-ahead.
    if (m_pending > 0 && !encode(m_frame)) {
        return false;
    }
    if (!encode(nullptr)) {
        return false;
    }
    const int ret = av_write_trailer(m_format);
    if (ret < 0 || ioFailed()) {
        return fail(QStringLiteral("cannot complete the file"), ret);
    }
    release();
    return true;
}

void AacFileWriter::discard() {
    const bool created = m_fd >= 0;
    release();
    if (created) {
        ::unlink(QFile::encodeName(m_path).constData());
    }
}

bool AacFileWriter::fail(const QString& what, int averror) {
    m_error = averror < 0 ? what + QStringLiteral(": ") + averrorText(averror) : what;
    if (m_io && m_io->error < 0 && averror != m_io->error) {
        m_error += QStringLiteral(" (") + averrorText(m_io->error) + QStringLiteral(")");
    }
    m_broken = true;
    discard();
    return false;
}

bool AacFileWriter::encode(AVFrame* frame) {
    if (frame) {
        frame->nb_samples = m_pending;
        frame->pts = m_nextPts;
        m_nextPts += m_pending;
        m_pending = 0;
    }
    int ret = avcodec_send_frame(m_encoder, frame);
    if (ret < 0) {
        return fail(QStringLiteral("the AAC encoder refused the samples"), ret);
    }
    while ((ret = avcodec_receive_packet(m_encoder, m_packet)) >= 0) {
        av_packet_rescale_ts(m_packet, m_encoder->time_base, m_stream->time_base);
        m_packet->stream_index = m_stream->index;
        ret = av_interleaved_write_frame(m_format, m_packet);
        if (ret < 0 || ioFailed()) {
            return fail(QStringLiteral("cannot write to the file"), ret);
        }
    }
    if (ret != AVERROR(EAGAIN) && ret != AVERROR_EOF) {
        return fail(QStringLiteral("the AAC encoder failed"), ret);
    }
    if (frame) {
        frame->nb_samples = m_encoder->frame_size;
    }
    return true;
}

bool AacFileWriter::ioFailed() {
    return m_io && m_io->error < 0;
}

void AacFileWriter::release() {
    av_frame_free(&m_frame);
    av_packet_free(&m_packet);
    avcodec_free_context(&m_encoder);
    if (m_format) {
        avformat_free_context(m_format);
        m_format = nullptr;
        m_stream = nullptr;
    }
    if (m_io) {
        av_freep(&m_io->buffer);
        avio_context_free(&m_io);
    }
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

int AacFileWriter::writeToFile(void* opaque, uint8_t* data, int size) {
    auto* self = static_cast<AacFileWriter*>(opaque);
    int done = 0;
    while (done < size) {
        const ssize_t n = ::write(self->m_fd, data + done, size_t(size - done));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return AVERROR(errno);
        }
        done += int(n);
    }
    return done;
}

int64_t AacFileWriter::seekInFile(void* opaque, int64_t offset, int whence) {
    auto* self = static_cast<AacFileWriter*>(opaque);
    if (whence & AVSEEK_SIZE) {
        struct stat info {};
        return ::fstat(self->m_fd, &info) == 0 ? int64_t(info.st_size) : AVERROR(errno);
    }
    const off_t position = ::lseek(self->m_fd, offset, whence & ~AVSEEK_FORCE);
    return position < 0 ? AVERROR(errno) : int64_t(position);
}

} // namespace quill
