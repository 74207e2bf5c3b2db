#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>

namespace quaystone {

// Follows whether an XEmbed system tray is there: a client owns the _NET_SYSTEM_TRAY_S<screen>
// selection. A tray that takes the selection announces it with a MANAGER client message on the
// root window, and its owner window goes away with it, so no polling is needed. Does nothing
// outside X11.
class XEmbedTrayWatcher : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT

public:
    explicit XEmbedTrayWatcher(QObject *parent = nullptr);
    ~XEmbedTrayWatcher() override;

    bool isTrayPresent() const { return m_owner != 0; }

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;

Q_SIGNALS:
    void trayAppeared();
    void trayVanished();

private:
    // Reads the selection's owner and reports a change. Never called from inside the event
    // filter: what it reports may destroy windows.
    void lookForOwner();
    void lookForOwnerLater();

    void *m_connection = nullptr; // xcb_connection_t, kept out of this header
    quint32 m_root = 0;
    quint32 m_selection = 0;
    quint32 m_managerAtom = 0;
    quint32 m_owner = 0;
    bool m_lookPending = false;
};

} // namespace quaystone
