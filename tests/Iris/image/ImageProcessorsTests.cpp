#include "DrawingTestSupport.h"
#include "support/TestSupport.h"

#include "Iris/general/IrisOptionsInfo.h"
#include "Iris/image/ImageProcessors.h"

#include "platform/graphics/ImageEncoding.h"

#include <QLocale>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>

using namespace drawingtest;
using namespace iris;
using platform::Color;
using platform::CompositingOperation;
using platform::Size;

namespace {

const QString prefix = QStringLiteral("org.tindrel");

struct IdentifierRow {
    ImageProcessorPtr processor;
    QString expected;
};

std::vector<IdentifierRow> identifierTable()
{
    const Color red { 1, 0, 0, 1 };
    return {
        { std::make_shared<BlurImageProcessor>(10), prefix + ".Iris.BlurImageProcessor(10.0)" },
        { std::make_shared<BlurImageProcessor>(2.5), prefix + ".Iris.BlurImageProcessor(2.5)" },
        { std::make_shared<RoundCornerImageProcessor>(20), prefix + ".Iris.RoundCornerImageProcessor(20.0)" },
        { std::make_shared<RoundCornerImageProcessor>(
              Radius::widthFraction(0.5), Size { 100, 100 }, RectCorner::topLeft | RectCorner::topRight),
            prefix + ".Iris.RoundCornerImageProcessor(w_frac_0.5_(100.0, 100.0)_corner(3))" },
        { std::make_shared<RoundCornerImageProcessor>(Radius::heightFraction(0.25)),
            prefix + ".Iris.RoundCornerImageProcessor(h_frac_0.25)" },
        { std::make_shared<RoundCornerImageProcessor>(1.5, std::nullopt, RectCorner::all, red),
            prefix + ".Iris.RoundCornerImageProcessor(1.5)_" + red.description() },
        { std::make_shared<ResizingImageProcessor>(Size { 100, 200 }),
            prefix + ".Iris.ResizingImageProcessor((100.0, 200.0))" },
        { std::make_shared<ResizingImageProcessor>(Size { 100, 200 }, ContentMode::aspectFit),
            prefix + ".Iris.ResizingImageProcessor((100.0, 200.0), aspectFit)" },
        { std::make_shared<ResizingImageProcessor>(Size { 0.5, 1e16 }, ContentMode::aspectFill),
            prefix + ".Iris.ResizingImageProcessor((0.5, 1e+16), aspectFill)" },
        // Numbers of ordinary size never take an exponent, however few digits that would save.
        { std::make_shared<ResizingImageProcessor>(Size { 100000, 0.0005 }),
            prefix + ".Iris.ResizingImageProcessor((100000.0, 0.0005))" },
        { std::make_shared<BlurImageProcessor>(1e-5), prefix + ".Iris.BlurImageProcessor(1e-05)" },
        { std::make_shared<OverlayImageProcessor>(Color { 0, 0.5, 1, 1 }, 0.25),
            prefix + ".Iris.OverlayImageProcessor((0.00,0.50,1.00,1.00)_0.25)" },
        { std::make_shared<TintImageProcessor>(red),
            prefix + ".Iris.TintImageProcessor((1.00,0.00,0.00,1.00))" },
        { std::make_shared<ColorControlsProcessor>(0.1, 1.0, 0.5, 0.7),
            prefix + ".Iris.ColorControlsProcessor(0.1_1.0_0.5_0.7)" },
        { std::make_shared<BlackWhiteProcessor>(), prefix + ".Iris.BlackWhiteProcessor" },
        { std::make_shared<CroppingImageProcessor>(Size { 50, 60 }, platform::Point { 0.5, 0 }),
            prefix + ".Iris.CroppingImageProcessor((50.0, 60.0)_(0.5, 0.0))" },
        { std::make_shared<DownsamplingImageProcessor>(Size { 100, 50 }),
            prefix + ".Iris.DownsamplingImageProcessor((100.0, 50.0))" },
        { std::make_shared<CompositingImageProcessor>(CompositingOperation::sourceOver, 1.0),
            prefix + ".Iris.CompositingImageProcessor(2,1.0)" },
        { std::make_shared<CompositingImageProcessor>(
              CompositingOperation::luminosity, 0.5, Color { 0, 0, 0, 0.5 }),
            prefix + ".Iris.CompositingImageProcessor(28,0.5)_(0.00,0.00,0.00,0.50)" },
        { std::make_shared<BorderImageProcessor>(Border { red, 2, Radius::point(3), RectCorner::bottomLeft }),
            prefix + ".Iris.RoundCornerImageProcessor(Border(color: " + red.description()
                + ", lineWidth: 2.0, radius: point(3.0), roundingCorners: 4)" },
    };
}

void expectIdentifierTable()
{
    for (const IdentifierRow& row : identifierTable())
        EXPECT_EQ(row.processor->identifier(), row.expected);
}

// Makes the C library's numbers use a decimal comma, building the locale into a temporary folder when
// the system has none installed. False when neither works.
bool useCommaDecimalLocale(QTemporaryDir& folder)
{
    for (const char* name : { "de_DE.UTF-8", "de_DE.utf8", "de_DE" })
        if (std::setlocale(LC_ALL, name))
            return true;
#if defined(__SANITIZE_THREAD__)
    // ThreadSanitizer cannot follow the vfork that QProcess starts a program with.
    return false;
#endif
    const QString target = folder.path() + QStringLiteral("/de_DE.UTF-8");
    if (QProcess::execute(QStringLiteral("localedef"), { "-i", "de_DE", "-f", "UTF-8", target }) != 0)
        return false;
    qputenv("LOCPATH", folder.path().toLocal8Bit());
    return std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
}

IrisParsedOptionsInfo scaled(double scaleFactor)
{
    IrisParsedOptionsInfo options;
    options.scaleFactor = scaleFactor;
    return options;
}

QByteArray pngOf(const QImage& image)
{
    return *platform::encodePng(*platform::Bitmap::fromImage(image));
}

} // namespace

