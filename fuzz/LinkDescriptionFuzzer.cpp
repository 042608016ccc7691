// A link's description, as a page gave it (any UTF-16, lone surrogates and controls included), put
// to the Links page's line count: it must read only the text it was given, and say one line exactly
// where the shaped text fits the column, whether asked fresh or after other widths. The same text as
// an address's path must show no character that is invisible or turns the text around it.
#include "app/model/TDLink.h"
#include "app/notes/TDLinkCapture.h"
#include "app/screens/common/TDAppearance.h"
#include "app/screens/common/TDLinkCard.h"

#include <QApplication>
#include <QFontMetricsF>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

void ensureApplication()
{
    static int argc = 1;
    static char name[] = "fuzz";
    static char* argv[] = { name, nullptr };
    static QApplication* app = [] {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        return new QApplication(argc, argv);
    }();
    (void)app;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    ensureApplication();
    if (size < 4)
        return 0;
    const int firstWidth = 1 + (data[0] | (data[1] & 0x0F) << 8);
    const int secondWidth = 1 + (data[2] | (data[3] & 0x0F) << 8);
    QString text(qsizetype((size - 4) / 2), Qt::Uninitialized);
    std::memcpy(text.data(), data + 4, std::size_t(text.size()) * 2);
    const std::optional<QString> description = text;
    const TDLink link { QStringLiteral("Title"), description, QStringLiteral("https://example.com"),
        platform::Uuid::random(), {} };
    const TDLinkCard card(link);
    QString shown = card.descriptionText();
    while (shown.endsWith(QLatin1Char(' ')))
        shown.chop(1);
    const double truth
        = QFontMetricsF(tdappearance::systemFont(TDLinkCard::descriptionFontSize)).horizontalAdvance(shown);

    TDLinkDescriptionWidth resumed(description);
    for (int width : { firstWidth, secondWidth, firstWidth }) {
        const int expected = truth <= width ? 1 : 2;
        if (TDLinkDescriptionWidth(description).linesAt(width, description) != expected
            || resumed.linesAt(width, description) != expected)
            std::abort();
    }

    const QString address = QStringLiteral("https://example.com/") + text;
    if (tdWebAddress(address)) {
        const QString shownAddress
            = TDLinkCard(TDLink { {}, {}, address, platform::Uuid::random(), {} }).addressText();
        for (char32_t c : shownAddress.toUcs4()) {
            switch (QChar::category(c)) {
            case QChar::Other_Control:
            case QChar::Other_Format:
            case QChar::Separator_Line:
            case QChar::Separator_Paragraph:
                std::abort();
            default:
                break;
            }
        }
    }
    return 0;
}
