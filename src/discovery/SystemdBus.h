#pragma once

#include "model/ServiceUnit.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QString>
#include <QStringList>
#include <qcoro/qcorotask.h>

namespace quaystone::systemdbus {

inline const QString service = QStringLiteral("org.freedesktop.systemd1");
inline const QString managerPath = QStringLiteral("/org/freedesktop/systemd1");
inline const QString managerInterface = QStringLiteral("org.freedesktop.systemd1.Manager");

// The bus of the manager that runs units of this scope: the system bus, or the session bus,
// where the user's own manager answers.
QDBusConnection connectionFor(ServiceScope scope);

QDBusMessage managerCall(const QString &method);

// The manager answers in milliseconds; a bus that does not answer in this time is not served.
inline constexpr int callTimeoutMs = 5000;

// The reply to a call, awaited without blocking the event loop; an error reply on failure.
QCoro::Task<QDBusMessage> call(QDBusConnection connection, QDBusMessage message, int timeoutMs = callTimeoutMs);

// A property of a loaded unit, read through its object path; invalid when it cannot be read.
QCoro::Task<QVariant> unitProperty(QDBusConnection connection, QString unit, QString interface, QString property);

// A string-list property (Triggers, TriggeredBy): empty when it cannot be read.
QCoro::Task<QStringList> unitNames(QDBusConnection connection, QString unit, QString property);

} // namespace quaystone::systemdbus
