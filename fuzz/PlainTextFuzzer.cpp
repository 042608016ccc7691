// Plain text another program offers: the first line is the MIME type it is offered under, the rest
// its bytes. Whatever the type's charset, reading stays within bounds, and text is read exactly
// when the data says there is some.
#include "FuzzSupport.h"

#include "platform/ui/Pasteboard.h"

#include <QMimeData>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzzsupport::ensureApplication();
    const QByteArrayView input(data, qsizetype(size));
    const qsizetype lineEnd = input.indexOf('\n');
    if (lineEnd < 0)
        return 0;
    QMimeData offered;
    offered.setData(QString::fromUtf8(input.first(lineEnd)), input.sliced(lineEnd + 1).toByteArray());
    const auto pasteboard = platform::Pasteboard::reading(offered);
    const bool readable
        = pasteboard->canReadItemWithDataConformingToTypes({ platform::Pasteboard::stringType });
    if (readable != pasteboard->string().has_value()
        || readable != pasteboard->data(platform::Pasteboard::stringType).has_value())
        std::abort();
    return 0;
}
