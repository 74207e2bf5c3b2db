#include "SystemdServiceStopper.h"

#include "discovery/SystemdBus.h"
#include "model/DisplayText.h"

#include <QCoreApplication>
#include <QDBusObjectPath>
#include <QObject>
#include <QSet>
#include <qcoro/qcorosignal.h>

namespace quaystone {

namespace {

constexpr std::chrono::milliseconds authorizationDeadline{120000};

QString tr(const char *text) {
    return QCoreApplication::translate("SystemdServiceStopper", text);
}

bool isRefusal(const QDBusMessage &reply) {
    const QString name = reply.errorName();
    return name == QLatin1String("org.freedesktop.DBus.Error.AccessDenied") ||
           name == QLatin1String("org.freedesktop.DBus.Error.InteractiveAuthorizationRequired") ||
           name == QLatin1String("org.freedesktop.systemd1.AccessDenied");
}

// The manager's reason, kept to one short plain line.
QString reasonOf(const QDBusMessage &reply) {
    QString message = displayText(reply.errorMessage().simplified());
    if (message.size() > 200)
        message = message.left(200) + QChar(0x2026);
    return message.isEmpty() ? reply.errorName() : message;
}

} // namespace

// Collects the manager's JobRemoved signals: a job may end before the reply that names it is read.
class SystemdJobWatcher : public QObject {
    Q_OBJECT

public:
    QHash<QString, QString> removed; // job path to its result
    QSet<QString> awaited;

    bool allRemoved() const {
        for (const QString &job : awaited) {
            if (!removed.contains(job))
                return false;
        }
        return true;
    }

public Q_SLOTS:
    void jobRemoved(uint, const QDBusObjectPath &job, const QString &, const QString &result) {
        removed.insert(job.path(), result);
        if (allRemoved())
            Q_EMIT finished();
    }

Q_SIGNALS:
    void finished();
};

QCoro::Task<ServiceStopResult> SystemdServiceStopper::stop(ServiceUnit unit) {
    QDBusConnection bus = systemdbus::connectionFor(unit.scope);
    const auto failure = [&unit](const QString &reason) {
        return ServiceStopResult{ServiceStopOutcome::failed, unit.name + QStringLiteral(": ") + reason};
    };
    if (!bus.isConnected())
        co_return failure(unit.scope == ServiceScope::user ? tr("the session bus cannot be reached")
                                                           : tr("the system bus cannot be reached"));

    // Sockets first: a socket left listening would start its service again on the next connection.
    QStringList sockets;
    QStringList services;
    (unit.name.endsWith(QLatin1String(".socket")) ? sockets : services).append(unit.name);
    const QStringList related = co_await systemdbus::unitNames(
        bus, unit.name,
        unit.name.endsWith(QLatin1String(".socket")) ? QStringLiteral("Triggers") : QStringLiteral("TriggeredBy"));
    for (const QString &name : related) {
        if (name.endsWith(QLatin1String(".socket")) && !sockets.contains(name))
            sockets.append(name);
        else if (name.endsWith(QLatin1String(".service")) && !services.contains(name))
            services.append(name);
    }

    SystemdJobWatcher watcher;
    // QtDBus connects signals by their signature only, in the string form.
    bus.connect(systemdbus::service, systemdbus::managerPath, systemdbus::managerInterface,
                QStringLiteral("JobRemoved"), &watcher, SLOT(jobRemoved(uint, QDBusObjectPath, QString, QString)));
    // The manager sends its signals only while a client has subscribed.
    co_await systemdbus::call(bus, systemdbus::managerCall(QStringLiteral("Subscribe")));

    std::optional<ServiceStopResult> outcome;
    for (const QString &name : sockets + services) {
        QDBusMessage stopUnit = systemdbus::managerCall(QStringLiteral("StopUnit"));
        stopUnit << name << QStringLiteral("replace");
        stopUnit.setInteractiveAuthorizationAllowed(true);
        // The reply waits while polkit's agent asks for an administrator's password.
        const QDBusMessage reply = co_await systemdbus::call(bus, stopUnit, int(authorizationDeadline.count()));
        if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
            watcher.awaited.insert(reply.arguments().constFirst().value<QDBusObjectPath>().path());
            continue;
        }
        // A related unit that is gone is no reason to fail; the listed one is.
        if (name != unit.name && reply.errorName() == QLatin1String("org.freedesktop.systemd1.NoSuchUnit"))
            continue;
        outcome =
            isRefusal(reply) ? ServiceStopResult{ServiceStopOutcome::notAuthorized, {}} : failure(reasonOf(reply));
        break;
    }
    if (!watcher.allRemoved()) {
        const auto finished = co_await qCoro(&watcher, &SystemdJobWatcher::finished, jobDeadline);
        if (!finished && !watcher.allRemoved() && !outcome)
            outcome = failure(tr("systemd did not finish stopping it within 30 seconds"));
    }
    co_await systemdbus::call(bus, systemdbus::managerCall(QStringLiteral("Unsubscribe")));
    bus.disconnect(systemdbus::service, systemdbus::managerPath, systemdbus::managerInterface,
                   QStringLiteral("JobRemoved"), &watcher, SLOT(jobRemoved(uint, QDBusObjectPath, QString, QString)));
    if (outcome)
        co_return *outcome;
    for (const QString &job : std::as_const(watcher.awaited)) {
        const QString result = watcher.removed.value(job);
        if (result != QLatin1String("done"))
            co_return failure(tr("the stop job ended as \"%1\"").arg(displayText(result)));
    }
    co_return ServiceStopResult{ServiceStopOutcome::stopped, {}};
}

} // namespace quaystone

#include "SystemdServiceStopper.moc"
