#include "DockerContainerListing.h"

#include "discovery/DockerEngineHttp.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <vector>

namespace quaystone {

namespace {

// None when path is a socket to ask; otherwise why it cannot be.
std::optional<ContainerEngineError> unusable(const QString &path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return errno == EACCES ? ContainerEngineError::permissionDenied : ContainerEngineError::unavailable;
    if (!S_ISSOCK(st.st_mode))
        return ContainerEngineError::unavailable;
    return std::nullopt;
}

std::optional<RunningContainer> parseContainer(const QJsonObject &object, const QString &engineSocket) {
    const QString id = object.value(QStringLiteral("Id")).toString();
    if (id.isEmpty())
        return std::nullopt;
    const QJsonValue state = object.value(QStringLiteral("State"));
    if (state.isString() && state.toString() != QLatin1String("running"))
        return std::nullopt;

    RunningContainer container;
    container.info.id = id;
    QString name = object.value(QStringLiteral("Names")).toArray().at(0).toString();
    if (name.startsWith(QLatin1Char('/')))
        name.remove(0, 1);
    // Names and images are chosen by whoever made the container: kept raw like a process's name,
    // and escaped where they are shown.
    container.info.name = name.isEmpty() ? id.left(12) : name;
    container.info.image = object.value(QStringLiteral("Image")).toString();
    container.info.engineSocket = engineSocket;

    const QJsonArray ports = object.value(QStringLiteral("Ports")).toArray();
    for (const QJsonValue &value : ports) {
        const QJsonObject port = value.toObject();
        if (port.value(QStringLiteral("Type")).toString() != QLatin1String("tcp"))
            continue;
        const QJsonValue published = port.value(QStringLiteral("PublicPort"));
        const qint64 number = published.isDouble() ? qint64(published.toDouble()) : 0;
        if (number < 1 || number > 65535 || double(number) != published.toDouble())
            continue;
        if (!container.publishedTcpPorts.contains(number))
            container.publishedTcpPorts.append(number);
    }
    std::sort(container.publishedTcpPorts.begin(), container.publishedTcpPorts.end());
    return container;
}

} // namespace

DockerContainerListing::DockerContainerListing(QStringList socketPaths)
    : m_socketPaths(std::move(socketPaths)) {}

QStringList DockerContainerListing::defaultSocketPaths() {
    return DockerEngineHttp::defaultSocketPaths();
}

std::optional<QList<RunningContainer>> DockerContainerListing::parseContainers(const QByteArray &body,
                                                                               const QString &engineSocket) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        return std::nullopt;
    QList<RunningContainer> containers;
    const QJsonArray array = document.array();
    for (const QJsonValue &value : array) {
        if (std::optional<RunningContainer> container = parseContainer(value.toObject(), engineSocket))
            containers.append(std::move(*container));
    }
    return containers;
}

QCoro::Task<ContainerListingResult> DockerContainerListing::listContainers() {
    // Every exchange starts before any is awaited, so all of them together take at most one
    // deadline.
    QList<QString> asked;
    std::vector<QCoro::Task<DockerEngineHttp::Answer>> exchanges;
    ContainerEngineError notAsked = ContainerEngineError::unavailable;
    for (const QString &path : std::as_const(m_socketPaths)) {
        if (const std::optional<ContainerEngineError> why = unusable(path)) {
            if (*why == ContainerEngineError::permissionDenied)
                notAsked = *why;
            continue;
        }
        asked.append(path);
        exchanges.push_back(
            DockerEngineHttp::exchangeOffThread(path, "GET", "/containers/json", DockerEngineHttp::listingDeadline));
    }
    if (exchanges.empty())
        co_return ContainerListingResult(notAsked);

    QList<RunningContainer> containers;
    std::optional<ContainerEngineError> firstError;
    bool anyAnswered = false;
    for (size_t i = 0; i < exchanges.size(); ++i) {
        DockerEngineHttp::Answer answer = co_await std::move(exchanges[i]);
        std::optional<QList<RunningContainer>> parsed;
        if (answer.received && answer.status == 200)
            parsed = parseContainers(answer.body, asked[qsizetype(i)]);
        if (parsed) {
            anyAnswered = true;
            containers.append(std::move(*parsed));
        } else if (!firstError) {
            firstError = answer.received ? ContainerEngineError::badAnswer : answer.error;
        }
    }
    if (!anyAnswered)
        co_return ContainerListingResult(*firstError);
    co_return ContainerListingResult(std::move(containers));
}

} // namespace quaystone