TEST(ImageProcessors, IdentifiersAreExactlyAsSpecified)
{
    expectIdentifierTable();
}

TEST(ImageProcessors, IdentifiersDoNotFollowACommaDecimalLocale)
{
    QTemporaryDir folder;
    const std::string previous = std::setlocale(LC_ALL, nullptr);
    const bool commaLocale = useCommaDecimalLocale(folder);
    const QLocale previousQt;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    if (commaLocale) {
        char text[16];
        std::snprintf(text, sizeof text, "%.2f", 0.5);
        EXPECT_STREQ(text, "0,50"); // the locale is in force
    }
    expectIdentifierTable();
    QLocale::setDefault(previousQt);
    std::setlocale(LC_ALL, previous.c_str());
    qunsetenv("LOCPATH");
    if (!commaLocale)
        GTEST_SKIP() << "no comma-decimal C locale could be made; only Qt's default locale was changed";
}

TEST(ImageProcessors, DrawingProcessorsCallTheirOperations)
{
    const auto image = imageFrom(QImage(400, 200, QImage::Format_ARGB32_Premultiplied));
    const IrisParsedOptionsInfo options;
    struct Row {
        ImageProcessorPtr processor;
        Size expected;
    };
    const Row rows[] = {
        { std::make_shared<ResizingImageProcessor>(Size { 100, 100 }, ContentMode::aspectFit), { 100, 50 } },
        { std::make_shared<ResizingImageProcessor>(Size { 100, 100 }, ContentMode::aspectFill),
            { 200, 100 } },
        { std::make_shared<ResizingImageProcessor>(Size { 100, 100 }), { 100, 100 } },
        { std::make_shared<CroppingImageProcessor>(Size { 50, 50 }), { 50, 50 } },
        { std::make_shared<CroppingImageProcessor>(Size { 1000, 1000 }), { 400, 200 } },
        { std::make_shared<RoundCornerImageProcessor>(10), { 400, 200 } },
        { std::make_shared<RoundCornerImageProcessor>(10, Size { 30, 20 }), { 30, 20 } },
        { std::make_shared<DownsamplingImageProcessor>(Size { 100, 50 }), { 100, 50 } },
    };
    for (const Row& row : rows) {
        const auto result = row.processor->process(ImageProcessItem::image(image), options);
        ASSERT_TRUE(result) << row.processor->identifier().toStdString();
        EXPECT_EQ(result->pixelSize(), row.expected) << row.processor->identifier().toStdString();
    }
}

TEST(ImageProcessors, CroppingCutsAtTheClampedAnchor)
{
    QImage source(200, 100, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 200; ++x)
            source.setPixel(x, y, qRgb(x, y, 0));
    const auto image = imageFrom(source);
    const IrisParsedOptionsInfo options;
    const auto centred = CroppingImageProcessor({ 50, 50 }).process(ImageProcessItem::image(image), options);
    EXPECT_EQ(pixelAt(centred, 0, 0), QColor(75, 25, 0));
    const auto clamped
        = CroppingImageProcessor({ 50, 50 }, { 2, -1 }).process(ImageProcessItem::image(image), options);
    EXPECT_EQ(pixelAt(clamped, 0, 0), QColor(150, 0, 0));
}

