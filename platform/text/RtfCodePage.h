#pragma once

#include <QByteArrayView>
#include <QString>

#include <vector>

namespace platform::rtf {

// Windows code pages as RTF documents declare them (\ansicpg, \fcharset, \cpg). Windows-1252 is
// decoded from a table of our own; the others go through the C library's iconv, which every
// Debian system has, so no codec plug-in is needed.
class CodePageDecoder {
public:
    CodePageDecoder() = default;
    ~CodePageDecoder();
    CodePageDecoder(const CodePageDecoder&) = delete;
    CodePageDecoder& operator=(const CodePageDecoder&) = delete;

    // Appends the text of `bytes` in `codePage` to `out`. A byte sequence the code page does not
    // define becomes U+FFFD; an unknown code page is read as Windows-1252.
    void decode(int codePage, QByteArrayView bytes, QString& out);

private:
    struct Converter {
        int codePage;
        void* handle; // iconv_t, or (iconv_t)-1 when the C library has no such code page
    };
    void* converterFor(int codePage);

    std::vector<Converter> m_converters;
};

// The code page of a font's \fcharset. ANSI and the default character set follow the document's
// \ansicpg.
int codePageForCharset(int charset, int ansiCodePage);

// The Windows-1252 byte that stands for `unit`, or -1 when the code page has none.
int windows1252Byte(char16_t unit);

} // namespace platform::rtf
