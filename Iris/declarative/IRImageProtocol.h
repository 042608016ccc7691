#pragma once

#include "Iris/declarative/IRImageContext.h"
#include "Iris/declarative/IROptionSetter.h"
#include "Iris/general/ImageDataProvider.h"
#include "Iris/image/ImageTransition.h"

#include <QByteArray>
#include <QUrl>

#include <memory>
#include <optional>

namespace iris {

class Resource;

// What every declarative image view shares: one shared context, its modifiers (each changes the
// context and returns a copy of the view holding the same context) and the option setters, which
// write into the context's options and are read at the view's next retrieval.
template<typename Self, typename Holding> class IRImageProtocol : public IROptionSetter<Self> {
public:
    using HoldingView = Holding;
    using Context = IRImageContext<HoldingView>;

    explicit IRImageProtocol(std::shared_ptr<Context> context)
        : m_context(std::move(context))
    {
    }

    // An absent URL gives an absent source; a file URL a provider source, any other a network one.
    static Self fromURL(const std::optional<QUrl>& url, std::optional<QString> cacheKey = std::nullopt)
    {
        if (!url)
            return fromSource(std::nullopt);
        return fromSource(convertToSource(*url, std::move(cacheKey)));
    }
    static Self fromSource(std::optional<Source> source) { return Self(Context::create(std::move(source))); }
    static Self fromResource(const std::shared_ptr<const Resource>& resource)
    {
        if (!resource)
            return fromSource(std::nullopt);
        return fromSource(convertToSource(*resource));
    }
    static Self fromDataProvider(std::shared_ptr<const ImageDataProvider> provider)
    {
        if (!provider)
            return fromSource(std::nullopt);
        return fromSource(Source::provider(std::move(provider)));
    }
    static Self fromData(const std::optional<QByteArray>& data, const QString& cacheKey)
    {
        if (!data)
            return fromSource(std::nullopt);
        return fromSource(Source::makeProvider(RawImageDataProvider(*data, cacheKey)));
    }

    const std::shared_ptr<Context>& context() const { return m_context; }
    void setContext(std::shared_ptr<Context> context) { m_context = std::move(context); }

    // With the progress of the retrieval, or without.
    Self placeholder(std::function<AnyView(const std::shared_ptr<Progress>&)> builder) const
    {
        m_context->placeholder = std::move(builder);
        return self();
    }
    Self placeholder(std::function<AnyView()> builder) const
    {
        return placeholder(
            [builder = std::move(builder)](const std::shared_ptr<Progress>&) { return builder(); });
    }
    Self configure(std::function<HoldingView(HoldingView)> configuration) const
    {
        m_context->configurations.push_back(std::move(configuration));
        return self();
    }
    Self contentConfiguration(std::function<AnyView(HoldingView)> configuration) const
    {
        m_context->contentConfiguration = std::move(configuration);
        return self();
    }
    Self cancelOnDisappear(bool flag) const
    {
        m_context->cancelOnDisappear = flag;
        return self();
    }
    // Starts the retrieval at the first render instead of the first appearance.
    Self startLoadingBeforeViewAppear(bool flag = true) const
    {
        m_context->startLoadingBeforeViewAppear = flag;
        return self();
    }
    Self fade(double duration) const
    {
        m_context->options.transition
            = std::make_shared<const ImageTransition>(ImageTransition::fade(duration));
        return self();
    }

    // The option setter's requirements, through the context.
    IrisParsedOptionsInfo options() const { return m_context->options; }
    void setOptions(IrisParsedOptionsInfo options) const { m_context->options = std::move(options); }
    Delegate<IrisError, NoResult>& onFailureDelegate() const { return m_context->onFailureDelegate; }
    Delegate<RetrieveImageResult, NoResult>& onSuccessDelegate() const
    {
        return m_context->onSuccessDelegate;
    }
    Delegate<std::pair<std::int64_t, std::int64_t>, NoResult>& onProgressDelegate() const
    {
        return m_context->onProgressDelegate;
    }
    std::shared_ptr<IRImageContextBase> hookTarget() const { return m_context; }

private:
    const Self& self() const { return static_cast<const Self&>(*this); }

    std::shared_ptr<Context> m_context;
};

} // namespace iris
