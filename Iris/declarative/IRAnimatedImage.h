#pragma once

#include "Iris/declarative/IRImageProtocol.h"
#include "Iris/declarative/IRImageWidget.h"

#include "platform/ui/AnimatedImageView.h"

#include <memory>

namespace iris {

// Hosts an `AnimatedImageView` in a declarative image view. Making the view runs the context's
// render configurations once, sets the image and lets layouts squeeze the view; each update only
// sets the image.
class IRAnimatedImageViewRepresenter {
public:
    using RenderingView = platform::AnimatedImageView;
    using Context = IRImageContext<IRAnimatedImageViewRepresenter>;

    static IRAnimatedImageViewRepresenter makeHoldingView(
        std::shared_ptr<platform::Image> image, const std::shared_ptr<Context>& context)
    {
        return { std::move(image), context };
    }

    platform::AnimatedImageView* makeView(QWidget* parent) const;
    void updateView(platform::AnimatedImageView& view) const;
    AnyView asView() const;

    std::shared_ptr<platform::Image> image;
    std::shared_ptr<Context> context;
};

// The declarative view for animated images: like `IRImage`, with the finished image played by an
// `AnimatedImageView`.
class IRAnimatedImage : public IRImageProtocol<IRAnimatedImage, IRAnimatedImageViewRepresenter> {
public:
    explicit IRAnimatedImage(std::shared_ptr<Context> context)
        : IRImageProtocol(std::move(context))
    {
    }
    explicit IRAnimatedImage(const std::optional<QUrl>& url, std::optional<QString> cacheKey = std::nullopt)
        : IRAnimatedImage(fromURL(url, std::move(cacheKey)))
    {
    }

    // Runs on the animated view once, when it is made.
    IRAnimatedImage configureRenderingView(
        std::function<void(platform::AnimatedImageView&)> configuration) const
    {
        context()->renderConfigurations.push_back(std::move(configuration));
        return *this;
    }
};

using IRAnimatedImageView = IRImageWidget<IRAnimatedImage>;

} // namespace iris
