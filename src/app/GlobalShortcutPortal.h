#pragma once

#include <QObject>
#include <QString>
#include <QVariantMap>

#include <functional>

class QDBusMessage;

namespace quaystone {

// A "Show ports" shortcut through the XDG desktop portal's GlobalShortcuts interface, where the
// desktop offers it: the app asks for the shortcut without a key, and the desktop lets the user
// choose one. Where there is no portal or no such interface, nothing happens and nothing is said.
class GlobalShortcutPortal : public QObject {
    Q_OBJECT

public:
    explicit GlobalShortcutPortal(QObject *parent = nullptr);
    ~GlobalShortcutPortal() override;

    // Creates the session and binds the shortcut, all without blocking.
    void start();

Q_SIGNALS:
    // The user pressed the shortcut.
    void activated();

private Q_SLOTS:
    // Slots by name: QDBusConnection::connect takes no pointer to member.
    void onResponse(uint response, const QVariantMap &results);
    void onActivated(const QDBusMessage &message);

private:
    using ResponseHandler = std::function<void(const QVariantMap &results)>;
    // Calls a portal method that answers through a Request object, and hands its results on.
    void request(const QString &method, QList<QVariant> arguments, ResponseHandler handler);
    void bindShortcuts();

    QString m_sessionHandle;
    QString m_requestPath;
    ResponseHandler m_onResponse;
    quint64 m_token = 0;
};

} // namespace quaystone
