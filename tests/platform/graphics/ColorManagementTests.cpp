#include "platform/graphics/ColorManagement.h"
#include "platform/graphics/ImageSource.h"
#include "platform/graphics/PngWriter.h"

#include <gtest/gtest.h>

#include <QColorSpace>

#include <climits>
#include <cmath>

using namespace platform;

// Grey and RGB files holding the same values with the same gamma come out as the gamma says, to the
// level: every value 0 to 255 (at 8 and at 16 bits) at a strong and at the usual gamma.
TEST(ColorManagement, GreyAndRgbPngsWithAGammaComeOutAlike)
{
    for (const int bitDepth : { 8, 16 }) {
        for (const double gamma : { 0.3, 0.45455 }) {
            SCOPED_TRACE(testing::Message() << bitDepth << "-bit at gamma " << gamma);
            const int steps = 256;
            const unsigned scale = bitDepth == 16 ? 257 : 1;
            testimages::PngContents grey { steps, 1, bitDepth, PNG_COLOR_TYPE_GRAY, {}, {}, std::nullopt,
                gamma, {} };
            testimages::PngContents rgb = grey;
            rgb.colorType = PNG_COLOR_TYPE_RGB;
            for (unsigned value = 0; value < unsigned(steps); ++value) {
                grey.samples.push_back(value * scale);
                for (int channel = 0; channel < 3; ++channel)
                    rgb.samples.push_back(value * scale);
            }
            const auto fromGrey = imageFromData(testimages::writePng(grey));
            const auto fromRgb = imageFromData(testimages::writePng(rgb));
            ASSERT_TRUE(fromGrey && fromRgb);
            const QImage greyPixels = fromGrey->bitmap()->image().convertToFormat(QImage::Format_RGBA64);
            const QImage rgbPixels = fromRgb->bitmap()->image().convertToFormat(QImage::Format_RGBA64);
            int worstGrey = 0, worstRgb = 0;
            for (int x = 0; x < steps; ++x) {
                const double linear = std::pow(x / 255.0, 1 / gamma);
                const double encoded
                    = linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1 / 2.4) - 0.055;
                const int expected = int(std::lround(encoded * 255));
                worstGrey = std::max(worstGrey, std::abs(greyPixels.pixelColor(x, 0).red() - expected));
                worstRgb = std::max(worstRgb, std::abs(rgbPixels.pixelColor(x, 0).green() - expected));
            }
            EXPECT_LE(worstGrey, 1);
            EXPECT_LE(worstRgb, 1);
        }
    }
}

// A grey picture goes through a colour copy four (or eight) times its size; when that copy cannot
// be made, the picture fails as a whole instead of being read through a null copy. Qt refuses these
// widths as it refuses an allocation that fails.
TEST(ColorManagement, AGreyImageWithoutRoomForItsColourCopyFails)
{
    for (const auto& [format, width] : { std::pair { QImage::Format_Grayscale8, (INT_MAX - 31) / 32 + 1 },
             std::pair { QImage::Format_Grayscale16, (INT_MAX - 31) / 64 + 1 } }) {
        QImage grey(width, 1, format);
        ASSERT_FALSE(grey.isNull());
        grey.setColorSpace(QColorSpace(QColorSpace::Primaries::SRgb, 1.8f));
        convertToSrgb(grey);
        EXPECT_TRUE(grey.isNull()) << format;
    }
}
