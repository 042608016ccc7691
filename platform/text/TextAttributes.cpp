#include "platform/text/TextAttributes.h"

namespace platform {

TextAttributes mergedKeepingExisting(TextAttributes base, const TextAttributes& extra)
{
    for (auto it = extra.cbegin(); it != extra.cend(); ++it) {
        if (!base.contains(it.key()))
            base.insert(it.key(), it.value());
    }
    return base;
}

} // namespace platform
