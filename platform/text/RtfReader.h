#pragma once

#include "platform/foundation/PlatformError.h"
#include "platform/foundation/Result.h"
#include "platform/text/AttributedString.h"

#include <QByteArrayView>

namespace platform {

// Reads RTF into an attributed string with the attributes the text view keeps: font family and
// size, bold, italic, strike-through, underline (styles 1 single, 2 thick, 9 double) and its
// colour, foreground and background colours, and paragraph alignment. Everything else is skipped
// with its text kept: table cells become tab-separated lines, field results are kept and their
// instructions dropped, and pictures, objects, shapes, headers, footnotes and unknown destinations
// are skipped whole. Nothing a document names is ever opened or fetched.
//
// The reader takes time linear in the input and memory proportional to it, whatever the input:
// truncated documents keep what was read, unbalanced braces end the document, and groups nested
// deeper than a fixed limit share their parent's formatting.
class RtfReader {
public:
    static constexpr int maxGroupDepth = 256;

    // Fails only when `data` does not start with an RTF header ("{\rtf", after white space).
    static Result<AttributedString, PlatformError> read(QByteArrayView data);
};

} // namespace platform
