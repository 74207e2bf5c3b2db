#include "SystemdBus.h"

#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <qcoro/qcorodbuspendingcall.h>

namespace quaystone::systemdbus {

QDBusConnection connectionFor(ServiceScope scope) {
    return scope == ServiceScope::user ? QDBusConnection::sessionBus() : QDBusConnection::systemBus();
}

QDBusMessage managerCall(const QString &method) {
    return QDBusMessage::createMethodCall(service, managerPath, managerInterface, method);
}

QCoro::Task<QDBusMessage> call(QDBusConnection connection, QDBusMessage message, int timeoutMs) {
    if (!connection.isConnected())
        co_return message.createErrorReply(QDBusError::Disconnected, connection.lastError().message());
    QDBusPendingCall pending = connection.asyncCall(message, timeoutMs);
    co_await pending;
    co_return pending.reply();
}

QCoro::Task<QVariant> unitProperty(QDBusConnection connection, QString unit, QString interface, QString property) {
    QDBusMessage getUnit = managerCall(QStringLiteral("GetUnit"));
    getUnit << unit;
    const QDBusMessage path = co_await call(connection, getUnit);
    if (path.type() != QDBusMessage::ReplyMessage || path.arguments().isEmpty())
        co_return QVariant();
    QDBusMessage get =
        QDBusMessage::createMethodCall(service, path.arguments().constFirst().value<QDBusObjectPath>().path(),
                                       QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << interface << property;
    const QDBusMessage value = co_await call(connection, get);
    if (value.type() != QDBusMessage::ReplyMessage || value.arguments().isEmpty())
        co_return QVariant();
    co_return value.arguments().constFirst().value<QDBusVariant>().variant();
}

QCoro::Task<QStringList> unitNames(QDBusConnection connection, QString unit, QString property) {
    const QVariant value =
        co_await unitProperty(connection, unit, QStringLiteral("org.freedesktop.systemd1.Unit"), property);
    co_return value.toStringList();
}

} // namespace quaystone::systemdbus
