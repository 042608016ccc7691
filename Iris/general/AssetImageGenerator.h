#pragma once

#include "platform/foundation/PlatformError.h"

#include <QImage>
#include <QUrl>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace iris {

// A rational media time: value over timescale seconds.
struct MediaTime {
    std::int64_t value = 0;
    std::int32_t timescale = 0;
    std::uint32_t flags = 0;
    std::int64_t epoch = 0;

    static constexpr std::uint32_t validFlag = 1;

    // `seconds` rounded to the nearest tick of `preferredTimescale`.
    static MediaTime fromSeconds(double seconds, std::int32_t preferredTimescale);
    double seconds() const;
};

// A video file or stream. An asset made without a URL has no frames to give.
struct Asset {
    std::optional<QUrl> url;
};

// Makes still images from frames of a video, through FFmpeg. Only file, http and https inputs are
// opened, and a media file cannot make FFmpeg reach any other protocol.
class AssetImageGenerator : public std::enable_shared_from_this<AssetImageGenerator> {
public:
    enum class Result { succeeded, failed, cancelled };
    // Called once per requested time, on a pool thread: the image (when one was made) and, for a
    // failure, why.
    using Completion = std::function<void(MediaTime requestedTime, std::optional<QImage> image, Result result,
        std::optional<platform::PlatformError> error)>;

    explicit AssetImageGenerator(std::shared_ptr<const Asset> asset);

    const std::shared_ptr<const Asset>& asset() const { return m_asset; }
    bool appliesPreferredTrackTransform() const { return m_appliesPreferredTrackTransform; }
    void setAppliesPreferredTrackTransform(bool applies) { m_appliesPreferredTrackTransform = applies; }

    // Returns at once; the frames are made on a global queue.
    void generateImagesAsynchronously(std::vector<MediaTime> times, Completion completion);
    // Requests not yet finished end with `cancelled`.
    void cancelAllImageGeneration();

    static QString errorDomain() { return QStringLiteral("Iris.AssetImageGenerator"); }

private:
    std::shared_ptr<const Asset> m_asset;
    std::atomic<bool> m_appliesPreferredTrackTransform = false;
    std::atomic<std::uint64_t> m_generation = 0;
};

} // namespace iris
