#include "Iris/declarative/IRAnimatedImage.h"

#include "Iris/views/AnimatedImageFrames.h"

namespace iris {

platform::AnimatedImageView* IRAnimatedImageViewRepresenter::makeView(QWidget* parent) const
{
    installAnimatedImageFrameSources();
    auto* view = new platform::AnimatedImageView(parent);
    if (context) {
        for (const auto& configuration : context->renderConfigurations)
            configuration(*view);
    }
    view->setImage(image);
    view->setContentCompressionResistancePriority(platform::AnimatedImageView::lowPriority, Qt::Horizontal);
    view->setContentCompressionResistancePriority(platform::AnimatedImageView::lowPriority, Qt::Vertical);
    return view;
}

void IRAnimatedImageViewRepresenter::updateView(platform::AnimatedImageView& view) const
{
    view.setImage(image);
}

AnyView IRAnimatedImageViewRepresenter::asView() const
{
    IRAnimatedImageViewRepresenter representer = *this;
    return AnyView {
        [representer](QWidget* parent) -> QWidget* { return representer.makeView(parent); },
        [representer](QWidget* widget) {
            if (auto* view = dynamic_cast<platform::AnimatedImageView*>(widget))
                representer.updateView(*view);
        },
    };
}

} // namespace iris
