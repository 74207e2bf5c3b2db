#pragma once

#include <QDBusContext>
#include <QObject>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>

namespace quaystone {

// One instance per session: the running app owns io.github.quaystone.Quaystone on the session
// bus and answers org.freedesktop.Application there, so that a later launch, a launcher that
// activates the desktop entry over D-Bus, and `--toggle` reach it instead of starting another.
class DBusApplicationService : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")

public:
    enum class Claim { owned, takenByRunningInstance, noSessionBus };
    // What a later launch asks of the running instance.
    enum class Request { activate, toggle };

    explicit DBusApplicationService(QObject *parent = nullptr);
    ~DBusApplicationService() override;

    // Exports this object, then asks for the name (the object is there before anyone can find
    // the name). Without a session bus, or with a bus that refuses, the app runs alone.
    Claim claim();
    // Sends the request to the instance that owns the name; false, with the reason on standard
    // error, when it does not answer.
    static bool askRunningInstance(Request request);

public Q_SLOTS:
    // org.freedesktop.Application: each answers at once; the request runs on the event loop.
    void Activate(const QVariantMap &platformData);
    void Open(const QStringList &uris, const QVariantMap &platformData);
    // "toggle" and "show-ports"; any other name is an error to the caller.
    void ActivateAction(const QString &name, const QVariantList &parameter, const QVariantMap &platformData);

Q_SIGNALS:
    void activateRequested();
    void toggleRequested();
};

} // namespace quaystone
