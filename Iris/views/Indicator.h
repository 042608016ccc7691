#pragma once

#include "platform/graphics/Geometry.h"

#include <QByteArray>
#include <QPointer>
#include <QWidget>

#include <memory>

namespace platform {
class AnimatedImageView;
class ImageView;
class ProgressIndicator;
} // namespace platform

namespace iris {

struct IrisParsedOptionsInfo;

// How an indicator's view is sized inside its image view.
class IndicatorSizeStrategy {
public:
    enum class Kind {
        intrinsicSize, // its own size
        full, // the image view's size
        size, // a fixed size
    };

    static IndicatorSizeStrategy intrinsicSize() { return { Kind::intrinsicSize, {} }; }
    static IndicatorSizeStrategy full() { return { Kind::full, {} }; }
    static IndicatorSizeStrategy size(platform::Size size) { return { Kind::size, size }; }

    Kind kind() const { return m_kind; }
    platform::Size fixedSize() const { return m_size; }

private:
    IndicatorSizeStrategy(Kind kind, platform::Size size)
        : m_kind(kind)
        , m_size(size)
    {
    }

    Kind m_kind;
    platform::Size m_size;
};

// The loading indicator an image view shows while its image loads: started when a request starts,
// stopped when it ends. Main thread only.
class Indicator {
public:
    virtual ~Indicator() = default;

    virtual void startAnimatingView() = 0;
    virtual void stopAnimatingView() = 0;
    // The offset of the indicator's centre from the image view's centre.
    virtual platform::Point centerOffset() const { return {}; }
    virtual QWidget* view() const = 0;
    virtual IndicatorSizeStrategy sizeStrategy(const platform::ImageView&) const
    {
        return IndicatorSizeStrategy::intrinsicSize();
    }
};

// The kinds of loading indicator an image view can be given.
class IndicatorType {
public:
    enum class Kind { none, activity, image, custom };

    static IndicatorType none() { return IndicatorType(Kind::none, {}, nullptr); }
    static IndicatorType activity() { return IndicatorType(Kind::activity, {}, nullptr); }
    // An image made from `imageData`, animated when the data is a GIF.
    static IndicatorType image(QByteArray imageData)
    {
        return IndicatorType(Kind::image, std::move(imageData), nullptr);
    }
    static IndicatorType custom(std::shared_ptr<Indicator> indicator)
    {
        return IndicatorType(Kind::custom, {}, std::move(indicator));
    }

    Kind kind() const { return m_kind; }
    const QByteArray& imageData() const { return m_imageData; }
    const std::shared_ptr<Indicator>& indicator() const { return m_indicator; }

private:
    IndicatorType(Kind kind, QByteArray imageData, std::shared_ptr<Indicator> indicator)
        : m_kind(kind)
        , m_imageData(std::move(imageData))
        , m_indicator(std::move(indicator))
    {
    }

    Kind m_kind;
    QByteArray m_imageData;
    std::shared_ptr<Indicator> m_indicator;
};

// Deletes `view` on the main thread: at once when called there, else later.
void deleteViewOnMainThread(QPointer<QWidget> view);

// A small spinning progress indicator (16 x 16) that turns while at least one started request has
// not stopped.
class ActivityIndicator final : public Indicator {
public:
    ActivityIndicator();
    ~ActivityIndicator() override;
    ActivityIndicator(const ActivityIndicator&) = delete;
    ActivityIndicator& operator=(const ActivityIndicator&) = delete;

    void startAnimatingView() override;
    void stopAnimatingView() override;
    QWidget* view() const override;

    platform::ProgressIndicator* activityIndicatorView() const;
    int animatingCount() const { return m_animatingCount; }

private:
    // Held as a plain widget pointer so that it can be handed to the main thread from any thread.
    QPointer<QWidget> m_activityIndicatorView;
    int m_animatingCount = 0;
};

// An image, shown at its own size in the middle of the image view and animated while requests run.
class ImageIndicator final : public Indicator {
public:
    // Null when no image can be made from `imageData`. Without options, the default ones.
    static std::shared_ptr<ImageIndicator> create(
        const QByteArray& imageData, const IrisParsedOptionsInfo* options = nullptr);
    ~ImageIndicator() override;
    ImageIndicator(const ImageIndicator&) = delete;
    ImageIndicator& operator=(const ImageIndicator&) = delete;

    // Counted as the activity indicator counts, so overlapping requests keep it shown until the last
    // one ends.
    void startAnimatingView() override;
    void stopAnimatingView() override;
    QWidget* view() const override;
    IndicatorSizeStrategy sizeStrategy(const platform::ImageView&) const override
    {
        return IndicatorSizeStrategy::full();
    }

    platform::AnimatedImageView* animatedImageIndicatorView() const;

private:
    explicit ImageIndicator(platform::AnimatedImageView* view);

    QPointer<QWidget> m_animatedImageIndicatorView;
    int m_animatingCount = 0;
};

} // namespace iris
