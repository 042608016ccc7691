#include "Iris/general/AssetImageGenerator.h"

#include "platform/foundation/DispatchQueue.h"

#include <QFile>
#include <QTransform>

#include <cerrno>
#include <cmath>
#include <mutex>
#include <sys/stat.h>
#include <variant>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/display.h>
#include <libavutil/error.h>
#include <libavutil/log.h>
#include <libswscale/swscale.h>
}

namespace iris {

namespace {

// The same bound as every other decode: a frame may not need more than this many pixels.
constexpr std::int64_t maximumFramePixels = 100'000'000;
constexpr char networkTimeoutMicroseconds[] = "15000000";

platform::PlatformError ffmpegError(int code, const QString& context)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return { AssetImageGenerator::errorDomain(), code,
        context + QStringLiteral(": ") + QString::fromUtf8(text), nullptr };
}

platform::PlatformError generatorError(int code, const QString& description)
{
    return { AssetImageGenerator::errorDomain(), code, description, nullptr };
}

struct Cancelled { };
using FrameOutcome = std::variant<QImage, platform::PlatformError, Cancelled>;

struct FormatContext {
    AVFormatContext* context = nullptr;
    ~FormatContext() { avformat_close_input(&context); }
};
struct CodecContext {
    AVCodecContext* context = nullptr;
    ~CodecContext() { avcodec_free_context(&context); }
};
struct Packet {
    AVPacket* packet = av_packet_alloc();
    ~Packet() { av_packet_free(&packet); }
};
struct Frame {
    AVFrame* frame = av_frame_alloc();
    ~Frame() { av_frame_free(&frame); }
};
struct Dictionary {
    AVDictionary* dictionary = nullptr;
    ~Dictionary() { av_dict_free(&dictionary); }
};

std::optional<QImage> toImage(const AVFrame* frame)
{
    if (frame->width <= 0 || frame->height <= 0
        || std::int64_t(frame->width) * frame->height > maximumFramePixels)
        return std::nullopt;
    SwsContext* scaler = sws_getContext(frame->width, frame->height, AVPixelFormat(frame->format),
        frame->width, frame->height, AV_PIX_FMT_RGBA, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!scaler)
        return std::nullopt;
    QImage image(frame->width, frame->height, QImage::Format_RGBA8888);
    if (image.isNull()) {
        sws_freeContext(scaler);
        return std::nullopt;
    }
    uint8_t* planes[4] = { image.bits(), nullptr, nullptr, nullptr };
    int strides[4] = { int(image.bytesPerLine()), 0, 0, 0 };
    const int rows = sws_scale(scaler, frame->data, frame->linesize, 0, frame->height, planes, strides);
    sws_freeContext(scaler);
    if (rows != frame->height)
        return std::nullopt;
    return image;
}

FrameOutcome decodeFrame(
    const QUrl& url, double seconds, bool appliesTrackTransform, const std::function<bool()>& isCancelled)
{
    // Failures reach the caller as values; FFmpeg's own log lines would only repeat them on stderr.
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_QUIET); });

    // FFmpeg would follow any protocol a media file names (a playlist can point anywhere): a file
    // may only read files, and a web URL only reach the web through its own transports.
    QByteArray location;
    const char* whitelist = nullptr;
    Dictionary options;
    const QString scheme = url.scheme().toLower();
    if (url.isLocalFile()) {
        location = QFile::encodeName(url.toLocalFile());
        // Opening a pipe or a device would wait for a writer for ever, holding a pooled thread.
        struct stat info { };
        if (::stat(location.constData(), &info) != 0)
            return ffmpegError(AVERROR(errno), QStringLiteral("Cannot open the video"));
        if (!S_ISREG(info.st_mode))
            return generatorError(AVERROR(EINVAL), QStringLiteral("The video is not a regular file"));
        whitelist = "file";
    } else if (scheme == QLatin1String("http") || scheme == QLatin1String("https")) {
        location = url.toEncoded();
        whitelist = "http,https,tcp,tls";
        av_dict_set(&options.dictionary, "rw_timeout", networkTimeoutMicroseconds, 0);
    } else {
        return generatorError(AVERROR(EPROTONOSUPPORT), QStringLiteral("Unsupported video URL"));
    }
    av_dict_set(&options.dictionary, "protocol_whitelist", whitelist, 0);

    FormatContext format;
    int status = avformat_open_input(&format.context, location.constData(), nullptr, &options.dictionary);
    if (status < 0)
        return ffmpegError(status, QStringLiteral("Cannot open the video"));
    if ((status = avformat_find_stream_info(format.context, nullptr)) < 0)
        return ffmpegError(status, QStringLiteral("Cannot read the video's streams"));
    const AVCodec* decoder = nullptr;
    const int streamIndex = av_find_best_stream(format.context, AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
    if (streamIndex < 0 || !decoder)
        return ffmpegError(
            streamIndex < 0 ? streamIndex : AVERROR_DECODER_NOT_FOUND, QStringLiteral("No video stream"));
    AVStream* stream = format.context->streams[streamIndex];

    CodecContext codec;
    codec.context = avcodec_alloc_context3(decoder);
    if (!codec.context)
        return ffmpegError(AVERROR(ENOMEM), QStringLiteral("Cannot make a decoder"));
    // Checked by the decoder before it allocates a frame: a few bytes of header can declare a
    // picture of a gigabyte, and the check in toImage comes only after it has been decoded.
    codec.context->max_pixels = maximumFramePixels;
    if ((status = avcodec_parameters_to_context(codec.context, stream->codecpar)) < 0
        || (status = avcodec_open2(codec.context, decoder, nullptr)) < 0)
        return ffmpegError(status, QStringLiteral("Cannot open the decoder"));

    const double timeBase = av_q2d(stream->time_base);
    std::int64_t target = timeBase > 0 ? std::int64_t(std::llround(std::max(0.0, seconds) / timeBase)) : 0;
    if (stream->start_time != AV_NOPTS_VALUE)
        target += stream->start_time;
    if (av_seek_frame(format.context, streamIndex, target, AVSEEK_FLAG_BACKWARD) >= 0)
        avcodec_flush_buffers(codec.context);

    Packet packet;
    Frame frame;
    Frame kept;
    bool haveFrame = false;
    // The frame shown at the target time is the last one that starts at or before it.
    auto drain = [&]() -> bool {
        while (avcodec_receive_frame(codec.context, frame.frame) >= 0) {
            const std::int64_t timestamp = frame.frame->best_effort_timestamp;
            if (haveFrame && timestamp != AV_NOPTS_VALUE && timestamp > target) {
                av_frame_unref(frame.frame);
                return true;
            }
            av_frame_unref(kept.frame);
            av_frame_move_ref(kept.frame, frame.frame);
            haveFrame = true;
            if (timestamp != AV_NOPTS_VALUE && timestamp >= target)
                return true;
        }
        return false;
    };
    bool reached = false;
    while (!reached) {
        if (isCancelled())
            return Cancelled {};
        status = av_read_frame(format.context, packet.packet);
        if (status < 0)
            break;
        if (packet.packet->stream_index == streamIndex
            && avcodec_send_packet(codec.context, packet.packet) >= 0)
            reached = drain();
        av_packet_unref(packet.packet);
    }
    if (!reached) {
        avcodec_send_packet(codec.context, nullptr);
        drain();
    }
    if (!haveFrame)
        return generatorError(AVERROR_INVALIDDATA, QStringLiteral("No frame at the requested time"));
    if (std::optional<QImage> image = toImage(kept.frame)) {
        // A phone video stored sideways carries the turn that shows it upright.
        const auto* matrix = reinterpret_cast<const std::int32_t*>(
            av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, nullptr));
        if (appliesTrackTransform && matrix) {
            const double degrees = std::round(av_display_rotation_get(matrix) / 90.0) * 90.0;
            if (std::isfinite(degrees) && std::fmod(degrees, 360.0) != 0.0)
                return image->transformed(QTransform().rotate(-degrees));
        }
        return *image;
    }
    return generatorError(AVERROR_INVALIDDATA, QStringLiteral("The frame cannot be converted"));
}

} // namespace

