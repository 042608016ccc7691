#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace bench {

// A small HTTP/1.1 server on 127.0.0.1, one thread per connection, keep-alive. Each answer waits
// `delay` first; with `chunkBytes` set the body goes out in chunks of that size, `pause` apart.
class BenchServer {
public:
    BenchServer(QByteArray body, std::chrono::milliseconds delay = {}, std::size_t chunkBytes = 0,
        std::chrono::milliseconds pause = {})
        : m_body(std::move(body))
        , m_delay(delay)
        , m_chunkBytes(chunkBytes)
        , m_pause(pause)
    {
        m_listener = socket(AF_INET, SOCK_STREAM, 0);
        int yes = 1;
        setsockopt(m_listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
            || listen(m_listener, 128) != 0) {
            std::perror("bench server");
            std::exit(1);
        }
        socklen_t length = sizeof address;
        getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
        m_acceptor = std::thread([this] { acceptLoop(); });
    }

    ~BenchServer()
    {
        shutdown(m_listener, SHUT_RDWR);
        close(m_listener);
        m_acceptor.join();
        std::lock_guard lock(m_mutex);
        for (int connection : m_connections)
            shutdown(connection, SHUT_RDWR);
        for (std::thread& thread : m_threads)
            thread.join();
    }

    QUrl url(const QString& path) const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(path));
    }
    int port() const { return m_port; }
    int requests() const { return m_requests.load(); }

private:
    void acceptLoop()
    {
        for (;;) {
            int connection = accept(m_listener, nullptr, nullptr);
            if (connection < 0)
                return;
            // Header and body go out in separate sends; without this, Nagle's algorithm holds the
            // body back until the client's delayed acknowledgement, about 40 ms later.
            int yes = 1;
            setsockopt(connection, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
            std::lock_guard lock(m_mutex);
            m_connections.push_back(connection);
            m_threads.emplace_back([this, connection] { serve(connection); });
        }
    }

    void serve(int connection)
    {
        const std::string header = "HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\nContent-Length: "
            + std::to_string(m_body.size()) + "\r\n\r\n";
        std::string pending;
        char buffer[8192];
        for (;;) {
            const ssize_t received = read(connection, buffer, sizeof buffer);
            if (received <= 0)
                break;
            pending.append(buffer, static_cast<size_t>(received));
            size_t end;
            while ((end = pending.find("\r\n\r\n")) != std::string::npos) {
                pending.erase(0, end + 4);
                m_requests += 1;
                std::this_thread::sleep_for(m_delay);
                if (!writeAll(connection, header.data(), header.size()) || !writeBody(connection))
                    goto done;
            }
        }
    done:
        close(connection);
    }

    bool writeBody(int connection)
    {
        if (m_chunkBytes == 0)
            return writeAll(connection, m_body.constData(), std::size_t(m_body.size()));
        for (qsizetype offset = 0; offset < m_body.size(); offset += qsizetype(m_chunkBytes)) {
            const std::size_t size = std::min<std::size_t>(m_chunkBytes, std::size_t(m_body.size() - offset));
            if (!writeAll(connection, m_body.constData() + offset, size))
                return false;
            std::this_thread::sleep_for(m_pause);
        }
        return true;
    }

    static bool writeAll(int connection, const char* data, size_t size)
    {
        while (size > 0) {
            const ssize_t sent = send(connection, data, size, MSG_NOSIGNAL);
            if (sent <= 0)
                return false;
            data += sent;
            size -= static_cast<size_t>(sent);
        }
        return true;
    }

    const QByteArray m_body;
    const std::chrono::milliseconds m_delay;
    const std::size_t m_chunkBytes;
    const std::chrono::milliseconds m_pause;
    int m_listener = -1;
    int m_port = 0;
    std::atomic<int> m_requests { 0 };
    std::thread m_acceptor;
    std::mutex m_mutex;
    std::vector<int> m_connections;
    std::vector<std::thread> m_threads;
};

} // namespace bench
