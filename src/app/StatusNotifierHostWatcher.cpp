#include "app/StatusNotifierHostWatcher.h"

#include "app/TrayLogging.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>

namespace quaystone {

namespace {

const QString watcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString watcherPath = QStringLiteral("/StatusNotifierWatcher");

} // namespace

StatusNotifierHostWatcher::StatusNotifierHostWatcher(QObject *parent)
    : QObject(parent) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        qCDebug(lcTray) << "no session bus: no StatusNotifierItem host";
        settle();
        return;
    }
    m_serviceWatcher = new QDBusServiceWatcher(watcherService, bus, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(m_serviceWatcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString &, const QString &, const QString &newOwner) { onWatcherOwnerChanged(newOwner); });
    bus.connect(watcherService, watcherPath, watcherService, QStringLiteral("StatusNotifierHostRegistered"), this,
                SLOT(onHostRegistered()));
    queryHost();
}

StatusNotifierHostWatcher::~StatusNotifierHostWatcher() = default;

void StatusNotifierHostWatcher::onWatcherOwnerChanged(const QString &newOwner) {
    qCDebug(lcTray) << "StatusNotifierWatcher owner now" << (newOwner.isEmpty() ? QStringLiteral("none") : newOwner);
    // A watcher that went, or handed its name over, takes its registrations with it.
    setPresent(false);
    if (!newOwner.isEmpty())
        queryHost();
}

void StatusNotifierHostWatcher::onHostRegistered() {
    // The signal can only come from the current owner of the watcher's name.
    ++m_query;
    setPresent(true);
    settle();
}

void StatusNotifierHostWatcher::queryHost() {
    // Read the way Qt reads it when it decides, so that both come to the same answer.
    QDBusMessage get = QDBusMessage::createMethodCall(
        watcherService, watcherPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << watcherService << QStringLiteral("IsStatusNotifierHostRegistered");
    auto *call = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(get), this);
    const quint64 query = ++m_query;
    connect(call, &QDBusPendingCallWatcher::finished, this, [this, query](QDBusPendingCallWatcher *finished) {
        finished->deleteLater();
        if (query != m_query)
            return;
        const QDBusPendingReply<QDBusVariant> reply = *finished;
        // An error (no watcher at all, most often) means no host.
        setPresent(!reply.isError() && reply.value().variant().toBool());
        settle();
    });
}

void StatusNotifierHostWatcher::setPresent(bool present) {
    if (present == m_present)
        return;
    m_present = present;
    qCDebug(lcTray) << "StatusNotifierItem host" << (present ? "present" : "gone");
    if (present)
        Q_EMIT hostAppeared();
    else
        Q_EMIT hostVanished();
}

void StatusNotifierHostWatcher::settle() {
    if (m_settled)
        return;
    m_settled = true;
    Q_EMIT settled();
}

} // namespace quaystone
