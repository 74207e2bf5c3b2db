#include "ContainerInfo.h"

#include "DisplayText.h"

#include <QJsonObject>

namespace quaystone {

QJsonObject containerJson(const ContainerInfo &container) {
    // Raw, as the engine gave them, and valid: nothing unpaired that a strict parser would refuse.
    return QJsonObject{{QStringLiteral("id"), wellFormed(container.id)},
                       {QStringLiteral("name"), wellFormed(container.name)},
                       {QStringLiteral("image"), wellFormed(container.image)}};
}

bool isContainerProxyName(const QString &processName) {
    // lsof prints at most 9 characters of a name; the kernel keeps 15, enough for both.
    constexpr qsizetype lsofNameLength = 9;
    for (const QLatin1String proxy :
         {QLatin1String("docker-proxy"), QLatin1String("rootlessport"), QLatin1String("rootlesskit")}) {
        if (processName == proxy)
            return true;
        if (processName.size() == lsofNameLength && proxy.startsWith(processName))
            return true;
    }
    return false;
}

bool isContainerEngineUnit(const QString &unit) {
    for (const QLatin1String engine :
         {QLatin1String("docker.service"), QLatin1String("containerd.service"), QLatin1String("podman.service")}) {
        if (unit == engine)
            return true;
    }
    return false;
}

} // namespace quaystone
