#pragma once

#include "Iris/declarative/IRImageRenderer.h"

#include "platform/foundation/DispatchQueue.h"
#include "platform/ui/FadeAnimation.h"
#include "platform/ui/ObservedWidget.h"

#include <QPointer>
#include <QResizeEvent>

#include <memory>
#include <optional>

namespace iris {

// Shows a declarative image view (`IRImage`, `IRAnimatedImage`) in a screen. Give it a freshly built
// view value on every render: a view whose context equals the current one (same source, same
// processor identifier) keeps the binder, and so the image and any retrieval under way; another
// starts over with a fresh binder. The placeholder layer's appearance, while this widget is
// visible, starts the retrieval; its disappearance (hiding, removal, destruction) cancels it when
// the view asks for that. Scrolling does not hide a widget: a grid that wants its off-screen cells
// to disappear hides them. Main thread only.
template<typename View> class IRImageWidget final : public platform::ObservedWidget {
public:
    using HoldingView = typename View::HoldingView;
    using Context = IRImageContext<HoldingView>;
    using Renderer = IRImageRenderer<HoldingView>;

    explicit IRImageWidget(View view, QWidget* parent = nullptr)
        : ObservedWidget(parent)
    {
        setView(std::move(view));
    }

    ~IRImageWidget() override
    {
        if (m_placeholderAppeared)
            m_renderer->disappearAction()();
    }

    void setView(const View& view)
    {
        if (m_renderer && *m_renderer->context() == *view.context()) {
            m_renderer->setContext(view.context());
        } else {
            if (m_renderer && m_placeholderAppeared) {
                m_placeholderAppeared = false;
                m_renderer->disappearAction()();
            }
            delete m_imageLayer;
            delete m_placeholderLayer;
            m_renderer.emplace(ImageBinder::create(), view.context());
        }
        renderNow();
    }

    const std::shared_ptr<ImageBinder>& binder() const { return m_renderer->binder(); }
    const std::shared_ptr<Context>& context() const { return m_renderer->context(); }
    QWidget* imageLayer() const { return m_imageLayer; }
    QWidget* placeholderLayer() const { return m_placeholderLayer; }

    QSize sizeHint() const override { return m_imageLayer ? m_imageLayer->sizeHint() : QSize(); }
    QSize minimumSizeHint() const override
    {
        return m_imageLayer ? m_imageLayer->minimumSizeHint() : QSize();
    }

protected:
    void render() override
    {
        m_renderer->binder()->observe();
        auto body = m_renderer->body();

        const AnyView imageView = body.content ? *body.content : body.holdingView.asView();
        const bool isContent = body.content.has_value();
        const QSize hintBefore = sizeHint();
        const QSize minimumBefore = minimumSizeHint();
        if (!m_imageLayer || isContent != m_imageLayerIsContent) {
            delete m_imageLayer;
            m_imageLayer = imageView.make(this);
            m_imageLayerIsContent = isContent;
            m_imageLayer->setGeometry(rect());
            m_imageLayer->lower();
        } else if (imageView.update) {
            imageView.update(m_imageLayer);
        }
        // The layer's own request goes no further than this widget, which has no layout: a layout
        // holding this view learns of an image that came (and so of its size) only from here.
        if (sizeHint() != hintBefore || minimumSizeHint() != minimumBefore)
            updateGeometry();
        if (body.imageOpacity > 0) {
            const bool wasHidden = m_imageLayer->isHidden();
            m_imageLayer->show();
            if (wasHidden && body.fadeDuration && hasAppeared())
                platform::fadeIn(m_imageLayer, *body.fadeDuration);
        } else {
            m_imageLayer->hide();
        }

        if (body.hasPlaceholderLayer) {
            const bool clear = !body.placeholder;
            if (!m_placeholderLayer || clear != m_placeholderIsClear) {
                delete m_placeholderLayer;
                m_placeholderLayer = clear ? new QWidget(this) : body.placeholder->make(this);
                m_placeholderIsClear = clear;
                m_placeholderLayer->setGeometry(rect());
                m_placeholderLayer->show();
            } else if (!clear && body.placeholder->update) {
                body.placeholder->update(m_placeholderLayer);
            }
            m_placeholderLayer->raise();
            if (hasAppeared() && !m_placeholderAppeared) {
                // After this render: a start may complete at once, and its change must reach a
                // render that is already tracking. A view hidden before then has already told its
                // disappearance, so it starts nothing out of sight.
                m_placeholderAppeared = true;
                platform::DispatchQueue::main()->async(
                    [self = QPointer<IRImageWidget>(this), appear = m_renderer->appearAction()] {
                        if (self && self->m_placeholderAppeared)
                            appear();
                    });
            }
        } else if (m_placeholderLayer) {
            delete m_placeholderLayer;
            if (m_placeholderAppeared) {
                m_placeholderAppeared = false;
                platform::DispatchQueue::main()->async(m_renderer->disappearAction());
            }
        }
    }

    void appeared() override
    {
        if (m_placeholderLayer && !m_placeholderAppeared) {
            m_placeholderAppeared = true;
            m_renderer->appearAction()();
        }
    }

    void disappeared() override
    {
        if (m_placeholderAppeared) {
            m_placeholderAppeared = false;
            m_renderer->disappearAction()();
        }
    }

    void resizeEvent(QResizeEvent* event) override
    {
        ObservedWidget::resizeEvent(event);
        if (m_imageLayer)
            m_imageLayer->setGeometry(rect());
        if (m_placeholderLayer)
            m_placeholderLayer->setGeometry(rect());
    }

private:
    std::optional<Renderer> m_renderer;
    QPointer<QWidget> m_imageLayer;
    bool m_imageLayerIsContent = false;
    QPointer<QWidget> m_placeholderLayer;
    bool m_placeholderIsClear = true;
    bool m_placeholderAppeared = false;
};

} // namespace iris
