#pragma once

// A local HTTP or HTTPS server for network tests: cpp-httplib on 127.0.0.1, on a free port, in a
// thread of its own. Canned routes cover what clients must cope with (redirects, stalls, endless
// streams, short bodies, authentication, held responses); each request is counted per path.
//
// Keep-alive is off, so each request uses a connection of its own and stopping never waits for an
// idle connection to time out. Routes that wait (stalls, gates, streams) give up as soon as the
// server stops.

#include <httplib.h>

#include <zlib.h>

#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>

namespace testsupport {

// `data`, `repeats` times over, as one gzip member, the way servers send a gzip Content-Encoding.
inline std::string gzipped(const std::string& data, int repeats = 1)
{
    z_stream stream {};
    deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 9, Z_RLE);
    std::string out;
    char buffer[64 * 1024];
    for (int i = 0; i < repeats; ++i) {
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
        stream.avail_in = static_cast<uInt>(data.size());
        const int flush = i + 1 == repeats ? Z_FINISH : Z_NO_FLUSH;
        do {
            stream.next_out = reinterpret_cast<Bytef*>(buffer);
            stream.avail_out = sizeof buffer;
            deflate(&stream, flush);
            out.append(buffer, sizeof buffer - stream.avail_out);
        } while (stream.avail_out == 0);
    }
    deflateEnd(&stream);
    return out;
}

// `gzipped(data)` with 64 bytes at nine tenths of the way flipped: a Content-Encoding that fails.
inline std::string corruptGzipped(const std::string& data)
{
    std::string corrupt = gzipped(data);
    for (size_t at = corrupt.size() * 9 / 10; at < corrupt.size() * 9 / 10 + 64 && at < corrupt.size(); ++at)
        corrupt[at] = static_cast<char>(~corrupt[at]);
    return corrupt;
}

class HttpTestServer {
public:
    enum class Scheme { http, https };

    explicit HttpTestServer(Scheme scheme = Scheme::http)
        : m_scheme(scheme)
    {
        if (scheme == Scheme::https) {
            auto [certificate, key] = makeSelfSignedCertificate();
            m_server = std::make_unique<httplib::SSLServer>(certificate, key);
            X509_free(certificate);
            EVP_PKEY_free(key);
        } else {
            m_server = std::make_unique<httplib::Server>();
        }
        m_server->new_task_queue = [] { return new httplib::ThreadPool(64); };
        m_server->set_keep_alive_max_count(1);
        m_server->set_pre_routing_handler([this](const httplib::Request& request, httplib::Response&) {
            std::lock_guard lock(m_mutex);
            m_counts[request.path] += 1;
            m_total += 1;
            return httplib::Server::HandlerResponse::Unhandled;
        });
    }

    ~HttpTestServer() { stop(); }

    HttpTestServer(const HttpTestServer&) = delete;
    HttpTestServer& operator=(const HttpTestServer&) = delete;

    // Routes may be added before `start`, directly on the server too.
    httplib::Server& server() { return *m_server; }

