#pragma once

#include <QObject>

class QDBusServiceWatcher;

namespace quaystone {

// Follows whether a StatusNotifierItem host is there: the watcher service owns its name on the
// session bus and says that a host has registered with it. Qt looks for one only once, when
// the first tray icon is built, so the icon must wait for this and be rebuilt when a watcher
// comes back (a panel that restarts, or one that starts after the app at login).
class StatusNotifierHostWatcher : public QObject {
    Q_OBJECT

public:
    explicit StatusNotifierHostWatcher(QObject *parent = nullptr);
    ~StatusNotifierHostWatcher() override;

    // False until the first answer from the bus; nothing is known before.
    bool isSettled() const { return m_settled; }
    bool isHostPresent() const { return m_present; }

Q_SIGNALS:
    void settled();
    void hostAppeared();
    void hostVanished();

private Q_SLOTS:
    // Slots by name: QDBusConnection::connect takes no pointer to member.
    void onHostRegistered();

private:
    void onWatcherOwnerChanged(const QString &newOwner);
    void queryHost();
    void setPresent(bool present);
    void settle();

    QDBusServiceWatcher *m_serviceWatcher = nullptr;
    bool m_settled = false;
    bool m_present = false;
    // Only the answer to the latest question counts; an older one may describe a watcher
    // that has gone since.
    quint64 m_query = 0;
};

} // namespace quaystone
