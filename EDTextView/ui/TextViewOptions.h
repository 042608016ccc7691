#pragma once

#include <functional>
#include <initializer_list>

namespace EDTextViewUI {

// The display options of the text view's hosts, a set over an unsigned integer: wrapping lines
// (the text view's `widthTracksTextView`) and highlighting the selected line (its
// `highlightSelectedLine`). Built from a list, whose union it is.
struct TextViewOptions {
    enum Option : unsigned {
        wrapLines = 1,
        highlightSelectedLine = 2,
    };

    unsigned rawValue = 0;

    constexpr TextViewOptions() = default;
    constexpr explicit TextViewOptions(unsigned raw)
        : rawValue(raw)
    {
    }
    constexpr TextViewOptions(std::initializer_list<Option> options)
    {
        for (Option option : options)
            rawValue |= option;
    }

    constexpr bool contains(Option option) const { return (rawValue & option) == unsigned(option); }
    constexpr bool operator==(const TextViewOptions&) const = default;
};

// A two-way binding to a value its owner keeps: read with `get`, written with `set`.
template<typename T> struct Binding {
    std::function<T()> get;
    std::function<void(T)> set;
};

} // namespace EDTextViewUI
