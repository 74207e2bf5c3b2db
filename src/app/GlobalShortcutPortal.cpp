#include "app/GlobalShortcutPortal.h"

#include "app/DBusStructure.h"
#include "app/TrayLogging.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

#include <utility>

namespace quaystone::portal {

// One entry of BindShortcuts' a(sa{sv}).
struct Shortcut {
    QString id;
    QVariantMap properties;
};

QDBusArgument &operator<<(QDBusArgument &argument, const Shortcut &shortcut) {
    return dbus::writeStructure(argument, shortcut.id, shortcut.properties);
}

const QDBusArgument &operator>>(const QDBusArgument &argument, Shortcut &shortcut) {
    return dbus::readStructure(argument, shortcut.id, shortcut.properties);
}

} // namespace quaystone::portal

namespace quaystone {

namespace {

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString shortcutsInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
const QString requestInterface = QStringLiteral("org.freedesktop.portal.Request");
const QString shortcutID = QStringLiteral("show-ports");

} // namespace

GlobalShortcutPortal::GlobalShortcutPortal(QObject *parent)
    : QObject(parent) {
    qDBusRegisterMetaType<portal::Shortcut>();
    qDBusRegisterMetaType<QList<portal::Shortcut>>();
}

GlobalShortcutPortal::~GlobalShortcutPortal() = default;

void GlobalShortcutPortal::start() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    // A program outside a sandbox names itself to the portal first, so that the desktop shows
    // the shortcut under the app's name. Portals older than this call answer with an error.
    QDBusMessage registration = QDBusMessage::createMethodCall(
        portalService, portalPath, QStringLiteral("org.freedesktop.host.portal.Registry"), QStringLiteral("Register"));
    registration << QStringLiteral(QUAYSTONE_APP_ID) << QVariantMap();
    bus.asyncCall(registration);
    bus.connect(portalService, portalPath, shortcutsInterface, QStringLiteral("Activated"), this,
                SLOT(onActivated(QDBusMessage)));
    request(QStringLiteral("CreateSession"), {}, [this](const QVariantMap &results) {
        // A string as the portal interface documents it; some portals send an object path.
        const QVariant handle = results.value(QStringLiteral("session_handle"));
        m_sessionHandle = handle.metaType() == QMetaType::fromType<QDBusObjectPath>()
                              ? handle.value<QDBusObjectPath>().path()
                              : handle.toString();
        if (m_sessionHandle.isEmpty()) {
            qCDebug(lcTray) << "global shortcuts: the portal gave no session";
            return;
        }
        bindShortcuts();
    });
}

void GlobalShortcutPortal::bindShortcuts() {
    const QList<portal::Shortcut> shortcuts{{shortcutID, {{QStringLiteral("description"), tr("Show ports")}}}};
    request(QStringLiteral("BindShortcuts"),
            {QVariant::fromValue(QDBusObjectPath(m_sessionHandle)), QVariant::fromValue(shortcuts), QString()},
            [](const QVariantMap &) { qCDebug(lcTray) << "global shortcuts: bound"; });
}

void GlobalShortcutPortal::request(const QString &method, QList<QVariant> arguments, ResponseHandler handler) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QString token = QStringLiteral("quaystone%1").arg(++m_token);
    // The Request object's path is known before the call; listening there first means that no
    // Response can come before anyone listens.
    QString sender = bus.baseService().mid(1);
    sender.replace(u'.', u'_');
    if (!m_requestPath.isEmpty())
        bus.disconnect(portalService, m_requestPath, requestInterface, QStringLiteral("Response"), this,
                       SLOT(onResponse(uint, QVariantMap)));
    m_requestPath = portalPath + QStringLiteral("/request/") + sender + u'/' + token;
    m_onResponse = std::move(handler);
    bus.connect(portalService, m_requestPath, requestInterface, QStringLiteral("Response"), this,
                SLOT(onResponse(uint, QVariantMap)));

    QVariantMap options{{QStringLiteral("handle_token"), token}};
    if (method == QLatin1String("CreateSession"))
        options.insert(QStringLiteral("session_handle_token"), token);
    arguments.append(options);
    QDBusMessage call = QDBusMessage::createMethodCall(portalService, portalPath, shortcutsInterface, method);
    call.setArguments(arguments);
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, method](QDBusPendingCallWatcher *finished) {
        finished->deleteLater();
        const QDBusPendingReply<QDBusObjectPath> reply = *finished;
        // No portal, or one without global shortcuts: the other ways in remain.
        if (reply.isError()) {
            qCDebug(lcTray) << "global shortcuts unavailable:" << method << reply.error().message();
            m_onResponse = {};
        }
    });
}

void GlobalShortcutPortal::onResponse(uint response, const QVariantMap &results) {
    ResponseHandler handler = std::exchange(m_onResponse, {});
    // 1: the user cancelled; 2: the portal refused. Either way there is no shortcut this session.
    if (response != 0) {
        qCDebug(lcTray) << "global shortcuts: the portal answered" << response;
        return;
    }
    if (handler)
        handler(results);
}

void GlobalShortcutPortal::onActivated(const QDBusMessage &message) {
    const QList<QVariant> arguments = message.arguments();
    if (arguments.size() < 2 || m_sessionHandle.isEmpty() ||
        arguments[0].value<QDBusObjectPath>().path() != m_sessionHandle || arguments[1].toString() != shortcutID)
        return;
    if (arguments.size() >= 4) {
        const QVariantMap options = qdbus_cast<QVariantMap>(arguments[3]);
        if (const QString token = options.value(QStringLiteral("activation_token")).toString(); !token.isEmpty())
            qputenv("XDG_ACTIVATION_TOKEN", token.toUtf8());
    }
    Q_EMIT activated();
}

} // namespace quaystone
