#pragma once

#include "platform/text/AttributedString.h"

#include <QByteArray>

namespace platform {

// Writes an attributed string as RTF with the attributes the reader keeps (see RtfReader). Every
// character survives a round trip through the reader except line ends: "\n", "\r" and "\r\n" all
// become one paragraph mark, which reads back as "\n". Characters outside ASCII are written as
// \uN with a Windows-1252 fallback where one exists, so older readers still show accents.
class RtfWriter {
public:
    static QByteArray write(const AttributedString& text);
};

} // namespace platform
