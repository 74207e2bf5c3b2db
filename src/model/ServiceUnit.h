#pragma once

#include <QString>
#include <QtGlobal>

class QJsonObject;

namespace quaystone {

// Which systemd manager runs a unit: the system's (pid 1) or a user's own.
enum class ServiceScope { system, user };

// The systemd unit a listener belongs to, as its manager names it.
struct ServiceUnit {
    QString name; // "redis-server.service", or "echo.socket" for a port the manager itself holds
    ServiceScope scope = ServiceScope::system;
    // For a user unit: whose manager runs it. Only one's own manager can be asked to stop it.
    quint32 userUid = 0;

    friend bool operator==(const ServiceUnit &, const ServiceUnit &) = default;
};

// {"unit", "scope"}: how the terminal listing writes a row's unit.
QJsonObject serviceJson(const ServiceUnit &unit);

// Whether this process can have the unit's manager stop it: the system's manager (polkit
// decides), or the user's own. Another user's manager is not on this user's bus.
bool isStoppableHere(const ServiceUnit &unit);

// "system service" or "user service": the words the row and the listing show after the unit.
QString serviceScopeText(ServiceScope scope);

} // namespace quaystone
