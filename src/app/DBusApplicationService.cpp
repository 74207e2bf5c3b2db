#include "app/DBusApplicationService.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>

#include <cstdio>

namespace quaystone {

namespace {

const QString serviceName = QStringLiteral(QUAYSTONE_APP_ID);
const QString objectPath = QStringLiteral("/io/github/quaystone/Quaystone");
const QString applicationInterface = QStringLiteral("org.freedesktop.Application");
// Longer than a busy instance takes to answer, short enough that a hung one is not waited on.
constexpr int answerTimeoutMs = 5000;

// Where a Wayland compositor lets the window take the focus only with the token the launcher
// handed over, Qt reads it from the environment when the window asks for activation.
void adoptActivationToken(const QVariantMap &platformData) {
    const QString token = platformData.value(QStringLiteral("activation-token")).toString();
    if (!token.isEmpty())
        qputenv("XDG_ACTIVATION_TOKEN", token.toUtf8());
}

} // namespace

DBusApplicationService::DBusApplicationService(QObject *parent)
    : QObject(parent) {}

DBusApplicationService::~DBusApplicationService() = default;

DBusApplicationService::Claim DBusApplicationService::claim() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface())
        return Claim::noSessionBus;
    if (!bus.registerObject(objectPath, this, QDBusConnection::ExportAllSlots)) {
        std::fprintf(stderr, "quaystone: %s is taken on the session bus; running alone\n", qUtf8Printable(objectPath));
        return Claim::noSessionBus;
    }
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply = bus.interface()->registerService(
        serviceName, QDBusConnectionInterface::DontQueueService, QDBusConnectionInterface::DontAllowReplacement);
    if (reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered)
        return Claim::owned;
    bus.unregisterObject(objectPath);
    if (reply.isValid())
        return Claim::takenByRunningInstance;
    std::fprintf(stderr, "quaystone: the session bus refused the name %s (%s); running alone\n",
                 qUtf8Printable(serviceName), qUtf8Printable(reply.error().message()));
    return Claim::noSessionBus;
}

bool DBusApplicationService::askRunningInstance(Request request) {
    // The launcher's startup token goes on to the instance that shows the window.
    QVariantMap platformData;
    if (const QByteArray token = qgetenv("XDG_ACTIVATION_TOKEN"); !token.isEmpty())
        platformData.insert(QStringLiteral("activation-token"), QString::fromUtf8(token));
    if (const QByteArray id = qgetenv("DESKTOP_STARTUP_ID"); !id.isEmpty())
        platformData.insert(QStringLiteral("desktop-startup-id"), QString::fromUtf8(id));
    QDBusMessage call;
    if (request == Request::toggle) {
        call = QDBusMessage::createMethodCall(serviceName, objectPath, applicationInterface,
                                              QStringLiteral("ActivateAction"));
        call << QStringLiteral("toggle") << QVariantList() << platformData;
    } else {
        call =
            QDBusMessage::createMethodCall(serviceName, objectPath, applicationInterface, QStringLiteral("Activate"));
        call << platformData;
    }
    const QDBusMessage answer = QDBusConnection::sessionBus().call(call, QDBus::Block, answerTimeoutMs);
    if (answer.type() == QDBusMessage::ErrorMessage) {
        std::fprintf(stderr, "quaystone: the running instance did not answer: %s\n",
                     qUtf8Printable(answer.errorMessage()));
        return false;
    }
    return true;
}

void DBusApplicationService::Activate(const QVariantMap &platformData) {
    adoptActivationToken(platformData);
    Q_EMIT activateRequested();
}

void DBusApplicationService::Open(const QStringList &, const QVariantMap &platformData) {
    // Nothing is opened by name; being asked to is a request to show the ports.
    Activate(platformData);
}

void DBusApplicationService::ActivateAction(const QString &name, const QVariantList &,
                                            const QVariantMap &platformData) {
    adoptActivationToken(platformData);
    if (name == QLatin1String("toggle"))
        Q_EMIT toggleRequested();
    else if (name == QLatin1String("show-ports"))
        Q_EMIT activateRequested();
    else
        sendErrorReply(QDBusError::InvalidArgs, QStringLiteral("no action named '%1'").arg(name));
}

} // namespace quaystone
