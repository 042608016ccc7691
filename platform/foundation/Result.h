#pragma once

#include <cassert>
#include <utility>
#include <variant>

namespace platform {

struct Success {
};

// A success value or a failure value, never both. The failure side is `E`; `Result<void, E>` is
// spelled `Result<Success, E>`.
template<typename T, typename E>
class Result {
public:
    static Result success(T value) { return Result(std::in_place_index<0>, std::move(value)); }
    static Result failure(E error) { return Result(std::in_place_index<1>, std::move(error)); }

    bool isSuccess() const { return m_storage.index() == 0; }
    bool isFailure() const { return m_storage.index() == 1; }
    explicit operator bool() const { return isSuccess(); }

    const T& value() const&
    {
        assert(isSuccess());
        return std::get<0>(m_storage);
    }
    T& value() &
    {
        assert(isSuccess());
        return std::get<0>(m_storage);
    }
    T&& value() &&
    {
        assert(isSuccess());
        return std::get<0>(std::move(m_storage));
    }
    const E& error() const&
    {
        assert(isFailure());
        return std::get<1>(m_storage);
    }
    E&& error() &&
    {
        assert(isFailure());
        return std::get<1>(std::move(m_storage));
    }

    template<typename F>
    auto map(F&& transform) const -> Result<decltype(transform(std::declval<const T&>())), E>
    {
        using U = decltype(transform(std::declval<const T&>()));
        if (isSuccess())
            return Result<U, E>::success(transform(value()));
        return Result<U, E>::failure(error());
    }

private:
    template<std::size_t I, typename V>
    Result(std::in_place_index_t<I> index, V&& value)
        : m_storage(index, std::forward<V>(value))
    {
    }

    std::variant<T, E> m_storage;
};

} // namespace platform
