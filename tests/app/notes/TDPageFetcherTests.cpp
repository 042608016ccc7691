#include "app/notes/TDPageFetcher.h"
#include "support/HttpTestServer.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using testsupport::HttpTestServer;
using testsupport::waitUntil;

namespace {

// Servers that gzip a page by hand and get its end wrong: a broken checksum, a second member that is
// junk, a body that expands past any real page once its head is out. The head came whole each time,
// so the title is there to take, as it is when a plain body breaks off.
TEST(TDPageFetcher, APageWhoseEncodingBreaksAfterItsHeadKeepsItsTitle)
{
    const std::string page = "<html><head><title>Kept</title></head><body>" + std::string(20000, 'b');
    std::string badChecksum = testsupport::gzipped(page);
    badChecksum[badChecksum.size() - 6] = char(~badChecksum[badChecksum.size() - 6]);
    const std::map<std::string, std::string> bodies {
        { "/bad-checksum", badChecksum },
        { "/junk-member", testsupport::gzipped(page) + std::string("\x1f\x00junk", 6) },
        { "/expands", testsupport::gzipped(page + std::string(1 << 20, ' '), 20) },
    };
    HttpTestServer server;
    for (const auto& [path, body] : bodies) {
        // As a type the server leaves alone, so the hand-made encoding is the only one.
        server.server().Get(path, [body = body](const httplib::Request&, httplib::Response& response) {
            response.set_header("Content-Encoding", "gzip");
            response.set_content(body, "application/octet-stream");
        });
    }
    server.start();

    auto fetcher = TDPageFetcher::make({ TDPageFetchLimits::defaultMaximumBytes, 5, 10 });
    for (const auto& [path, body] : bodies) {
        SCOPED_TRACE(path);
        auto info = std::make_shared<std::optional<TDPageInfo>>();
        fetcher->fetchPageInfo(
            server.url(QString::fromStdString(path)), [info](TDPageInfo got) { *info = got; });
        ASSERT_TRUE(waitUntil([&] { return info->has_value(); }, 10000));
        EXPECT_EQ((*info)->title, u"Kept"_qs);
    }
}

} // namespace