MediaTime MediaTime::fromSeconds(double seconds, std::int32_t preferredTimescale)
{
    if (!std::isfinite(seconds) || preferredTimescale <= 0)
        return {};
    return { std::int64_t(std::llround(seconds * preferredTimescale)), preferredTimescale, validFlag, 0 };
}

double MediaTime::seconds() const
{
    if (timescale == 0)
        return std::nan("");
    return double(value) / double(timescale);
}

AssetImageGenerator::AssetImageGenerator(std::shared_ptr<const Asset> asset)
    : m_asset(std::move(asset))
{
}

void AssetImageGenerator::generateImagesAsynchronously(std::vector<MediaTime> times, Completion completion)
{
    const std::uint64_t generation = m_generation.load();
    platform::DispatchQueue::global(platform::QualityOfService::userInitiated)
        ->async([self = shared_from_this(), times = std::move(times), completion = std::move(completion),
                    generation] {
            auto isCancelled = [&] { return self->m_generation.load() != generation; };
            for (const MediaTime& time : times) {
                if (isCancelled()) {
                    completion(time, std::nullopt, Result::cancelled, std::nullopt);
                    continue;
                }
                if (!self->m_asset || !self->m_asset->url) {
                    completion(time, std::nullopt, Result::failed,
                        generatorError(AVERROR(EINVAL), QStringLiteral("The asset has no URL")));
                    continue;
                }
                FrameOutcome outcome = decodeFrame(*self->m_asset->url, time.seconds(),
                    self->m_appliesPreferredTrackTransform.load(), isCancelled);
                if (QImage* image = std::get_if<QImage>(&outcome))
                    completion(time, std::move(*image), Result::succeeded, std::nullopt);
                else if (auto* error = std::get_if<platform::PlatformError>(&outcome))
                    completion(time, std::nullopt, Result::failed, std::move(*error));
                else
                    completion(time, std::nullopt, Result::cancelled, std::nullopt);
            }
        });
}

void AssetImageGenerator::cancelAllImageGeneration()
{
    ++m_generation;
}

} // namespace iris
