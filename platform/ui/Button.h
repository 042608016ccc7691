#pragma once

#include "platform/foundation/AssociatedObjects.h"

#include <QAbstractButton>

#include <memory>

namespace platform {

class Image;

// A push button that shows an image, and an alternate image while it is pressed or checked (the
// image when it has no alternate one), beside its text if it has any. Loaders keep per-button state
// in its associated objects. Main thread only.
class Button : public QAbstractButton, public AssociatedObjects {
public:
    explicit Button(QWidget* parent = nullptr);
    ~Button() override;

    const std::shared_ptr<Image>& image() const { return m_image; }
    void setImage(std::shared_ptr<Image> image);
    const std::shared_ptr<Image>& alternateImage() const { return m_alternateImage; }
    void setAlternateImage(std::shared_ptr<Image> image);

    // The image the button shows now.
    const std::shared_ptr<Image>& shownImage() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void imagesChanged();

    std::shared_ptr<Image> m_image;
    std::shared_ptr<Image> m_alternateImage;
};

} // namespace platform
