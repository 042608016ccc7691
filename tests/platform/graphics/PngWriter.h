#pragma once

#include <QByteArray>
#include <QRgb>

#include <png.h>

#include <algorithm>
#include <array>
#include <optional>
#include <vector>

namespace testimages {

// A PNG made with libpng, for the chunk combinations Qt's writer cannot make.
struct PngContents {
    int width = 1;
    int height = 1;
    int bitDepth = 8;
    int colorType = PNG_COLOR_TYPE_RGB;
    // Row after row, one value per channel (palette: one index per pixel), at the bit depth.
    std::vector<unsigned> samples;
    std::vector<QRgb> palette;
    // The tRNS colour (grey: the first value only).
    std::optional<std::array<unsigned, 3>> transparentColor;
    std::optional<double> gamma;
    QByteArray iccProfile;
    bool interlaced = false;
};

inline int channelsOf(int colorType)
{
    switch (colorType) {
    case PNG_COLOR_TYPE_RGB:
        return 3;
    case PNG_COLOR_TYPE_RGB_ALPHA:
        return 4;
    case PNG_COLOR_TYPE_GRAY_ALPHA:
        return 2;
    default:
        return 1;
    }
}

inline QByteArray writePng(const PngContents& contents)
{
    QByteArray out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(
        png, &out,
        [](png_structp writer, png_bytep data, png_size_t length) {
            static_cast<QByteArray*>(png_get_io_ptr(writer))
                ->append(reinterpret_cast<const char*>(data), qsizetype(length));
        },
        [](png_structp) {});
    png_set_IHDR(png, info, png_uint_32(contents.width), png_uint_32(contents.height), contents.bitDepth,
        contents.colorType, contents.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
        PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    std::vector<png_color> palette;
    for (QRgb color : contents.palette)
        palette.push_back({ png_byte(qRed(color)), png_byte(qGreen(color)), png_byte(qBlue(color)) });
    if (!palette.empty())
        png_set_PLTE(png, info, palette.data(), int(palette.size()));
    // Palette entries that are not opaque carry their alpha in a tRNS chunk.
    std::vector<png_byte> paletteAlpha;
    for (QRgb color : contents.palette)
        paletteAlpha.push_back(png_byte(qAlpha(color)));
    if (std::any_of(paletteAlpha.begin(), paletteAlpha.end(), [](png_byte alpha) { return alpha != 255; }))
        png_set_tRNS(png, info, paletteAlpha.data(), int(paletteAlpha.size()), nullptr);
    if (contents.transparentColor) {
        png_color_16 key {};
        key.red = png_uint_16((*contents.transparentColor)[0]);
        key.green = png_uint_16((*contents.transparentColor)[1]);
        key.blue = png_uint_16((*contents.transparentColor)[2]);
        key.gray = key.red;
        png_set_tRNS(png, info, nullptr, 0, &key);
    }
    if (contents.gamma)
        png_set_gAMA(png, info, *contents.gamma);
    if (!contents.iccProfile.isEmpty())
        png_set_iCCP(png, info, "profile", PNG_COMPRESSION_TYPE_BASE,
            reinterpret_cast<png_const_bytep>(contents.iccProfile.constData()),
            png_uint_32(contents.iccProfile.size()));
    png_write_info(png, info);
    // Interlaced rows go in once per pass; libpng picks out each pass's pixels.
    const int passes = contents.interlaced ? png_set_interlace_handling(png) : 1;
    const int perRow = contents.width * channelsOf(contents.colorType);
    // Samples under 8 bits are given one a byte and packed by libpng.
    if (contents.bitDepth < 8)
        png_set_packing(png);
    const int bytes = std::max(1, contents.bitDepth / 8);
    std::vector<png_byte> row(std::size_t(perRow * bytes));
    for (int pass = 0; pass < passes; ++pass)
        for (int y = 0; y < contents.height; ++y) {
            for (int i = 0; i < perRow; ++i) {
                const unsigned value = contents.samples[std::size_t(y * perRow + i)];
                if (bytes == 2) {
                    row[std::size_t(2 * i)] = png_byte(value >> 8);
                    row[std::size_t(2 * i + 1)] = png_byte(value);
                } else {
                    row[std::size_t(i)] = png_byte(value);
                }
            }
            png_write_row(png, row.data());
        }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

} // namespace testimages
