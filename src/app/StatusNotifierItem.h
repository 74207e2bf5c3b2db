#pragma once

#include <QIcon>
#include <QObject>
#include <QPoint>
#include <QString>

class QMenu;

namespace quaystone {

class DBusMenuExporter;

// The tray icon as a StatusNotifierItem of our own, on the session bus. Qt's tray icon drops the
// position a host sends with Activate and ContextMenu, and that position is the only place a
// Wayland session tells where the icon is. The menu goes out as com.canonical.dbusmenu, which
// the host draws itself.
class StatusNotifierItem : public QObject {
    Q_OBJECT

public:
    StatusNotifierItem(const QIcon &icon, const QString &toolTip, QMenu &menu, QObject *parent = nullptr);
    ~StatusNotifierItem() override;

    // Exports the item and asks the watcher to show it; false when the bus refuses.
    bool registerWithWatcher();

Q_SIGNALS:
    // The host's click, at the point it names (global coordinates; a host that knows none sends 0,0).
    void activated(QPoint at);
    // A host that shows no exported menu asks the app to pop its own up.
    void contextMenuRequested(QPoint at);

private:
    friend class StatusNotifierItemAdaptor;

    QIcon m_icon;
    QString m_toolTip;
    DBusMenuExporter *m_menuExporter;
};

} // namespace quaystone
