#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

namespace quaystone::test {

// A Unix socket that accepts every connection and either never answers (an engine that hangs)
// or reads a request and writes one canned answer. Served by a thread of its own, so that the
// client under test runs as it would against a real engine.
class UnixSocketServer {
public:
    // An empty answer means: accept and stay silent.
    explicit UnixSocketServer(QByteArray answer = {})
        : m_answer(std::move(answer)) {
        m_path = m_dir.filePath(QStringLiteral("engine.sock"));
        m_listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray path = m_path.toLocal8Bit();
        std::strncpy(address.sun_path, path.constData(), sizeof(address.sun_path) - 1);
        m_ok = ::bind(m_listener, reinterpret_cast<sockaddr *>(&address), sizeof(address)) == 0 &&
               ::listen(m_listener, 16) == 0;
        m_thread = std::thread([this] { serve(); });
    }

    ~UnixSocketServer() {
        m_stopping = true;
        ::shutdown(m_listener, SHUT_RDWR);
        m_thread.join();
        ::close(m_listener);
        for (const int fd : m_accepted)
            ::close(fd);
    }

    bool ok() const { return m_ok; }
    const QString &path() const { return m_path; }
    // The requests read, each up to the end of its head.
    QByteArray requests() const {
        std::lock_guard lock(m_mutex);
        return m_requests;
    }

private:
    void serve() {
        while (!m_stopping) {
            const int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                return;
            m_accepted.push_back(fd);
            if (m_answer.isEmpty())
                continue;
            QByteArray request;
            char buffer[4096];
            while (!request.contains("\r\n\r\n")) {
                const ssize_t n = ::read(fd, buffer, sizeof(buffer));
                if (n <= 0)
                    break;
                request.append(buffer, n);
            }
            {
                std::lock_guard lock(m_mutex);
                m_requests += request;
            }
            [[maybe_unused]] const ssize_t written = ::write(fd, m_answer.constData(), size_t(m_answer.size()));
            ::shutdown(fd, SHUT_WR);
        }
    }

    QTemporaryDir m_dir;
    QString m_path;
    QByteArray m_answer;
    mutable std::mutex m_mutex;
    QByteArray m_requests;
    int m_listener = -1;
    bool m_ok = false;
    std::atomic<bool> m_stopping = false;
    std::vector<int> m_accepted;
    std::thread m_thread;
};

// An HTTP answer with a body, as the engine writes one.
inline QByteArray httpAnswer(int status, const QByteArray &reason, const QByteArray &body) {
    return "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason +
           "\r\nContent-Type: application/json\r\nContent-Length: " + QByteArray::number(body.size()) +
           "\r\nConnection: close\r\n\r\n" + body;
}

} // namespace quaystone::test
