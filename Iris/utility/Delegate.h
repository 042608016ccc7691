#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <type_traits>
#include <utility>

namespace iris {

// Met by every optional type: `nilValue` is its empty value. It lets a delegate whose output is
// itself optional answer that output type directly instead of an optional of it.
template<typename T> struct OptionalProtocol : std::false_type {
};
template<typename T> struct OptionalProtocol<std::optional<T>> : std::true_type {
    static std::optional<T> nilValue() { return std::nullopt; }
};

namespace detail {

template<typename Input, typename Output> struct DelegateSignature {
    using Block = std::function<std::optional<Output>(Input)>;
    template<typename Target> using TargetBlock = std::function<Output(Target&, Input)>;
};

template<typename Output> struct DelegateSignature<void, Output> {
    using Block = std::function<std::optional<Output>()>;
    template<typename Target> using TargetBlock = std::function<Output(Target&)>;
};

} // namespace detail

// One callback registered against a target that it does not keep alive: once the target has gone,
// calling the delegate yields nothing and the callback is not run. `Input` may be void.
template<typename Input, typename Output> class Delegate {
public:
    using Block = typename detail::DelegateSignature<Input, Output>::Block;
    template<typename Target>
    using TargetBlock = typename detail::DelegateSignature<Input, Output>::template TargetBlock<Target>;
    // What a call gives: an optional Output, or Output itself when that is already optional.
    using CallResult = std::conditional_t<OptionalProtocol<Output>::value, Output, std::optional<Output>>;

    Delegate() = default;
    Delegate(const Delegate&) = delete;
    Delegate& operator=(const Delegate&) = delete;

    // Replaces the block by one that holds `target` weakly and runs `block` with it while it lives.
    // An empty `block` makes every later call yield nothing.
    template<typename Target> void delegate(const std::shared_ptr<Target>& target, TargetBlock<Target> block)
    {
        Block wrapped;
        if constexpr (std::is_void_v<Input>) {
            wrapped = [weakTarget = std::weak_ptr<Target>(target),
                          block = std::move(block)]() -> std::optional<Output> {
                std::shared_ptr<Target> strong = weakTarget.lock();
                if (!strong || !block)
                    return std::nullopt;
                return block(*strong);
            };
        } else {
            wrapped = [weakTarget = std::weak_ptr<Target>(target), block = std::move(block)](
                          Input input) -> std::optional<Output> {
                std::shared_ptr<Target> strong = weakTarget.lock();
                if (!strong || !block)
                    return std::nullopt;
                return block(*strong, std::move(input));
            };
        }
        Block previous;
        {
            std::lock_guard lock(m_mutex);
            previous = std::exchange(m_block, std::move(wrapped));
        }
    }

    bool hasBlock() const
    {
        std::lock_guard lock(m_mutex);
        return static_cast<bool>(m_block);
    }

    template<typename I = Input>
    requires(!std::is_void_v<I>) CallResult call(I input)
    const
    {
        Block block = currentBlock();
        if (!block)
            return CallResult();
        return flatten(block(std::move(input)));
    }

    template<typename I = Input>
    requires std::is_void_v<I> CallResult call()
    const
    {
        Block block = currentBlock();
        if (!block)
            return CallResult();
        return flatten(block());
    }

    template<typename I = Input>
    requires(!std::is_void_v<I>) CallResult operator()(I input) const { return call(std::move(input)); }

    template<typename I = Input>
    requires std::is_void_v<I> CallResult operator()() const { return call(); }

private:
    Block currentBlock() const
    {
        // The block is copied out so that it runs without the lock and may re-register itself.
        std::lock_guard lock(m_mutex);
        return m_block;
    }

    static CallResult flatten(std::optional<Output> result)
    {
        if constexpr (OptionalProtocol<Output>::value) {
            if (!result)
                return OptionalProtocol<Output>::nilValue();
            return std::move(*result);
        } else {
            return result;
        }
    }

    mutable std::mutex m_mutex;
    Block m_block;
};

} // namespace iris
