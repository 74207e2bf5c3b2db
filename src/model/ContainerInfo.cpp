#include "ContainerInfo.h"

#include <QJsonObject>

namespace quaystone {

QJsonObject containerJson(const ContainerInfo &container) {
    return QJsonObject{{QStringLiteral("id"), container.id},
                       {QStringLiteral("name"), container.name},
                       {QStringLiteral("image"), container.image}};
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

} // namespace quaystone