    void start()
    {
        m_port = m_server->bind_to_any_port("127.0.0.1");
        if (m_port <= 0)
            throw std::runtime_error("test server could not bind");
        m_thread = std::thread([this] { m_server->listen_after_bind(); });
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!m_server->is_running()) {
            if (std::chrono::steady_clock::now() > deadline)
                throw std::runtime_error("test server did not start");
            std::this_thread::yield();
        }
    }

    void stop()
    {
        if (!m_thread.joinable())
            return;
        {
            std::lock_guard lock(m_mutex);
            m_stopping = true;
            m_gateOpen = true;
        }
        m_changed.notify_all();
        m_server->stop();
        m_thread.join();
    }

    int port() const { return m_port; }

    QUrl url(const QString& path) const
    {
        return QUrl(QStringLiteral("%1://127.0.0.1:%2%3")
                        .arg(m_scheme == Scheme::https ? QStringLiteral("https") : QStringLiteral("http"))
                        .arg(m_port)
                        .arg(path));
    }

    int requestCount(const std::string& path) const
    {
        std::lock_guard lock(m_mutex);
        const auto found = m_counts.find(path);
        return found == m_counts.end() ? 0 : found->second;
    }

    int totalRequests() const
    {
        std::lock_guard lock(m_mutex);
        return m_total;
    }

    // Canned routes.

    void addBody(const std::string& path, std::string body, int status = 200,
        std::string contentType = "application/octet-stream")
    {
        m_server->Get(
            path, [body, status, contentType](const httplib::Request&, httplib::Response& response) {
                response.status = status;
                response.set_content(body, contentType.c_str());
            });
    }

    void addRedirect(const std::string& path, std::string location, int status = 302)
    {
        m_server->Get(path, [location, status](const httplib::Request&, httplib::Response& response) {
            response.status = status;
            response.set_header("Location", location);
            response.set_content("moved", "text/plain");
        });
    }

    // Answers `failStatus` to the first `failures` requests, then `body`.
    void addFailingThenBody(const std::string& path, int failures, int failStatus, std::string body)
    {
        auto served = std::make_shared<std::atomic<int>>(0);
        m_server->Get(path, [=](const httplib::Request&, httplib::Response& response) {
            if (served->fetch_add(1) < failures) {
                response.status = failStatus;
                response.set_content("failed", "text/plain");
                return;
            }
            response.set_content(body, "application/octet-stream");
        });
    }

    // Sends `body` chunked, in pieces of `chunkBytes`, with no declared length.
    void addChunkedBody(const std::string& path, std::string body, size_t chunkBytes)
    {
        m_server->Get(path, [body, chunkBytes](const httplib::Request&, httplib::Response& response) {
            response.set_chunked_content_provider(
                "application/octet-stream", [body, chunkBytes](size_t offset, httplib::DataSink& sink) {
                    if (offset >= body.size()) {
                        sink.done();
                        return true;
                    }
                    return sink.write(body.data() + offset, std::min(chunkBytes, body.size() - offset));
                });
        });
    }

    // Accepts the request and never answers (until the server stops).
    void addStall(const std::string& path)
    {
        m_server->Get(path, [this](const httplib::Request&, httplib::Response& response) {
            waitUntilStopping(std::chrono::seconds(30));
            response.status = 503;
        });
    }

    // Sends the headers and a first chunk, then nothing more.
    void addStallAfterHeaders(const std::string& path)
    {
        m_server->Get(path, [this](const httplib::Request&, httplib::Response& response) {
            response.set_chunked_content_provider(
                "application/octet-stream", [this, sent = false](size_t, httplib::DataSink& sink) mutable {
                    if (!sent) {
                        sent = true;
                        return sink.write("x", 1);
                    }
                    waitUntilStopping(std::chrono::seconds(30));
                    return false;
                });
        });
    }

    // Streams `chunkBytes` pieces without end, until the client goes away or the server stops.
    void addEndlessStream(const std::string& path, size_t chunkBytes = 64 * 1024)
    {
        m_server->Get(path, [this, chunkBytes](const httplib::Request&, httplib::Response& response) {
            response.set_chunked_content_provider("application/octet-stream",
                [this, chunk = std::string(chunkBytes, 'z')](size_t, httplib::DataSink& sink) {
                    return !isStopping() && sink.write(chunk.data(), chunk.size());
                });
        });
    }

    // Declares `declaredLength` bytes, sends `body` (shorter) and closes the connection.
    void addShortBody(const std::string& path, std::string body, size_t declaredLength)
    {
        m_server->Get(path, [body, declaredLength](const httplib::Request&, httplib::Response& response) {
            response.set_content_provider(declaredLength, "application/octet-stream",
                [body](size_t offset, size_t, httplib::DataSink& sink) {
                    if (offset >= body.size())
                        return false;
                    sink.write(body.data() + offset, body.size() - offset);
                    return true;
                });
        });
    }

    // Answers 401 with a Basic challenge unless the request carries `user`:`password`.
    void addBasicAuth(
        const std::string& path, const std::string& user, const std::string& password, std::string body)
    {
        m_server->Get(
            path, [user, password, body](const httplib::Request& request, httplib::Response& response) {
                const std::string expected
                    = "Basic " + QByteArray::fromStdString(user + ":" + password).toBase64().toStdString();
                if (request.get_header_value("Authorization") != expected) {
                    response.status = 401;
                    response.set_header("WWW-Authenticate", "Basic realm=\"tests\"");
                    response.set_content("denied", "text/plain");
                    return;
                }
                response.set_content(body, "text/plain");
            });
    }

    // Holds its answer until `openGate` (or the server stops).
    void addGated(const std::string& path, std::string body)
    {
        m_server->Get(path, [this, body](const httplib::Request&, httplib::Response& response) {
            std::unique_lock lock(m_mutex);
            m_changed.wait_for(lock, std::chrono::seconds(30), [this] { return m_gateOpen; });
            response.set_content(body, "application/octet-stream");
        });
    }

    void openGate()
    {
        {
            std::lock_guard lock(m_mutex);
            m_gateOpen = true;
        }
        m_changed.notify_all();
    }

    bool isStopping() const
    {
        std::lock_guard lock(m_mutex);
        return m_stopping;
    }

