#include "DrawingTestSupport.h"

#include "Iris/cache/ImageCache.h"
#include "Iris/image/ImageTransition.h"
#include "Iris/image/Placeholder.h"

#include "platform/ui/ImageView.h"

#include <gtest/gtest.h>

using namespace iris;

TEST(Placeholder, AViewPlaceholderCoversTheImageViewAndFollowsItsSize)
{
    platform::ImageView imageView;
    imageView.resize(200, 100);
    imageView.show();
    auto* spinner = new QWidget;
    ViewPlaceholder placeholder(spinner);

    placeholder.add(imageView);
    EXPECT_EQ(spinner->parentWidget(), &imageView);
    EXPECT_EQ(spinner->geometry(), QRect(0, 0, 200, 100));
    EXPECT_EQ(spinner->geometry().center(), imageView.rect().center());
    EXPECT_TRUE(spinner->isVisible());

    imageView.resize(320, 90);
    EXPECT_EQ(spinner->geometry(), QRect(0, 0, 320, 90));

    placeholder.remove(imageView);
    EXPECT_EQ(spinner->parentWidget(), nullptr);
    EXPECT_EQ(placeholder.view(), spinner); // taken out, not destroyed
    imageView.resize(50, 50);
    EXPECT_EQ(spinner->size(), QSize(320, 90));
}

TEST(Placeholder, AnImageViewDestroyedWithThePlaceholderInsideTakesTheWidget)
{
    ViewPlaceholder placeholder(new QWidget);
    {
        platform::ImageView imageView;
        placeholder.add(imageView);
    }
    EXPECT_EQ(placeholder.view(), nullptr);
}

TEST(Placeholder, AnImagePlaceholderIsTheViewsImageUntilRemoved)
{
    platform::ImageView imageView;
    const auto image = drawingtest::solidImage(4, 4, Qt::gray);
    ImagePlaceholder placeholder(image);
    placeholder.add(imageView);
    EXPECT_EQ(imageView.image(), image);
    placeholder.remove(imageView);
    EXPECT_EQ(imageView.image(), nullptr);
}

TEST(ImageTransition, FadesOnlyForLoadedImagesUnlessForced)
{
    const ImageTransition fade = ImageTransition::fade(0.3);
    EXPECT_EQ(fade.fadeDuration(CacheType::none, false), 0.3);
    EXPECT_EQ(fade.fadeDuration(CacheType::memory, false), std::nullopt);
    EXPECT_EQ(fade.fadeDuration(CacheType::disk, false), std::nullopt);
    EXPECT_EQ(fade.fadeDuration(CacheType::memory, true), 0.3);
    EXPECT_EQ(ImageTransition::none().fadeDuration(CacheType::none, true), std::nullopt);
    EXPECT_EQ(ImageTransition {}, ImageTransition::none());
}
