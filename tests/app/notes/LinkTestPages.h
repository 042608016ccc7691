#pragma once

#include "support/HttpTestServer.h"

#include <QString>

#include <chrono>
#include <string>
#include <thread>

namespace notetest {

// The pages both the link capture and the links pane are tried on: a page with a title and a
// description in UTF-8, one with no head, two of one title, a redirect loop, a redirect to
// `secretFile` on the disk, a page held back until the test lets it go, and a drip that never ends.
inline void addLinkTestPages(testsupport::HttpTestServer& server, const QString& secretFile)
{
    server.addBody("/utf8",
        "<html><head><title>Caf\xC3\xA9 \xE2\x80\x93 Menu</title><meta name=\"description\" "
        "content=\"Don't miss the bread.\"></head></html>",
        200, "text/html; charset=utf-8");
    server.addBody("/plain", "<html><body>No head at all</body></html>", 200, "text/html");
    server.addBody("/same-a", "<title>Same</title>", 200, "text/html");
    server.addBody("/same-b", "<title>Same</title>", 200, "text/html");
    server.addRedirect("/loop", "/loop");
    server.addRedirect("/to-file", "file://" + secretFile.toStdString());
    server.addGated("/gated", "<title>Late</title>");
    // One byte every 50 ms, for ever, as a type the server does not compress: a steady drip that no
    // idle time-out would end.
    server.server().Get("/drip", [&server](const httplib::Request&, httplib::Response& response) {
        response.set_chunked_content_provider(
            "application/octet-stream", [&server](size_t offset, httplib::DataSink& sink) {
                if (offset == 0)
                    return sink.write("<title>Dri", 10);
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                return !server.isStopping() && sink.write("p", 1);
            });
    });
}

} // namespace notetest