private:
    void waitUntilStopping(std::chrono::seconds limit)
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, limit, [this] { return m_stopping; });
    }

    // A throw-away P-256 key and a certificate for 127.0.0.1 signed by itself.
    static std::pair<X509*, EVP_PKEY*> makeSelfSignedCertificate()
    {
        EVP_PKEY* key = EVP_EC_gen("P-256");
        X509* certificate = X509_new();
        if (!key || !certificate)
            throw std::runtime_error("could not make a test certificate");
        X509_set_version(certificate, 2);
        ASN1_INTEGER_set(
            X509_get_serialNumber(certificate), static_cast<long>(std::random_device {}() & 0x7fffffff));
        X509_gmtime_adj(X509_getm_notBefore(certificate), -60);
        X509_gmtime_adj(X509_getm_notAfter(certificate), 24 * 60 * 60);
        X509_set_pubkey(certificate, key);
        X509_NAME* name = X509_get_subject_name(certificate);
        X509_NAME_add_entry_by_txt(
            name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
        X509_set_issuer_name(certificate, name);
        X509V3_CTX context;
        X509V3_set_ctx_nodb(&context);
        X509V3_set_ctx(&context, certificate, certificate, nullptr, nullptr, 0);
        if (X509_EXTENSION* extension
            = X509V3_EXT_conf_nid(nullptr, &context, NID_subject_alt_name, "IP:127.0.0.1")) {
            X509_add_ext(certificate, extension, -1);
            X509_EXTENSION_free(extension);
        }
        if (X509_sign(certificate, key, EVP_sha256()) <= 0)
            throw std::runtime_error("could not sign the test certificate");
        return { certificate, key };
    }

    Scheme m_scheme;
    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
    int m_port = 0;

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::map<std::string, int> m_counts;
    int m_total = 0;
    bool m_stopping = false;
    bool m_gateOpen = false;

public:
    // Requests under a path prefix, held until released, with the number answering at once and the
    // most that ever did.
    struct CountingGate {
        std::mutex mutex;
        std::condition_variable changed;
        int inFlight = 0;
        int maxInFlight = 0;
        int permits = 0;
        bool open = false;

        // Lets `count` held requests (or later ones) answer.
        void release(int count = 1)
        {
            {
                std::lock_guard lock(mutex);
                permits += count;
            }
            changed.notify_all();
        }
        void openAll()
        {
            {
                std::lock_guard lock(mutex);
                open = true;
            }
            changed.notify_all();
        }
        int current()
        {
            std::lock_guard lock(mutex);
            return inFlight;
        }
        int most()
        {
            std::lock_guard lock(mutex);
            return maxInFlight;
        }
    };

    // Every path starting with `prefix` answers `body` once the gate lets it through.
    std::shared_ptr<CountingGate> addCountingGate(const std::string& prefix, std::string body)
    {
        auto gate = std::make_shared<CountingGate>();
        m_server->Get(
            prefix + "(.*)", [this, gate, body](const httplib::Request&, httplib::Response& response) {
                std::unique_lock lock(gate->mutex);
                gate->inFlight += 1;
                gate->maxInFlight = std::max(gate->maxInFlight, gate->inFlight);
                // Short slices, so a stopping server is noticed (stop does not know this gate).
                const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
                while (!(gate->open || gate->permits > 0 || isStopping())
                    && std::chrono::steady_clock::now() < deadline)
                    gate->changed.wait_for(lock, std::chrono::milliseconds(20));
                if (gate->permits > 0)
                    gate->permits -= 1;
                gate->inFlight -= 1;
                response.set_content(body, "application/octet-stream");
            });
        return gate;
    }

    // Every path starting with `prefix` answers `body` after `delay`.
    void addDelayed(const std::string& prefix, std::string body, std::chrono::milliseconds delay)
    {
        m_server->Get(
            prefix + "(.*)", [this, body, delay](const httplib::Request&, httplib::Response& response) {
                std::unique_lock lock(m_mutex);
                m_changed.wait_for(lock, delay, [this] { return m_stopping; });
                response.set_content(body, "application/octet-stream");
            });
    }

    // Sends `body` in pieces of `chunkBytes`; before each piece after the first it waits until
    // `permits` allows it (each `releaseChunks(n)` lets n more pieces through), so a client sees the
    // body arrive in steps it controls.
    struct ChunkGate {
        std::mutex mutex;
        std::condition_variable changed;
        std::size_t permits = 0;
        std::size_t sent = 0;
        void releaseChunks(std::size_t count)
        {
            {
                std::lock_guard lock(mutex);
                permits += count;
            }
            changed.notify_all();
        }
        std::size_t chunksSent()
        {
            std::lock_guard lock(mutex);
            return sent;
        }
    };
    std::shared_ptr<ChunkGate> addSteppedChunks(const std::string& path, std::string body, size_t chunkBytes)
    {
        auto gate = std::make_shared<ChunkGate>();
        m_server->Get(
            path, [this, gate, body, chunkBytes](const httplib::Request&, httplib::Response& response) {
                response.set_chunked_content_provider(
                    "image/jpeg", [this, gate, body, chunkBytes](size_t offset, httplib::DataSink& sink) {
                        if (offset >= body.size()) {
                            sink.done();
                            return true;
                        }
                        {
                            std::unique_lock lock(gate->mutex);
                            if (offset > 0) {
                                const auto deadline
                                    = std::chrono::steady_clock::now() + std::chrono::seconds(30);
                                while (!(gate->permits > 0 || isStopping())
                                    && std::chrono::steady_clock::now() < deadline)
                                    gate->changed.wait_for(lock, std::chrono::milliseconds(20));
                                if (gate->permits > 0)
                                    gate->permits -= 1;
                            }
                            gate->sent += 1;
                        }
                        return sink.write(body.data() + offset, std::min(chunkBytes, body.size() - offset));
                    });
            });
        return gate;
    }
};

} // namespace testsupport
