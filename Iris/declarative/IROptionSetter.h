#pragma once

#include "Iris/declarative/IRImageContext.h"

#include <functional>
#include <memory>
#include <utility>

namespace iris {

class ImageProcessor;

// Chained option setters and the three callback hooks, for any `Self` that provides
// `options()`, `setOptions()`, the three delegates and `hookTarget()`. Each setter changes one
// field of the options in place and returns `self` (a copy of a view shares its context, so the
// change reaches every copy).
template<typename Self> class IROptionSetter {
public:
    // Reads a copy of the options, lets `change` edit it, writes it back as a whole.
    Self changingOptions(const std::function<void(IrisParsedOptionsInfo&)>& change) const
    {
        IrisParsedOptionsInfo options = self().options();
        change(options);
        self().setOptions(std::move(options));
        return self();
    }

    Self forceTransition(bool on = true) const
    {
        return changingOptions([on](IrisParsedOptionsInfo& options) { options.forceTransition = on; });
    }
    Self setProcessor(std::shared_ptr<const ImageProcessor> processor) const
    {
        return changingOptions(
            [&](IrisParsedOptionsInfo& options) { options.processor = std::move(processor); });
    }
    // A null image sets "no image", which differs from leaving the option unset.
    Self onFailureImage(std::shared_ptr<platform::Image> image) const
    {
        return changingOptions(
            [&](IrisParsedOptionsInfo& options) { options.onFailureImage = std::move(image); });
    }
    Self callbackQueue(CallbackQueue queue) const
    {
        return changingOptions(
            [&](IrisParsedOptionsInfo& options) { options.callbackQueue = std::move(queue); });
    }
    Self loadDiskFileSynchronously(bool on = true) const
    {
        return changingOptions(
            [on](IrisParsedOptionsInfo& options) { options.loadDiskFileSynchronously = on; });
    }

    // Each hook replaces the delegate's block by one that holds the hook target weakly: once the
    // target is gone, `block` is not called.
    Self onProgress(std::function<void(std::int64_t received, std::int64_t total)> block) const
    {
        self().onProgressDelegate().template delegate<IRImageContextBase>(self().hookTarget(),
            [block = std::move(block)](IRImageContextBase&, std::pair<std::int64_t, std::int64_t> sizes) {
                if (block)
                    block(sizes.first, sizes.second);
                return NoResult {};
            });
        return self();
    }
    Self onSuccess(std::function<void(const RetrieveImageResult&)> block) const
    {
        self().onSuccessDelegate().template delegate<IRImageContextBase>(
            self().hookTarget(), [block = std::move(block)](IRImageContextBase&, RetrieveImageResult result) {
                if (block)
                    block(result);
                return NoResult {};
            });
        return self();
    }
    Self onFailure(std::function<void(const IrisError&)> block) const
    {
        self().onFailureDelegate().template delegate<IRImageContextBase>(
            self().hookTarget(), [block = std::move(block)](IRImageContextBase&, IrisError error) {
                if (block)
                    block(error);
                return NoResult {};
            });
        return self();
    }

private:
    const Self& self() const { return static_cast<const Self&>(*this); }
};

} // namespace iris
