#include "DockerContainerStopper.h"

#include "discovery/DockerEngineHttp.h"
#include "model/DisplayText.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>

namespace quaystone {

namespace {

QString tr(const char *text) {
    return QCoreApplication::translate("DockerContainerStopper", text);
}

QString unreachableReason(ContainerEngineError error, const QString &socket) {
    switch (error) {
    case ContainerEngineError::permissionDenied:
        return tr("permission denied on %1").arg(socket);
    case ContainerEngineError::timedOut:
        return tr("the engine did not answer in time");
    case ContainerEngineError::badAnswer:
        return tr("the engine's answer could not be read");
    case ContainerEngineError::unavailable:
        break;
    }
    return tr("the engine at %1 cannot be reached").arg(socket);
}

// The engine explains a refusal in a JSON body {"message": ...}; keep one short line of it.
QString engineMessage(const DockerEngineHttp::Answer &answer) {
    QString message = QJsonDocument::fromJson(answer.body).object().value(QStringLiteral("message")).toString();
    message = displayText(message.simplified());
    constexpr qsizetype longest = 200;
    if (message.size() > longest)
        message = message.left(longest) + QChar(0x2026);
    if (message.isEmpty())
        message = tr("the engine answered HTTP %1").arg(answer.status);
    return message;
}

} // namespace

bool DockerContainerStopper::isPlainContainerID(const QString &id) {
    if (id.isEmpty() || id.size() > 128)
        return false;
    for (const QChar c : id) {
        const bool plain = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
                           c == u'_' || c == u'-' || c == u'.';
        if (!plain)
            return false;
    }
    return id != QLatin1String(".") && id != QLatin1String("..");
}

QCoro::Task<ContainerStopResult> DockerContainerStopper::stop(ContainerInfo container) {
    // The id came from the engine, yet it goes into a request path: nothing that could change
    // the path is let through.
    if (!isPlainContainerID(container.id))
        co_return ContainerStopResult{ContainerStopOutcome::refused, tr("the container's id is not valid")};

    const QByteArray path = "/containers/" + container.id.toLatin1() + "/stop?t=2";
    const DockerEngineHttp::Answer answer =
        co_await DockerEngineHttp::exchangeOffThread(container.engineSocket, "POST", path, stopDeadline);
    if (!answer.received)
        co_return ContainerStopResult{ContainerStopOutcome::refused,
                                      unreachableReason(answer.error, container.engineSocket)};
    switch (answer.status) {
    case 204:
        co_return ContainerStopResult{ContainerStopOutcome::stopped, {}};
    case 304: // already stopped
    case 404: // no such container: removed since it was listed
        co_return ContainerStopResult{ContainerStopOutcome::notRunning, {}};
    default:
        co_return ContainerStopResult{ContainerStopOutcome::refused, engineMessage(answer)};
    }
}

} // namespace quaystone
