#pragma once

#include "Iris/declarative/IRImageView.h"
#include "platform/foundation/Url.h"

#include <QPointer>

#include <optional>

namespace platform {
class ObservedWidget;
}

// A project's cover filling a tile, as the project's card and the cover popover show it. It lives in
// its owner's render, which calls `show` and shows its tile without a cover when that answers
// nothing. Only a cover file inside the library is read; one whose file is gone, or cannot be read
// or decoded, shows nothing.
class TDCoverView {
public:
    explicit TDCoverView(platform::ObservedWidget* owner);

    // Shows `cover` (the project's cover URL) in an image view that is a child of `tile` (the owner
    // or one of its children), and answers what is shown: nothing when there is no cover, it lies
    // outside the library, or its file could not be read or decoded. A failed retrieval renders the
    // owner again: it changes nothing a render observes.
    std::optional<platform::Url> show(std::optional<platform::Url> cover, QWidget* tile);

    // Fills the tile with the picture, its aspect ratio kept, centred; the tile cuts off the rest.
    void place();

    // Present while the cover is a library file, shown unless its retrieval failed.
    iris::IRImageView* view() const { return m_view; }

private:
    QPointer<platform::ObservedWidget> m_owner;
    QPointer<iris::IRImageView> m_view;
};
