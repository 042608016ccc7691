#pragma once

#include "Iris/declarative/IRImage.h"
#include "Iris/declarative/IRImageWidget.h"

namespace iris {

// The widget a screen puts an `IRImage` in.
using IRImageView = IRImageWidget<IRImage>;

} // namespace iris
