#pragma once

#include <QObject>

class QMenu;

namespace quaystone {

// Publishes a flat menu's actions as com.canonical.dbusmenu at one object path, so that a
// StatusNotifierItem host draws the menu itself. An item's id is its action's index plus one;
// any change to an action announces a new layout.
class DBusMenuExporter : public QObject {
    Q_OBJECT

public:
    static constexpr const char *objectPath = "/MenuBar";

    explicit DBusMenuExporter(QMenu &menu, QObject *parent = nullptr);
    ~DBusMenuExporter() override;

    bool exportOnSessionBus();

private:
    friend class DBusMenuAdaptor;

    QMenu &m_menu;
    uint m_revision = 1;
    bool m_exported = false;
};

} // namespace quaystone
