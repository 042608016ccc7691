#include "DownloaderTestSupport.h"

#include <QCoreApplication>

using namespace iris;
using namespace iristest;
using testsupport::waitUntil;

namespace {

// Progress reports a total only when the response really says how long its body is.
TEST_F(DownloaderTest, ProgressNeverPassesTheTotal)
{
    const std::string body = pngBody(64, 64);
    // A chunked body framed by its chunks, with a stale length header beside them.
    server.server().Get("/framed.png", [body](const httplib::Request&, httplib::Response& response) {
        response.set_header("Content-Length", "100");
        response.set_chunked_content_provider("image/png", [body](size_t offset, httplib::DataSink& sink) {
            if (offset >= body.size()) {
                sink.done();
                return true;
            }
            return sink.write(body.data() + offset, std::min<size_t>(64, body.size() - offset));
        });
    });
    server.addBody("/plain.png", body, 200, "image/png");
    server.start();
    for (const char* path : { "/framed.png", "/plain.png" }) {
        std::vector<std::pair<std::int64_t, std::int64_t>> progress;
        Answers answers;
        downloader->downloadImage(
            server.url(QString::fromLatin1(path)), std::nullopt,
            [&](std::int64_t received, std::int64_t total) { progress.emplace_back(received, total); },
            answers.completion());
        ASSERT_TRUE(waitUntil([&] { return answers.count() == 1; }, 10000)) << path;
        EXPECT_TRUE(answers.first().isSuccess()) << path;
        // The reports posted before the answer have all run once the queue is drained.
        QCoreApplication::processEvents();
        for (const auto& [received, total] : progress)
            EXPECT_LE(received, total) << path;
        if (std::string(path) == "/plain.png") {
            ASSERT_FALSE(progress.empty());
            EXPECT_EQ(progress.back(), std::make_pair(std::int64_t(body.size()), std::int64_t(body.size())));
        }
    }
}

} // namespace
