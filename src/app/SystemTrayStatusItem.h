#pragma once

#include "app/MenuPresenting.h"

#include <QObject>
#include <QRect>
#include <QTimer>

#include <memory>

class QAction;
class QMenu;
class QSystemTrayIcon;

namespace quaystone {

// The tray icon and its context menu.
class SystemTrayStatusItem : public QObject, public MenuPresenting {
    Q_OBJECT

public:
    explicit SystemTrayStatusItem(QObject *parent = nullptr);
    ~SystemTrayStatusItem() override;

    void install(MenuBarController &controller) override;
    void setLaunchAtLoginChecked(bool checked) override;
    void popUpAtCursor() override;

    // The icon's global geometry; empty when the tray host does not tell.
    QRect iconGeometry() const;
    QMenu &menu() const { return *m_menu; }

private:
    void showWhenTrayAvailable();

    std::unique_ptr<QMenu> m_menu;
    // Declared after the menu, which it refers to, so that it goes first.
    std::unique_ptr<QSystemTrayIcon> m_trayIcon;
    QAction *m_launchAtLoginAction = nullptr;
    QTimer m_trayPoll;
};

} // namespace quaystone