TEST(ImageProcessors, BlurRadiusFollowsTheScaleFactorAndBorderIgnoresIt)
{
    QImage source(60, 60, QImage::Format_ARGB32_Premultiplied);
    source.fill(Qt::black);
    for (int y = 0; y < 60; ++y)
        for (int x = 30; x < 60; ++x)
            source.setPixel(x, y, qRgb(255, 255, 255));
    const auto image = imageFrom(source);
    const auto atTwo = BlurImageProcessor(10).process(ImageProcessItem::image(image), scaled(2));
    const auto direct = boxBlur(image, 20);
    EXPECT_EQ(atTwo->bitmap()->image(), direct->bitmap()->image());
    EXPECT_NE(atTwo->bitmap()->image(), boxBlur(image, 10)->bitmap()->image());

    const BorderImageProcessor border(Border { Color::white(), 4, Radius::point(0), RectCorner::all });
    const auto once = border.process(ImageProcessItem::image(image), scaled(1));
    const auto twice = border.process(ImageProcessItem::image(image), scaled(2));
    EXPECT_EQ(once->bitmap()->image(), twice->bitmap()->image());
    EXPECT_EQ(pixelAt(once, 0, 30), QColor(Qt::white));
}

TEST(ImageProcessors, BlackAndWhiteMatchesItsColourControls)
{
    QImage source(8, 8, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            source.setPixel(x, y, qRgb(x * 30, y * 30, 200));
    const auto image = imageFrom(source);
    const IrisParsedOptionsInfo options;
    const auto grey = BlackWhiteProcessor().process(ImageProcessItem::image(image), options);
    const auto controls
        = ColorControlsProcessor(0, 1, 0, 0.7).process(ImageProcessItem::image(image), options);
    EXPECT_EQ(grey->bitmap()->image(), controls->bitmap()->image());
    EXPECT_NE(BlackWhiteProcessor().identifier(), ColorControlsProcessor(0, 1, 0, 0.7).identifier());
    for (int x = 0; x < 8; ++x) {
        const QColor c = pixelAt(grey, x, 3);
        EXPECT_TRUE(near(c.red(), c.green(), 1) && near(c.green(), c.blue(), 1)) << x;
    }
}

TEST(ImageProcessors, DataIsDecodedFirstAndUndecodableDataGivesNothing)
{
    QImage source(20, 10, QImage::Format_ARGB32_Premultiplied);
    source.fill(Qt::red);
    const QByteArray png = pngOf(source);
    const IrisParsedOptionsInfo options;
    const std::vector<ImageProcessorPtr> processors {
        std::make_shared<RoundCornerImageProcessor>(3),
        std::make_shared<BorderImageProcessor>(Border {}),
        std::make_shared<ResizingImageProcessor>(Size { 10, 10 }),
        std::make_shared<BlurImageProcessor>(2),
        std::make_shared<OverlayImageProcessor>(Color::black()),
        std::make_shared<TintImageProcessor>(Color::white()),
        std::make_shared<ColorControlsProcessor>(0, 1, 1, 0),
        std::make_shared<BlackWhiteProcessor>(),
        std::make_shared<CroppingImageProcessor>(Size { 5, 5 }),
        std::make_shared<DownsamplingImageProcessor>(Size { 10, 10 }),
        std::make_shared<CompositingImageProcessor>(CompositingOperation::copy),
    };
    for (const ImageProcessorPtr& processor : processors) {
        EXPECT_TRUE(processor->process(ImageProcessItem::data(png), options))
            << processor->identifier().toStdString();
        EXPECT_FALSE(processor->process(ImageProcessItem::data("not an image at all"), options))
            << processor->identifier().toStdString();
    }
}

TEST(ImageProcessors, DownsamplingAsksForTheScaledLongerSideAndNeedsABitmap)
{
    QImage source(400, 300, QImage::Format_RGB32);
    source.fill(Qt::blue);
    const auto result
        = DownsamplingImageProcessor({ 100, 50 }).process(ImageProcessItem::data(pngOf(source)), scaled(2));
    ASSERT_TRUE(result);
    EXPECT_EQ(result->pixelSize(), (Size { 200, 150 }));
    const auto empty = platform::Image::createEmpty({ 10, 10 });
    EXPECT_FALSE(DownsamplingImageProcessor({ 100, 50 }).process(ImageProcessItem::image(empty), scaled(1)));
}
