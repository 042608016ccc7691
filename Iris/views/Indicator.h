#pragma once

namespace iris {

// The loading indicator an image view shows while its image loads.
class Indicator {
public:
    virtual ~Indicator() = default;
};

// The kinds of loading indicator an image view can show.
enum class IndicatorType {
    none,
};

} // namespace iris
