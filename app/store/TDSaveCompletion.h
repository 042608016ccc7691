#pragma once

#include "platform/foundation/PlatformError.h"
#include "platform/foundation/Result.h"

#include <functional>

// How a library save ends, on the main queue.
using TDSaveCompletion = std::function<void(platform::Result<platform::Success, platform::PlatformError>)>;
