#include "platform/text/RtfCodePage.h"

#include <iconv.h>

#include <cerrno>

namespace platform::rtf {

namespace {

constexpr int utf8CodePage = 65001;

// 0x80 to 0x9F of Windows-1252; the five bytes it leaves undefined map to the C1 control of the
// same value, as Windows itself decodes them.
constexpr char16_t windows1252High[32] = {
    0x20AC,
    0x0081,
    0x201A,
    0x0192,
    0x201E,
    0x2026,
    0x2020,
    0x2021,
    0x02C6,
    0x2030,
    0x0160,
    0x2039,
    0x0152,
    0x008D,
    0x017D,
    0x008F,
    0x0090,
    0x2018,
    0x2019,
    0x201C,
    0x201D,
    0x2022,
    0x2013,
    0x2014,
    0x02DC,
    0x2122,
    0x0161,
    0x203A,
    0x0153,
    0x009D,
    0x017E,
    0x0178,
};

const char* iconvName(int codePage)
{
    switch (codePage) {
    case 437:
        return "CP437";
    case 850:
        return "CP850";
    case 874:
        return "CP874";
    case 932:
        return "CP932";
    case 936:
        return "CP936";
    case 949:
        return "CP949";
    case 950:
        return "CP950";
    case 1250:
        return "CP1250";
    case 1251:
        return "CP1251";
    case 1253:
        return "CP1253";
    case 1254:
        return "CP1254";
    case 1255:
        return "CP1255";
    case 1256:
        return "CP1256";
    case 1257:
        return "CP1257";
    case 1258:
        return "CP1258";
    case 1361:
        return "JOHAB";
    case 10000:
        return "MACINTOSH";
    default:
        return nullptr;
    }
}

void decodeWindows1252(QByteArrayView bytes, QString& out)
{
    for (const char byte : bytes) {
        const auto value = static_cast<unsigned char>(byte);
        out.append(QChar(value >= 0x80 && value < 0xA0 ? windows1252High[value - 0x80] : char16_t(value)));
    }
}

} // namespace

CodePageDecoder::~CodePageDecoder()
{
    for (const Converter& converter : m_converters) {
        if (converter.handle != reinterpret_cast<void*>(-1))
            iconv_close(static_cast<iconv_t>(converter.handle));
    }
}

void* CodePageDecoder::converterFor(int codePage)
{
    for (const Converter& converter : m_converters) {
        if (converter.codePage == codePage)
            return converter.handle;
    }
    // Only code pages with a name are remembered, so the list stays as short as the table above
    // however many unknown numbers a document declares.
    const char* name = iconvName(codePage);
    if (!name)
        return reinterpret_cast<void*>(-1);
    void* handle = static_cast<void*>(iconv_open("UTF-16LE", name));
    m_converters.push_back({ codePage, handle });
    return handle;
}

void CodePageDecoder::decode(int codePage, QByteArrayView bytes, QString& out)
{
    if (bytes.isEmpty())
        return;
    if (codePage == utf8CodePage) {
        out.append(QString::fromUtf8(bytes));
        return;
    }
    void* handle = codePage == 1252 ? reinterpret_cast<void*>(-1) : converterFor(codePage);
    if (handle == reinterpret_cast<void*>(-1)) {
        decodeWindows1252(bytes, out);
        return;
    }
    auto* converter = static_cast<iconv_t>(handle);
    iconv(converter, nullptr, nullptr, nullptr, nullptr);
    char* in = const_cast<char*>(bytes.data());
    size_t inLeft = size_t(bytes.size());
    // No code page here yields more than two UTF-16 units per byte.
    std::vector<char16_t> buffer(inLeft * 2 + 4);
    // Converts what is left (all of it when `in` is null: converters that compose a letter with a
    // following mark, for Hebrew and Vietnamese, hold the last letter back until then).
    auto convert = [&](char** from, size_t* left) {
        char* outStart = reinterpret_cast<char*>(buffer.data());
        char* outPointer = outStart;
        size_t outLeft = buffer.size() * sizeof(char16_t);
        const size_t result = iconv(converter, from, left, &outPointer, &outLeft);
        out.append(reinterpret_cast<const QChar*>(buffer.data()),
            qsizetype((outPointer - outStart) / qsizetype(sizeof(char16_t))));
        return result;
    };
    while (inLeft > 0) {
        if (convert(&in, &inLeft) != size_t(-1))
            break;
        const int error = errno;
        if (error == E2BIG)
            continue;
        // An invalid byte is replaced and skipped; a sequence cut short at the end is replaced whole.
        convert(nullptr, nullptr);
        out.append(QChar(QChar::ReplacementCharacter));
        if (error == EINVAL)
            break;
        ++in;
        --inLeft;
    }
    convert(nullptr, nullptr);
}

int codePageForCharset(int charset, int ansiCodePage)
{
    switch (charset) {
    case 77:
        return 10000;
    case 128:
        return 932;
    case 129:
        return 949;
    case 130:
        return 1361;
    case 134:
        return 936;
    case 136:
        return 950;
    case 161:
        return 1253;
    case 162:
        return 1254;
    case 163:
        return 1258;
    case 177:
        return 1255;
    case 178:
        return 1256;
    case 186:
        return 1257;
    case 204:
        return 1251;
    case 222:
        return 874;
    case 238:
        return 1250;
    case 254:
        return 437;
    case 255:
        return 850;
    default:
        return ansiCodePage;
    }
}

int windows1252Byte(char16_t unit)
{
    if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF))
        return unit;
    for (int i = 0; i < 32; ++i) {
        if (windows1252High[i] == unit && unit >= 0x100)
            return 0x80 + i;
    }
    return -1;
}

} // namespace platform::rtf
