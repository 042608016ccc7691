#pragma once

#include "platform/text/AttributedString.h"

#include <optional>

namespace edtextview {

// Text another program gave (a paste, a drop) as it goes into the document. Control characters
// that no key types (NUL, escape, delete and the like) are left out, as they would sit unseen in
// the note; tabs and line ends stay. Half of a surrogate pair on its own becomes U+FFFD, which is
// what saving it as UTF-8 would make of it anyway. Attributes stay with the characters kept.
// None when nothing is left of a text that was not empty.
std::optional<platform::AttributedString> pastedText(const platform::AttributedString& text);

} // namespace edtextview
