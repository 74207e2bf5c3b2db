#include "DockerEngineHttp.h"

#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>
#include <qcoro/qcorofuture.h>

#include <curl/curl.h>

#include <cerrno>
#include <mutex>

namespace quaystone {

namespace {

// The engine's exchanges wait on sockets, not on the processor. A pool of their own keeps a
// hung engine from holding the threads that parse listings, and enough threads that a stop in
// progress never queues a listing behind it past its deadline.
class EnginePool : public QThreadPool {
public:
    EnginePool() { setMaxThreadCount(8); }
};
// Destroyed at exit, after waiting for the exchanges still running: each has a deadline.
Q_GLOBAL_STATIC(EnginePool, enginePool)

void initialiseCurl() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

size_t appendBody(char *data, size_t size, size_t count, void *userData) {
    auto *body = static_cast<QByteArray *>(userData);
    const size_t bytes = size * count;
    if (body->size() + qsizetype(bytes) > DockerEngineHttp::maximumBodySize)
        return 0; // curl then ends the transfer with a write error
    body->append(data, qsizetype(bytes));
    return bytes;
}

ContainerEngineError errorOf(CURLcode code, long osErrno) {
    switch (code) {
    case CURLE_OPERATION_TIMEDOUT:
        return ContainerEngineError::timedOut;
    case CURLE_COULDNT_CONNECT:
        return osErrno == EACCES || osErrno == EPERM ? ContainerEngineError::permissionDenied
                                                     : ContainerEngineError::unavailable;
    case CURLE_WRITE_ERROR:
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_GOT_NOTHING:
        return ContainerEngineError::badAnswer;
    default:
        return ContainerEngineError::unavailable;
    }
}

} // namespace

DockerEngineHttp::Answer DockerEngineHttp::exchange(const QString &socketPath, const QByteArray &method,
                                                    const QByteArray &path, std::chrono::milliseconds deadline) {
    initialiseCurl();
    Answer answer;
    CURL *curl = curl_easy_init();
    if (!curl)
        return answer;
    const QByteArray socket = socketPath.toLocal8Bit();
    const QByteArray url = "http://localhost" + path;
    curl_easy_setopt(curl, CURLOPT_UNIX_SOCKET_PATH, socket.constData());
    curl_easy_setopt(curl, CURLOPT_URL, url.constData());
    // A proxy set in the environment must not reroute a local socket's requests.
    curl_easy_setopt(curl, CURLOPT_PROXY, "");
    // Signals would reach the whole process; the timeouts work without them.
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, long(deadline.count()));
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, long(deadline.count()));
    if (method == "POST") {
        curl_easy_setopt(curl, CURLOPT_POST, 1L);
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, "");
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, 0L);
    }
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, appendBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer.body);

    const CURLcode code = curl_easy_perform(curl);
    if (code == CURLE_OK) {
        answer.received = true;
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &answer.status);
    } else {
        long osErrno = 0;
        curl_easy_getinfo(curl, CURLINFO_OS_ERRNO, &osErrno);
        answer.error = errorOf(code, osErrno);
        answer.body.clear();
    }
    curl_easy_cleanup(curl);
    return answer;
}

QCoro::Task<DockerEngineHttp::Answer> DockerEngineHttp::exchangeOffThread(QString socketPath, QByteArray method,
                                                                          QByteArray path,
                                                                          std::chrono::milliseconds deadline) {
    initialiseCurl(); // once, on the calling thread, before any worker uses curl
    QFuture<Answer> future =
        QtConcurrent::run(static_cast<QThreadPool *>(enginePool()), [socketPath, method, path, deadline] {
            return exchange(socketPath, method, path, deadline);
        });
    Answer answer = co_await future;
    co_return answer;
}

QStringList DockerEngineHttp::socketPaths(const QProcessEnvironment &environment) {
    QStringList paths;
    const QString dockerHost = environment.value(QStringLiteral("DOCKER_HOST"));
    const QString unixScheme = QStringLiteral("unix://");
    if (dockerHost.startsWith(unixScheme) && dockerHost.size() > unixScheme.size())
        paths.append(dockerHost.mid(unixScheme.size()));
    else
        paths.append(QStringLiteral("/var/run/docker.sock"));
    const QString runtimeDirectory = environment.value(QStringLiteral("XDG_RUNTIME_DIR"));
    if (runtimeDirectory.startsWith(QLatin1Char('/'))) {
        const QString podman = runtimeDirectory + QStringLiteral("/podman/podman.sock");
        if (!paths.contains(podman))
            paths.append(podman);
    }
    return paths;
}

} // namespace quaystone
