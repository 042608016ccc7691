#pragma once

#include <QPointer>
#include <QWidget>

#include <memory>

namespace platform {
class Image;
class ImageView;
} // namespace platform

namespace iris {

// What an image view shows while its real image loads. Main thread only.
class Placeholder {
public:
    virtual ~Placeholder() = default;

    virtual void add(platform::ImageView& imageView) = 0;
    virtual void remove(platform::ImageView& imageView) = 0;
};

// An image shown as the view's image until the real one replaces it.
class ImagePlaceholder final : public Placeholder {
public:
    explicit ImagePlaceholder(std::shared_ptr<platform::Image> image)
        : m_image(std::move(image))
    {
    }

    const std::shared_ptr<platform::Image>& image() const { return m_image; }

    void add(platform::ImageView& imageView) override;
    // Leaves the view with no image.
    void remove(platform::ImageView& imageView) override;

private:
    std::shared_ptr<platform::Image> m_image;
};

// A widget laid over the image view: centred, as large as the view, and following its size while it
// is added. The placeholder owns the widget; removing it takes the widget out of the view without
// destroying it, and an image view destroyed with the widget inside takes the widget with it.
class ViewPlaceholder final : public Placeholder {
public:
    explicit ViewPlaceholder(QWidget* view);
    ~ViewPlaceholder() override;
    ViewPlaceholder(const ViewPlaceholder&) = delete;
    ViewPlaceholder& operator=(const ViewPlaceholder&) = delete;

    // Null once the widget has been destroyed.
    QWidget* view() const { return m_view; }

    void add(platform::ImageView& imageView) override;
    void remove(platform::ImageView& imageView) override;

private:
    class SizeTracker;

    QPointer<QWidget> m_view;
    std::unique_ptr<SizeTracker> m_tracker;
};

} // namespace iris
