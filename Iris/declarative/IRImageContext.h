#pragma once

#include "Iris/declarative/AnyView.h"
#include "Iris/declarative/ImageRetrieving.h"
#include "Iris/declarative/Progress.h"
#include "Iris/utility/Delegate.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <variant>
#include <vector>

namespace iris {

// The output of the view hooks, which answer nothing.
using NoResult = std::monostate;

// The shared, mutable record of one declarative image view: what to show, how to retrieve it, and
// the callbacks. Modifiers change it; every copy of the view holds the same one. Main thread only.
//
// Two contexts are equal when their sources are equal (or both absent) and their processors have
// the same identifier: that is the identity of the view's renderer, so a screen that builds a new
// view with an equal context on every render keeps the renderer's binder and its image.
class IRImageContextBase : public std::enable_shared_from_this<IRImageContextBase> {
public:
    using PlaceholderBuilder = std::function<AnyView(const std::shared_ptr<Progress>& progress)>;

    virtual ~IRImageContextBase() = default;
    IRImageContextBase(const IRImageContextBase&) = delete;
    IRImageContextBase& operator=(const IRImageContextBase&) = delete;

    const std::optional<Source>& source() const { return m_source; }

    // The manager's default options followed by `loadDiskFileSynchronously`.
    IrisParsedOptionsInfo options;
    bool cancelOnDisappear = false;
    // Unset (empty): the placeholder layer is clear.
    PlaceholderBuilder placeholder;
    Delegate<IrisError, NoResult> onFailureDelegate;
    Delegate<RetrieveImageResult, NoResult> onSuccessDelegate;
    Delegate<std::pair<std::int64_t, std::int64_t>, NoResult> onProgressDelegate;
    bool startLoadingBeforeViewAppear = false;

    bool fadeApplies(CacheType cacheType) const;
    // Nothing when no fade applies or the transition is not a fade.
    std::optional<double> fadeDuration(CacheType cacheType) const;

    bool operator==(const IRImageContextBase& other) const;
    std::size_t hash() const;

protected:
    explicit IRImageContextBase(std::optional<Source> source);

private:
    std::optional<Source> m_source;
};

// The context of a view whose finished image is held by a `HoldingView`: adds what is applied to
// that view.
template<typename HoldingView> class IRImageContext final : public IRImageContextBase {
public:
    using RenderingView = typename HoldingView::RenderingView;

    static std::shared_ptr<IRImageContext> create(std::optional<Source> source)
    {
        return std::shared_ptr<IRImageContext>(new IRImageContext(std::move(source)));
    }

    // Applied in order to the holding view.
    std::vector<std::function<HoldingView(HoldingView)>> configurations;
    // Applied once to the rendering view when it is made (the animated view only).
    std::vector<std::function<void(RenderingView&)>> renderConfigurations;
    // Unset (empty): the holding view itself is shown.
    std::function<AnyView(HoldingView)> contentConfiguration;

    std::shared_ptr<IRImageContext> sharedFromThis()
    {
        return std::static_pointer_cast<IRImageContext>(shared_from_this());
    }

private:
    explicit IRImageContext(std::optional<Source> source)
        : IRImageContextBase(std::move(source))
    {
    }
};

} // namespace iris
