#pragma once

#include "model/ContainerListing.h"

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <qcoro/qcorotask.h>

#include <chrono>

namespace quaystone {

// One HTTP exchange with a container engine's API over its Unix socket, through libcurl. The
// exchange blocks, so it runs on a worker thread of its own pool; the awaiting coroutine stays
// on the main thread.
class DockerEngineHttp {
public:
    struct Answer {
        bool received = false;                                          // a complete HTTP answer arrived
        ContainerEngineError error = ContainerEngineError::unavailable; // when not received
        long status = 0;
        QByteArray body;
    };

    // The listing's deadline for a whole exchange, connection included.
    static constexpr std::chrono::milliseconds listingDeadline{2000};
    // Answers larger than this are not container lists worth reading.
    static constexpr qsizetype maximumBodySize = 16 * 1024 * 1024;

    // Blocking; call it off the main thread. method is "GET" or "POST" (with an empty body).
    static Answer exchange(const QString &socketPath, const QByteArray &method, const QByteArray &path,
                           std::chrono::milliseconds deadline);
    // The same on a worker thread, awaited.
    static QCoro::Task<Answer> exchangeOffThread(QString socketPath, QByteArray method, QByteArray path,
                                                 std::chrono::milliseconds deadline);

    // The engine sockets to ask, in order: DOCKER_HOST when it is a unix:// address, else
    // /var/run/docker.sock; then Podman's $XDG_RUNTIME_DIR/podman/podman.sock. Paths, whether or
    // not they exist.
    static QStringList socketPaths(const QProcessEnvironment &environment);
    static QStringList defaultSocketPaths() { return socketPaths(QProcessEnvironment::systemEnvironment()); }
};

} // namespace quaystone
