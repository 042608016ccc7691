// A link's page: the title and description scan, with the first bytes doubling as the response's
// Content-Type header. Whatever the scan finds must also make a well-formed ".webloc" file when
// used as an address, and the link made from it must save into the library and load back the same.
#include "FuzzSupport.h"

#include "app/notes/TDPageScanner.h"
#include "app/notes/TDWeblocFile.h"
#include "app/store/TDLibraryCoding.h"

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

// The link the capture makes of the page, saved and loaded again by both readings of the file.
void checkSavedLink(const TDPageInfo& info)
{
    const TDLink link { info.title, info.desc, QStringLiteral("https://example.com/"), platform::Uuid::random(),
        platform::Uuid::random(), {} };
    const auto saved = tdlibrary::encodeLinks({ link });
    if (!saved)
        std::abort();
    for (const auto& loaded :
        { tdlibrary::decodeLinks(saved.value()), tdlibrary::decodeLinksThroughDocument(saved.value()) }) {
        if (!loaded || loaded.value().size() != 1 || loaded.value()[0].title != info.title
            || loaded.value()[0].desc != info.desc)
            std::abort();
    }
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
    checkSavedLink(info);
    return 0;
}
