// A link's page: the title and description scan, with the first bytes doubling as the response's
// Content-Type header. Whatever the scan finds must also make a well-formed ".webloc" file when
// used as an address.
#include "FuzzSupport.h"

#include "app/notes/TDPageScanner.h"
#include "app/notes/TDWeblocFile.h"

#include <QXmlStreamReader>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

void checkWebloc(const QString& address)
{
    QXmlStreamReader reader(TDWeblocFile::contents(address));
    while (!reader.atEnd())
        reader.readNext();
    if (reader.hasError())
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzzsupport::ensureApplication();
    const QByteArrayView page(reinterpret_cast<const char*>(data), qsizetype(size));
    const TDPageInfo info = TDPageScanner::scan(page, page.first(std::min<qsizetype>(64, page.size())));
    if (info.title)
        checkWebloc(*info.title);
    if (info.desc)
        checkWebloc(*info.desc);
    return 0;
}
