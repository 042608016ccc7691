#pragma once

#include "Iris/declarative/IRImageContext.h"
#include "Iris/declarative/ImageBinder.h"

#include "platform/foundation/DispatchQueue.h"

#include <functional>
#include <memory>
#include <optional>

namespace iris {

// What a declarative image view shows, worked out without widgets: an image layer (the holding
// view with the context's configurations, or the content configuration's view) that is opaque once
// a retrieval has finished, and above it, until an image is there, a placeholder layer whose
// appearance starts the retrieval. A widget paints the body and reports the placeholder layer's
// appearing and disappearing through the actions.
template<typename HoldingView> class IRImageRenderer {
public:
    using Context = IRImageContext<HoldingView>;

    struct Body {
        HoldingView holdingView;
        // Set when the context has a content configuration: shown instead of the holding view.
        std::optional<AnyView> content;
        double imageOpacity = 0;
        // Set when this evaluation is the first to see a change made inside a fade: the image
        // layer's opacity change is animated linearly over this many seconds.
        std::optional<double> fadeDuration;
        bool hasPlaceholderLayer = false;
        // The placeholder's view; nothing means a clear layer.
        std::optional<AnyView> placeholder;
    };

    IRImageRenderer(std::shared_ptr<ImageBinder> binder, std::shared_ptr<Context> context)
        : m_binder(std::move(binder))
        , m_context(std::move(context))
        , m_seenFadeTransactions(m_binder->fadeTransactionCount())
    {
    }

    const std::shared_ptr<ImageBinder>& binder() const { return m_binder; }
    const std::shared_ptr<Context>& context() const { return m_context; }
    // A new view value with an equal context: same identity, so the binder stays.
    void setContext(std::shared_ptr<Context> context) { m_context = std::move(context); }

    Body body()
    {
        ImageBinder& binder = *m_binder;
        // Once only: a finished retrieval is tried again by an appearance, never by a render, or a
        // failure that re-renders (a set failure image of none, a hook that redraws the parent)
        // would retry without end.
        if (m_context->startLoadingBeforeViewAppear && !binder.loading && !binder.loaded
            && !binder.loadedImage && !binder.animating) {
            binder.loading = true;
            // Unless something happened before it runs: a disappearance that called it off (no
            // longer loading), or an appearance that started the load itself (a task to cancel).
            platform::DispatchQueue::main()->async(
                [weakBinder = std::weak_ptr<ImageBinder>(m_binder), context = m_context] {
                    auto strong = weakBinder.lock();
                    if (strong && strong->loading && !strong->downloadTask)
                        strong->start(context);
                });
        }

        Body body { HoldingView::makeHoldingView(binder.loadedImage, m_context) };
        for (const auto& configuration : m_context->configurations)
            body.holdingView = configuration(std::move(body.holdingView));
        if (m_context->contentConfiguration)
            body.content = m_context->contentConfiguration(body.holdingView);
        body.imageOpacity = binder.loaded ? 1.0 : 0.0;
        if (binder.fadeTransactionCount() != m_seenFadeTransactions) {
            m_seenFadeTransactions = binder.fadeTransactionCount();
            body.fadeDuration = binder.lastFadeDuration();
        }
        body.hasPlaceholderLayer = !binder.loadedImage;
        if (body.hasPlaceholderLayer && m_context->placeholder)
            body.placeholder = m_context->placeholder(binder.progress);
        return body;
    }

    // The placeholder layer's actions. Both hold the binder weakly: once the view has dropped it,
    // they do nothing.
    std::function<void()> appearAction() const
    {
        return [weakBinder = std::weak_ptr<ImageBinder>(m_binder), context = m_context] {
            auto binder = weakBinder.lock();
            if (binder && !binder->loading && !binder->loadedImage)
                binder->start(context);
        };
    }
    std::function<void()> disappearAction() const
    {
        return [weakBinder = std::weak_ptr<ImageBinder>(m_binder), context = m_context] {
            auto binder = weakBinder.lock();
            if (binder && context->cancelOnDisappear)
                binder->cancelDownload();
        };
    }

private:
    std::shared_ptr<ImageBinder> m_binder;
    std::shared_ptr<Context> m_context;
    std::uint64_t m_seenFadeTransactions = 0;
};

} // namespace iris
