#include "Iris/general/ImageDataProvider.h"
#include "Iris/general/Source.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <unordered_set>

using namespace iris;

namespace {

QUrl file(const QString& path)
{
    return QUrl::fromLocalFile(path);
}

const LocalFileImageDataProvider* localProvider(const Source& source)
{
    return dynamic_cast<const LocalFileImageDataProvider*>(source.dataProvider().get());
}

} // namespace

TEST(Source, LocalFileCacheKeys)
{
    struct Case {
        QUrl url;
        QString key;
    };
    const Case cases[] = {
        { file("/Users/u/a.png"), "iris.local.cacheKey///Users/u/a.png" },
        { file("/a.png"), "iris.local.cacheKey///a.png" },
        { file("/Apps/Tool.app/Contents/Resources/i.png"),
            "iris.local.cacheKey/Tool.app/Contents/Resources/i.png" },
        { file("/Apps/Tool.app/Contents/PlugIns/Ext.appex/r/i.png"),
            "iris.local.cacheKey/Ext.appex/r/i.png" },
        { file("/x/Picture.app"), "iris.local.cacheKey/Picture.app" },
        { file("/x/Tool.APP/i.png"), "iris.local.cacheKey///x/Tool.APP/i.png" },
        { QUrl("file:///x/a.png?size=2"), "iris.local.cacheKey///x/a.png?size=2" },
        { file("/x/what?.png"), "iris.local.cacheKey///x/what?.png" },
    };
    for (const Case& c : cases)
        EXPECT_EQ(localFileCacheKey(c.url), c.key) << c.url.toString().toStdString();
}

TEST(Source, FileUrlsBecomeLocalFileProvidersAndOthersNetworkSources)
{
    const QUrl cover = file("/home/u/Documents/Tindrel.folder/P/1-cover-image.jpeg");
    for (const Source& source : { convertToSource(cover), convertToSource(ImageResource(cover)) }) {
        ASSERT_EQ(source.kind(), Source::Kind::provider);
        const LocalFileImageDataProvider* provider = localProvider(source);
        ASSERT_TRUE(provider);
        EXPECT_EQ(provider->fileURL(), cover);
        EXPECT_EQ(
            source.cacheKey(), "iris.local.cacheKey///home/u/Documents/Tindrel.folder/P/1-cover-image.jpeg");
        EXPECT_EQ(source.url(), cover);
        EXPECT_EQ(provider->loadingQueue().kind(), CallbackQueue::Kind::dispatch);
    }

    const Source overridden = convertToSource(cover, QStringLiteral("mine"));
    EXPECT_EQ(overridden.kind(), Source::Kind::provider);
    EXPECT_EQ(overridden.cacheKey(), "mine");

    const QUrl web("https://example.com/a b.png");
    const Source network = convertToSource(web);
    ASSERT_EQ(network.kind(), Source::Kind::network);
    EXPECT_EQ(network.cacheKey(), "https://example.com/a%20b.png");
    EXPECT_EQ(network.url(), web);
    EXPECT_EQ(convertToSource(ImageResource(web), QStringLiteral("k")).cacheKey(), "k");
    EXPECT_EQ(ImageResource(web, QStringLiteral("given")).cacheKey(), "given");
}

TEST(Source, EqualityAndHashing)
{
    const QUrl url("https://example.com/a.png");
    const Source networkA = Source::network(std::make_shared<ImageResource>(url, QStringLiteral("k")));
    const Source networkB = Source::network(std::make_shared<ImageResource>(url, QStringLiteral("k")));
    const Source rawK = Source::makeProvider(RawImageDataProvider(QByteArray("x"), QStringLiteral("k")));
    const Source rawK2 = Source::makeProvider(RawImageDataProvider(QByteArray("y"), QStringLiteral("k")));
    const Source localK
        = Source::makeProvider(LocalFileImageDataProvider(file("/k.png"), QStringLiteral("k")));

    EXPECT_EQ(networkA, networkB);
    EXPECT_EQ(networkA.hash(), networkB.hash());
    EXPECT_FALSE(networkA == rawK);
    EXPECT_EQ(rawK, rawK2);
    EXPECT_EQ(rawK.hash(), rawK2.hash());
    EXPECT_FALSE(rawK == localK);
    std::unordered_set<Source> set { networkA, networkB, rawK, rawK2, localK };
    EXPECT_EQ(set.size(), 3u);
}

// A null resource or provider would only fail once a retrieval reads it, on a worker thread.
TEST(Source, ANullResourceOrProviderIsRefusedWhereTheSourceIsMade)
{
    EXPECT_THROW(Source::network(nullptr), std::invalid_argument);
    EXPECT_THROW(Source::provider(nullptr), std::invalid_argument);
}
