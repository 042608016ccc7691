#pragma once

#include <functional>

class QWidget;

namespace iris {

// A view of any type, as the image views' builders return it: how to make its widget, and how to
// bring a widget made earlier by a view of the same place up to date. Without `update` the widget
// made first is kept as it is.
struct AnyView {
    std::function<QWidget*(QWidget* parent)> make;
    std::function<void(QWidget* widget)> update;
};

} // namespace iris
