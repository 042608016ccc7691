#pragma once

#include "Iris/declarative/HoldingImage.h"
#include "Iris/declarative/IRImageProtocol.h"

namespace iris {

// The declarative view every cover and thumbnail goes through: a value holding one shared context.
// Screens build it from an optional file URL, make it resizable, and show it in an `IRImageView`:
//
//     cover->setView(IRImage(project->coverImageURL()).resizable());
//
// Its image modifiers append a configuration that applies the holding image's operation of the
// same name, with the arguments given here.
class IRImage : public IRImageProtocol<IRImage, HoldingImage> {
public:
    using EdgeInsets = HoldingImage::EdgeInsets;
    using ResizingMode = HoldingImage::ResizingMode;
    using TemplateRenderingMode = HoldingImage::TemplateRenderingMode;
    using Interpolation = HoldingImage::Interpolation;

    explicit IRImage(std::shared_ptr<Context> context)
        : IRImageProtocol(std::move(context))
    {
    }
    explicit IRImage(const std::optional<QUrl>& url, std::optional<QString> cacheKey = std::nullopt)
        : IRImage(fromURL(url, std::move(cacheKey)))
    {
    }

    IRImage resizable(EdgeInsets capInsets = {}, ResizingMode resizingMode = ResizingMode::stretch) const
    {
        return configure([capInsets, resizingMode](
                             HoldingImage image) { return image.resizable(capInsets, resizingMode); });
    }
    IRImage renderingMode(std::optional<TemplateRenderingMode> mode) const
    {
        return configure([mode](HoldingImage image) { return image.renderingMode(mode); });
    }
    IRImage interpolation(Interpolation interpolation) const
    {
        return configure([interpolation](HoldingImage image) { return image.interpolation(interpolation); });
    }
    IRImage antialiased(bool on) const
    {
        return configure([on](HoldingImage image) { return image.antialiased(on); });
    }
};

} // namespace iris
