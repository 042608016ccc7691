#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

// What a web page says about itself.
struct TDPageInfo {
    std::optional<QString> title;
    std::optional<QString> desc;

    friend bool operator==(const TDPageInfo&, const TDPageInfo&) = default;
};

// Takes the title element and the meta description out of a page's bytes.
//
// The title is the text of the first `<title>...</title>` whose text is not empty and lies on one
// line; the description is the content of the first `<meta name="description" content="...">`
// (attributes in that order, separated by whitespace, either quote kind), read to the quote that
// opened it and on one line. Tags are matched case-sensitively. Both texts are decoded with the
// page's charset (a byte-order mark, then the `contentType` header's charset, then a meta charset
// in the first 1024 bytes or, failing that, before the first title element, else UTF-8) and their character
// references are resolved; a text that is not valid in that charset is absent.
//
// The scan reads each byte a bounded number of times, however the page is made, and never looks
// past the bytes it is given. Safe on any thread.
class TDPageScanner {
public:
    static constexpr qsizetype charsetPrescanBytes = 1024;

    static TDPageInfo scan(QByteArrayView page, QByteArrayView contentType = {});
};
