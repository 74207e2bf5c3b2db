#include "ServiceUnit.h"

#include <QCoreApplication>
#include <QJsonObject>

#include <unistd.h>

namespace quaystone {

QJsonObject serviceJson(const ServiceUnit &unit) {
    return QJsonObject{{QStringLiteral("unit"), unit.name},
                       {QStringLiteral("scope"),
                        unit.scope == ServiceScope::user ? QStringLiteral("user") : QStringLiteral("system")}};
}

bool isStoppableHere(const ServiceUnit &unit) {
    return unit.scope == ServiceScope::system || unit.userUid == quint32(::geteuid());
}

QString serviceScopeText(ServiceScope scope) {
    return scope == ServiceScope::user ? QCoreApplication::translate("ServiceUnit", "user service")
                                       : QCoreApplication::translate("ServiceUnit", "system service");
}

} // namespace quaystone
